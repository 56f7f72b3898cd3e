#include "base/FormatSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "base/Errors.h"
#include "base/Moments.h"
#include "tests/support/TestDatabase.h"

using namespace fesko;

namespace {

template <typename Fn>
std::string ConvertError(Fn fn) {
  return test::Catch<EConvertError>(fn).what();
}

// The LC_TIME fields of a glibc locale definition (following its "copy" lines), in UTF-8.
using LocaleTime = std::map<std::string, std::vector<std::string>>;

LocaleTime ReadLocaleTime(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line, joined;
  char comment = '#', escape = '\\';
  LocaleTime fields;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == escape) {
      joined += line.substr(0, line.size() - 1);
      continue;
    }
    std::istringstream words(joined + line);
    joined.clear();
    std::string key, rest;
    words >> key >> std::ws;
    std::getline(words, rest);
    if (key == "comment_char" || key == "escape_char") (key[0] == 'c' ? comment : escape) = rest[0];
    if (key.empty() || key[0] == comment || (!inside && key != "LC_TIME")) continue;
    if (key == "END") break;
    inside = true;
    std::vector<std::string> values;
    for (std::size_t i = rest.find('"'); i != std::string::npos; i = rest.find('"', i + 1)) {
      std::string value;
      for (++i; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest.compare(i, 2, "<U") == 0) {
          unsigned long c = std::stoul(rest.substr(i + 2), nullptr, 16);
          i = rest.find('>', i);
          int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
          value += static_cast<char>(extra ? (0xFF << (7 - extra)) | (c >> (6 * extra)) : c);
          while (extra--) value += static_cast<char>(0x80 | ((c >> (6 * extra)) & 0x3F));
        } else {
          value += rest[i] == escape ? rest[++i] : rest[i];
        }
      }
      values.push_back(value);
    }
    if (key == "copy") fields.merge(ReadLocaleTime(file.parent_path() / values.at(0)));
    fields[key] = values;
  }
  return fields;
}

}  // namespace

TEST(FormatSettings, DefaultsWriteDayMonthFourDigitYearAndTwentyFourHourTime) {
  TFormatSettings s = DefaultFormatSettings();
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(DateToStr({2024, 3, 5}, s), "05/03/2024");
  EXPECT_EQ(TimeToStr({14, 5, 9}, s), "14:05:09");
  EXPECT_EQ(TimeToStr({0, 0, 0}, s), "00:00:00");
  // The markers' own pattern: minutes after an hour, the settings' separator.
  s.TimeSeparator = '.';
  EXPECT_EQ(FormatTime("hh:mm:ss", {9, 7, 3}, s), "09.07.03");
  EXPECT_EQ(FormatTime("h:n:s 'h'", {9, 7, 3}, s), "9.7.3 h");
}

TEST(FormatSettings, LocaleFormatsAreTranslatedOrFallBackToTheDefaults) {
  TFormatSettings german = FormatSettingsFromLangInfo("%d.%m.%Y", "%T", "", "", "");
  EXPECT_EQ(german.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(german.DateSeparator, '.');
  EXPECT_EQ(DateToStr({2024, 3, 5}, german), "05.03.2024");
  EXPECT_EQ(german.DecimalSeparator, '.');

  // Two-digit years are widened; the 12-hour clock comes with its day-half names.
  TFormatSettings us = FormatSettingsFromLangInfo("%m/%d/%y", "%r", "%I:%M:%S %p", "AM", "PM");
  EXPECT_EQ(DateToStr({2024, 3, 5}, us), "03/05/2024");
  EXPECT_EQ(TimeToStr({14, 5, 9}, us), "02:05:09 PM");
  EXPECT_EQ(TimeToStr({0, 30, 0}, us), "12:30:00 AM");

  TFormatSettings iso = FormatSettingsFromLangInfo("%F", "%H:%M:%S", "", "", "");
  EXPECT_EQ(DateToStr({2024, 3, 5}, iso), "2024-03-05");

  // Month names cannot be read back from a marker: the default keeps the markers readable.
  TFormatSettings named = FormatSettingsFromLangInfo("%a %d %b %Y", "%Hh%M", "", "", "");
  EXPECT_EQ(named.ShortDateFormat, DefaultFormatSettings().ShortDateFormat);
  EXPECT_EQ(DateToStr({2024, 3, 5}, named), "05/03/2024");

  EXPECT_EQ(FormatSettingsFromLocale("C").ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(FormatSettingsFromLocale("C.UTF-8").LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(FormatSettingsFromLocale("xx_NOWHERE.bogus").ShortDateFormat, "dd/mm/yyyy");
}

TEST(FormatSettings, DatesAreReadTolerantly) {
  TFormatSettings s = DefaultFormatSettings();
  EXPECT_EQ(StrToDate("05/03/2024", s), (CalendarDate{2024, 3, 5}));
  EXPECT_EQ(StrToDate("  5-3-2024 ", s), (CalendarDate{2024, 3, 5}));
  EXPECT_EQ(StrToDate("5.3.24", s), (CalendarDate{2024, 3, 5}));
  EXPECT_EQ(StrToDate("2024-03-05", s), (CalendarDate{2024, 3, 5}));
  EXPECT_EQ(StrToDate("29/2/2024", s), (CalendarDate{2024, 2, 29}));
  EXPECT_EQ(StrToDate("5/3", s), (CalendarDate{Today().Year, 3, 5}));

  TFormatSettings us = FormatSettingsFromLangInfo("%m/%d/%Y", "%T", "", "", "");
  EXPECT_EQ(StrToDate("03/05/2024", us), (CalendarDate{2024, 3, 5}));
  // Markers older versions wrote under sr_RS, sl_SI, lv_LV and ja_JP.
  for (const char* old : {"05.03.2024.", "05. 03. 2024", "2024.03.05.", "2024年03月05日"}) {
    EXPECT_EQ(StrToDate(old, s), (CalendarDate{2024, 3, 5})) << old;
  }

  EXPECT_EQ(ConvertError([&] { StrToDate("29/2/2023", s); }), "'29/2/2023' is not a valid date");
  for (const char* bad :
       {"", "abc", "05/03/2024x", "05//2024", "1/2/3/4", "05/13/2024", "0/1/2024", "5/3/202"}) {
    EXPECT_THROW(StrToDate(bad, s), EConvertError) << bad;
  }
}

TEST(FormatSettings, TimesAreReadTolerantly) {
  TFormatSettings s = DefaultFormatSettings();
  EXPECT_EQ(StrToTime("14:05:09", s), (TimeOfDay{14, 5, 9}));
  EXPECT_EQ(StrToTime(" 14:05 ", s), (TimeOfDay{14, 5, 0}));
  EXPECT_EQ(StrToTime("14.05.09", s), (TimeOfDay{14, 5, 9}));
  EXPECT_EQ(StrToTime("14:05:09.750", s), (TimeOfDay{14, 5, 9}));
  EXPECT_EQ(StrToTime("2:05:09 PM", s), (TimeOfDay{14, 5, 9}));
  EXPECT_EQ(StrToTime("12:00:00 am", s), (TimeOfDay{0, 0, 0}));
  EXPECT_EQ(StrToTime("14\34605\34609", s), (TimeOfDay{14, 5, 9}));  // older ja_JP markers
  EXPECT_EQ(ConvertError([&] { StrToTime("25:00", s); }), "'25:00' is not a valid time");
  for (const char* bad : {"", "14", "14:60", "13:00 PM", "14:05:09:01", "x"}) {
    EXPECT_THROW(StrToTime(bad, s), EConvertError) << bad;
  }

  DateAndTime both = StrToDateTime("05/03/2024 14:05:09", s);
  EXPECT_EQ(both.Date, (CalendarDate{2024, 3, 5}));
  EXPECT_EQ(both.Time, (TimeOfDay{14, 5, 9}));
  EXPECT_EQ(StrToDateTime("05/03/2024", s).Time, (TimeOfDay{}));
  EXPECT_EQ(StrToDateTime("14:05", s).Date, (CalendarDate{1899, 12, 30}));
  EXPECT_THROW(StrToDateTime("05/03/2024 xx", s), EConvertError);
}

TEST(FormatSettings, WhatIsWrittenReadsBackUnderEveryLocaleDefinition) {
  // Every definition glibc ships, installed or not: markers written under any of them are
  // plain text that reads back as the same moment.
  const std::filesystem::path folder = "/usr/share/i18n/locales";
  ASSERT_TRUE(std::filesystem::is_directory(folder)) << "scripts/install-deps installs locales";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    LocaleTime time = ReadLocaleTime(entry.path());
    if (time["d_fmt"].empty()) continue;
    auto field = [&](const char* key, std::size_t i = 0) {
      return time[key].size() > i ? time[key][i] : std::string();
    };
    TFormatSettings s = FormatSettingsFromLangInfo(
        field("d_fmt"), field("t_fmt"), field("t_fmt_ampm"), field("am_pm"), field("am_pm", 1));
    std::string name = entry.path().filename();
    auto check = [&](const std::string& text, auto read, auto expected) {
      EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c > 0 && c < 127; }))
          << name << " " << text;
      try {
        EXPECT_EQ(read(text), expected) << name << " " << text;
      } catch (const EConvertError& e) {
        ADD_FAILURE() << name << " " << e.what();
      }
    };
    for (CalendarDate d : {CalendarDate{2024, 12, 31}, CalendarDate{2031, 3, 5}}) {
      check(
          DateToStr(d, s), [&](const std::string& text) { return StrToDate(text, s); }, d);
    }
    for (TimeOfDay t : {TimeOfDay{0, 0, 0}, TimeOfDay{12, 0, 1}, TimeOfDay{23, 59, 58}}) {
      auto read = [&](const std::string& text) { return StrToTime(text, s); };
      check(TimeToStr(t, s), read, t);
      check(FormatTime("hh:mm:ss", t, s), read, t);
    }
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(FormatSettings, IntegersAreDecimalWithBlanksAroundThem) {
  EXPECT_EQ(StrToInt("12"), 12);
  EXPECT_EQ(StrToInt(" -5 "), -5);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(ConvertError([] { StrToInt("x"); }), "'x' is not a valid integer value");
  EXPECT_EQ(ConvertError([] { StrToInt(""); }), "'' is not a valid integer value");
  for (const char* bad : {"12abc", "2147483648", "1 2", "+-3", "1.0"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
}

TEST(Moments, TheLookBackCrossesMidnightMonthEndsAndYearsAndOrdersMoments) {
  DateAndTime back = SecondsBefore({{2024, 3, 1}, {0, 5, 0}}, 600);
  EXPECT_EQ(back.Date, (CalendarDate{2024, 2, 29}));
  EXPECT_EQ(back.Time, (TimeOfDay{23, 55, 0}));
  EXPECT_EQ(SecondsBefore({{2025, 1, 1}, {0, 0, 0}}, 1).Date, (CalendarDate{2024, 12, 31}));
  EXPECT_EQ(SecondsBefore({{2025, 1, 1}, {12, 0, 0}}, 600).Time, (TimeOfDay{11, 50, 0}));
  EXPECT_TRUE(Earlier(back, {{2024, 3, 1}, {0, 0, 0}}));
  EXPECT_FALSE(Earlier({{2024, 3, 1}, {0, 0, 0}}, back));
  EXPECT_FALSE(Earlier(back, back));
}
