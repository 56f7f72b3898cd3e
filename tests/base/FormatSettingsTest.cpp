#include "base/FormatSettings.h"

#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/Moments.h"

using namespace fesko;

namespace {

template <typename Fn>
std::string ConvertError(Fn fn) {
  try {
    fn();
  } catch (const EConvertError& e) {
    return e.what();
  }
  ADD_FAILURE() << "expected a conversion error";
  return {};
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

TEST(FormatSettings, WhatIsWrittenReadsBackUnderEverySetting) {
  for (TFormatSettings s : {DefaultFormatSettings(),
                            FormatSettingsFromLangInfo("%m/%d/%y", "%r", "%I:%M:%S %p", "AM", "PM"),
                            FormatSettingsFromLangInfo("%Y-%m-%d", "%H.%M.%S", "", "", ""),
                            FormatSettingsFromLangInfo("%e.%m.%Y", "%T", "", "", "")}) {
    for (CalendarDate d : {CalendarDate{2024, 12, 31}, CalendarDate{1999, 1, 2}}) {
      EXPECT_EQ(StrToDate(DateToStr(d, s), s), d) << s.ShortDateFormat;
    }
    for (TimeOfDay t : {TimeOfDay{0, 0, 0}, TimeOfDay{12, 0, 1}, TimeOfDay{23, 59, 59}}) {
      EXPECT_EQ(StrToTime(TimeToStr(t, s), s), t) << s.LongTimeFormat;
      EXPECT_EQ(StrToTime(FormatTime("hh:mm:ss", t, s), s), t) << s.LongTimeFormat;
    }
  }
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
