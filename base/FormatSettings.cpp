#include "base/FormatSettings.h"

#include <cctype>
#include <charconv>
#include <ctime>
#include <optional>
#include <vector>

#include "base/Errors.h"
#include "base/TextHelpers.h"

namespace fesko {
namespace {

constexpr std::u16string_view kInvalidInteger = u"'%s' is not a valid integer value";
constexpr std::u16string_view kInvalidDate = u"'%s' is not a valid date";
constexpr std::u16string_view kInvalidTime = u"'%s' is not a valid time";

// Pieces of our time patterns, and the day-half names of the defaults.
constexpr std::string_view kHours = "hh";
constexpr std::string_view kDayHalf = "ampm";
constexpr std::string_view kDayHalfLetters = "am/pm";
constexpr std::string_view kFullTime = "hh:nn:ss";
constexpr std::string_view kAm = "AM";
constexpr std::string_view kPm = "PM";

void AppendNumber(std::string& out, int value, int min_digits) {
  char digits[16];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value);
  (void)ec;
  if (value < 0) out += '-';
  for (int pad = min_digits - static_cast<int>(end - digits); pad > 0; --pad) out += '0';
  out.append(digits, end);
}

bool UsesTwelveHourClock(std::string_view format) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (StartsWithIgnoreCase(format.substr(i), kDayHalf) ||
        StartsWithIgnoreCase(format.substr(i), kDayHalfLetters))
      return true;
  }
  return false;
}

// ---- Reading dates and times ----------------------------------------------------------------

struct Number {
  int value;
  int digits;
};

// The order of day, month and year in a short date format: "dmy", "mdy" or "ymd".
std::string DateOrder(std::string_view format) {
  std::string order;
  bool quoted = false;
  char quote = 0;
  for (char c : format) {
    if (quoted) {
      if (c == quote) quoted = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      quoted = true;
      quote = c;
      continue;
    }
    char l = LowerAscii(c);
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) return "dmy";
  return order;
}

int CurrentYear() {
  return Today().Year;
}

// Two-digit years fall within fifty years of today, as the runtime reads them.
int ExpandYear(const Number& year) {
  if (year.digits > 2) return year.value;
  int now = CurrentYear();
  int century = now - now % 100;
  int candidate = century + year.value;
  if (candidate > now + 49) candidate -= 100;
  if (candidate < now - 50) candidate += 100;
  return candidate;
}

bool ReadNumber(std::string_view text, std::size_t* pos, Number* number) {
  std::size_t start = *pos;
  int value = 0;
  while (*pos < text.size() && std::isdigit(static_cast<unsigned char>(text[*pos]))) {
    if (*pos - start >= 9) return false;
    value = value * 10 + (text[*pos] - '0');
    ++*pos;
  }
  number->value = value;
  number->digits = static_cast<int>(*pos - start);
  return number->digits > 0;
}

// One separator between two parts, with blanks after it. A run of bytes outside ASCII also
// counts: markers written under a locale whose separators are letters of another script
// (2024年03月05日) still read back.
bool SkipSeparator(std::string_view text, std::size_t* pos, char current,
                   std::string_view accepted) {
  auto high = [&] { return *pos < text.size() && static_cast<unsigned char>(text[*pos]) >= 0x80; };
  if (text[*pos] == current || accepted.find(text[*pos]) != std::string_view::npos) {
    ++*pos;
  } else if (high()) {
    while (high()) ++*pos;
  } else {
    return false;
  }
  while (*pos < text.size() && text[*pos] == ' ') ++*pos;
  return true;
}

std::optional<CalendarDate> TryStrToDate(std::string_view text, const TFormatSettings& settings) {
  text = Trim(text, kBlanks);
  std::vector<Number> parts;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Number n;
    if (!ReadNumber(text, &pos, &n)) return std::nullopt;
    parts.push_back(n);
    if (pos == text.size()) break;
    if (!SkipSeparator(text, &pos, settings.DateSeparator, "/-.")) return std::nullopt;
    // Older markers may end with a separator (05.03.2024. as written in sr_RS).
    if (pos == text.size() && parts.size() == 3) break;
    if (pos == text.size() || parts.size() == 3) return std::nullopt;
  }
  std::string order = DateOrder(settings.ShortDateFormat);
  if (parts.size() == 3 && parts[0].digits == 4) order = "ymd";
  CalendarDate date;
  if (parts.size() == 3) {
    for (std::size_t i = 0; i < 3; ++i) {
      switch (order[i]) {
        case 'd':
          date.Day = parts[i].value;
          break;
        case 'm':
          date.Month = parts[i].value;
          break;
        default:
          if (parts[i].digits != 2 && parts[i].digits != 4) return std::nullopt;
          date.Year = ExpandYear(parts[i]);
      }
    }
  } else if (parts.size() == 2) {
    std::string day_month;
    for (char c : order)
      if (c != 'y') day_month += c;
    date.Year = CurrentYear();
    date.Day = day_month[0] == 'd' ? parts[0].value : parts[1].value;
    date.Month = day_month[0] == 'd' ? parts[1].value : parts[0].value;
  } else {
    return std::nullopt;
  }
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

std::optional<TimeOfDay> TryStrToTime(std::string_view text, const TFormatSettings& settings) {
  text = Trim(text, kBlanks);
  // A day-half name before or after the numbers.
  int half = 0;  // 0 none, 1 before noon, 2 after
  auto take_half = [&](bool at_end) {
    struct Name {
      std::string_view text;
      int half;
    };
    const Name names[] = {{settings.TimeAMString, 1},
                          {settings.TimePMString, 2},
                          {kAm, 1},
                          {kPm, 2},
                          {"a.m.", 1},
                          {"p.m.", 2}};
    for (const Name& name : names) {
      if (name.text.empty() || text.size() < name.text.size()) continue;
      std::string_view piece =
          at_end ? text.substr(text.size() - name.text.size()) : text.substr(0, name.text.size());
      if (StartsWithIgnoreCase(piece, name.text)) {
        half = name.half;
        text = Trim(
            at_end ? text.substr(0, text.size() - name.text.size()) : text.substr(name.text.size()),
            kBlanks);
        return;
      }
    }
  };
  take_half(true);
  if (half == 0) take_half(false);

  std::vector<Number> parts;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Number n;
    if (!ReadNumber(text, &pos, &n)) return std::nullopt;
    parts.push_back(n);
    if (pos == text.size()) break;
    char sep = text[pos];
    if (parts.size() == 3 && (sep == '.' || sep == ',' || sep == settings.DecimalSeparator)) {
      // Fractions of a second are dropped, as when values are fetched.
      ++pos;
      Number fraction;
      if (!ReadNumber(text, &pos, &fraction) || pos != text.size()) return std::nullopt;
      break;
    }
    if (!SkipSeparator(text, &pos, settings.TimeSeparator, ":.")) return std::nullopt;
    if (pos == text.size() || parts.size() == 3) return std::nullopt;
  }
  if (parts.size() < 2) return std::nullopt;
  TimeOfDay time{parts[0].value, parts[1].value, parts.size() > 2 ? parts[2].value : 0};
  if (half != 0) {
    if (time.Hour < 1 || time.Hour > 12) return std::nullopt;
    time.Hour = time.Hour % 12 + (half == 2 ? 12 : 0);
  }
  if (!IsValidTime(time)) return std::nullopt;
  return time;
}

}  // namespace

TFormatSettings DefaultFormatSettings() {
  TFormatSettings s;
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongTimeFormat = kFullTime;
  s.DateSeparator = '/';
  s.TimeSeparator = ':';
  s.DecimalSeparator = '.';
  s.TimeAMString = kAm;
  s.TimePMString = kPm;
  return s;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = FormatSettingsFromLocale("");
  return settings;
}

bool IsValidDate(const CalendarDate& d) {
  if (d.Year < 1 || d.Year > 9999 || d.Month < 1 || d.Month > 12 || d.Day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (d.Year % 4 == 0 && d.Year % 100 != 0) || d.Year % 400 == 0;
  int days = kDays[d.Month - 1] + (d.Month == 2 && leap ? 1 : 0);
  return d.Day <= days;
}

bool IsValidTime(const TimeOfDay& t) {
  return t.Hour >= 0 && t.Hour < 24 && t.Minute >= 0 && t.Minute < 60 && t.Second >= 0 &&
         t.Second < 60;
}

void AppendFormatted(std::string& out, std::string_view format, const CalendarDate& date,
                     const TimeOfDay& time, const TFormatSettings& settings) {
  bool twelve = UsesTwelveHourClock(format);
  bool after_hour = false;
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    char l = LowerAscii(c);
    if (c == '\'' || c == '"') {
      std::size_t end = format.find(c, i + 1);
      if (end == std::string_view::npos) end = format.size();
      out.append(format.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (c == '/') {
      out += settings.DateSeparator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += settings.TimeSeparator;
      ++i;
      continue;
    }
    if (l == 'a') {
      std::string_view rest = format.substr(i);
      bool pm = time.Hour >= 12;
      if (StartsWithIgnoreCase(rest, kDayHalf)) {
        out += pm ? settings.TimePMString : settings.TimeAMString;
        i += 4;
      } else if (StartsWithIgnoreCase(rest, kDayHalfLetters)) {
        out.append(rest.substr(pm ? 3 : 0, 2));
        i += 5;
      } else {
        out += c;
        ++i;
      }
      continue;
    }
    if (l != 'd' && l != 'm' && l != 'y' && l != 'h' && l != 'n' && l != 's' && l != 'z') {
      out += c;
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < format.size() && LowerAscii(format[i + run]) == l) ++run;
    int width = run >= 2 ? 2 : 1;
    switch (l) {
      case 'd':
        AppendNumber(out, date.Day, width);
        break;
      case 'm':
        AppendNumber(out, after_hour ? time.Minute : date.Month, width);
        break;
      case 'y':
        if (run <= 2) {
          AppendNumber(out, date.Year % 100, 2);
        } else {
          AppendNumber(out, date.Year, 4);
        }
        break;
      case 'h': {
        int hour = time.Hour;
        if (twelve) hour = hour % 12 == 0 ? 12 : hour % 12;
        AppendNumber(out, hour, width);
        break;
      }
      case 'n':
        AppendNumber(out, time.Minute, width);
        break;
      case 's':
        AppendNumber(out, time.Second, width);
        break;
      case 'z':
        AppendNumber(out, 0, run >= 3 ? 3 : 1);
        break;
    }
    after_hour = l == 'h';
    i += run;
  }
}

AnsiString DateToStr(const CalendarDate& date, const TFormatSettings& settings) {
  std::string out;
  AppendFormatted(out, settings.ShortDateFormat, date, {}, settings);
  return out;
}

AnsiString TimeToStr(const TimeOfDay& time, const TFormatSettings& settings) {
  return FormatTime(settings.LongTimeFormat, time, settings);
}

AnsiString FormatTime(std::string_view format, const TimeOfDay& time,
                      const TFormatSettings& settings) {
  std::string out;
  AppendFormatted(out, format, {}, time, settings);
  return out;
}

CalendarDate StrToDate(std::string_view text, const TFormatSettings& settings) {
  if (auto date = TryStrToDate(text, settings)) return *date;
  throw EConvertError(FormatMessage(kInvalidDate, {AnsiToWide(text)}));
}

TimeOfDay StrToTime(std::string_view text, const TFormatSettings& settings) {
  if (auto time = TryStrToTime(text, settings)) return *time;
  throw EConvertError(FormatMessage(kInvalidTime, {AnsiToWide(text)}));
}

DateAndTime StrToDateTime(std::string_view text, const TFormatSettings& settings) {
  std::string_view trimmed = Trim(text, kBlanks);
  if (auto date = TryStrToDate(trimmed, settings)) return {*date, {}};
  std::size_t blank = trimmed.find(' ');
  if (blank != std::string_view::npos) {
    auto date = TryStrToDate(trimmed.substr(0, blank), settings);
    auto time = TryStrToTime(trimmed.substr(blank + 1), settings);
    if (date && time) return {*date, *time};
  }
  if (auto time = TryStrToTime(trimmed, settings)) return {{1899, 12, 30}, *time};
  throw EConvertError(FormatMessage(kInvalidDate, {AnsiToWide(text)}));
}

void RaiseNotAnInteger(std::string_view text) {
  throw EConvertError(FormatMessage(kInvalidInteger, {AnsiToWide(text)}));
}

int StrToInt(std::string_view text) {
  std::string_view trimmed = Trim(text, kBlanks);
  if (trimmed.size() > 1 && trimmed[0] == '+' &&
      std::isdigit(static_cast<unsigned char>(trimmed[1])))
    trimmed.remove_prefix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (trimmed.empty() || ec != std::errc() || end != trimmed.data() + trimmed.size()) {
    RaiseNotAnInteger(text);
  }
  return value;
}

CalendarDate Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

TimeOfDay TimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace fesko
