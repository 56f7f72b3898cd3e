// The process-wide regional formats: how dates, times and numbers become text and how texts
// become dates, times and integers. Filled from the system locale on first use, with fixed
// defaults where the system has none. The query layer renders values with them and the agent
// writes and reads its sync markers with them.
#pragma once

#include <string>
#include <string_view>

#include "base/TextKinds.h"

namespace fesko {

struct CalendarDate {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// A time of day to the second.
struct TimeOfDay {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// Format patterns use the runtime's letters: d dd m mm yy yyyy for dates; h hh, n nn (or m mm
// right after an hour), s ss and ampm for times; '/' and ':' stand for the separators; text in
// single or double quotes is copied as it stands. An hour is on the 12-hour clock only when the
// pattern holds ampm.
struct TFormatSettings {
  std::string ShortDateFormat;
  std::string LongTimeFormat;
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char DecimalSeparator = '.';
  std::string TimeAMString;
  std::string TimePMString;
};

// The formats used when the system names no locale of its own: day/month/year with a
// four-digit year, 24-hour time with seconds, "." for decimals.
TFormatSettings DefaultFormatSettings();

// The formats of the named locale ("" means the one the environment selects). The C and POSIX
// locales, a locale the system does not have, and a locale format this program cannot read all
// give the defaults for the part concerned. A format that writes anything but printable ASCII,
// or a text the readers below do not take back as the same date or time, keeps only its fields
// in a form they do take. The decimal separator is always ".": value texts go to the web
// service and must not change with the machine.
TFormatSettings FormatSettingsFromLocale(const std::string& name);

// The same from the locale's strftime formats (D_FMT, T_FMT, T_FMT_AMPM) and day-half names.
TFormatSettings FormatSettingsFromLangInfo(std::string_view date_format,
                                           std::string_view time_format,
                                           std::string_view time_format_ampm, std::string_view am,
                                           std::string_view pm);

// The settings the whole process uses; filled from the environment's locale on first use.
// Only the UI thread changes them.
TFormatSettings& FormatSettings();

bool IsValidDate(const CalendarDate& date);
bool IsValidTime(const TimeOfDay& time);

// Appends the date or time written with `format` and the separators of `settings`.
void AppendFormatted(std::string& out, std::string_view format, const CalendarDate& date,
                     const TimeOfDay& time, const TFormatSettings& settings = FormatSettings());

// The date in the short date format; the time in the long time format or the given one.
AnsiString DateToStr(const CalendarDate& date, const TFormatSettings& settings = FormatSettings());
AnsiString TimeToStr(const TimeOfDay& time, const TFormatSettings& settings = FormatSettings());
AnsiString FormatTime(std::string_view format, const TimeOfDay& time,
                      const TFormatSettings& settings = FormatSettings());

// Reading is tolerant: blanks around the text, any of the separators / - . and the current
// one between the parts of a date, one- or two-digit parts, two- or four-digit years (two
// digits fall within fifty years of today), a date without its year (this year), a date that
// starts with a four-digit year, a date that ends with a separator; for a time ':' '.' or the
// current separator, seconds optional, fractions of a second ignored, an optional day-half name.
// Blanks may follow a separator, and a run of bytes outside ASCII counts as one. EConvertError
// otherwise.
CalendarDate StrToDate(std::string_view text, const TFormatSettings& settings = FormatSettings());
TimeOfDay StrToTime(std::string_view text, const TFormatSettings& settings = FormatSettings());

// A date, a date and a time separated by blanks, or a time alone (on 30/12/1899, the day the
// runtime counts from).
struct DateAndTime {
  CalendarDate Date;
  TimeOfDay Time;
  friend bool operator==(const DateAndTime&, const DateAndTime&) = default;
};
DateAndTime StrToDateTime(std::string_view text,
                          const TFormatSettings& settings = FormatSettings());

// A decimal integer, blanks around it allowed; EConvertError "'%s' is not a valid integer
// value" for anything else, including a value outside 32 bits.
int StrToInt(std::string_view text);
// The same error, for callers that find the text unsuitable by their own checks.
[[noreturn]] void RaiseNotAnInteger(std::string_view text);

// Today's date and the time of day on this machine's clock.
CalendarDate Today();
TimeOfDay TimeNow();

}  // namespace fesko
