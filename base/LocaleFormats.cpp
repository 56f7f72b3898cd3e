// The regional formats taken from a locale: its strftime formats turned into patterns of ours,
// kept only where what they write is plain text that the readers take back as the same moment.
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <optional>

#include "base/Errors.h"
#include "base/FormatSettings.h"
#include "base/TextHelpers.h"

namespace fesko {
namespace {

// Turns a strftime date or time format into a pattern of ours; nullopt for conversions that
// have no place in a short numeric format (names of days and months, week numbers ...).
std::optional<std::string> FromStrftime(std::string_view format, std::string_view ampm_format,
                                        char* separator, bool date) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      if (c == '\'' || c == '"') return std::nullopt;
      bool is_separator = !std::isalnum(static_cast<unsigned char>(c)) && c != ' ';
      if (is_separator) {
        // The first separator is the locale's; the pattern names it by its placeholder.
        if (*separator == 0) *separator = c;
        if (c == *separator) {
          out += date ? '/' : ':';
          continue;
        }
      }
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '/' || c == ':') {
        out += '"';
        out += c;
        out += '"';
      } else {
        out += c;
      }
      continue;
    }
    if (++i == format.size()) return std::nullopt;
    char spec = format[i];
    // Flags and widths of the GNU extensions carry nothing we can keep.
    while ((spec == '-' || spec == '_' || spec == '0' || spec == 'E' || spec == 'O') &&
           i + 1 < format.size()) {
      spec = format[++i];
    }
    switch (spec) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "mm";
        break;
      // Two-digit years would be read back through a century window; four lose nothing.
      case 'y':
      case 'Y':
      case 'C':
        out += "yyyy";
        break;
      case 'D': {
        char sep = 0;
        auto sub = FromStrftime("%m/%d/%y", "", &sep, true);
        if (*separator == 0) *separator = '/';
        out += *sub;
        break;
      }
      case 'F': {
        char sep = 0;
        auto sub = FromStrftime("%Y-%m-%d", "", &sep, true);
        if (*separator == 0) *separator = '-';
        out += *sub;
        break;
      }
      case 'H':
      case 'k':
      case 'I':
      case 'l':
        out += "hh";
        break;
      case 'M':
        out += "nn";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
      case 'P':
        out += "ampm";
        break;
      case 'T':
        if (*separator == 0) *separator = ':';
        out += "hh:nn:ss";
        break;
      case 'R':
        if (*separator == 0) *separator = ':';
        out += "hh:nn";
        break;
      case 'r': {
        if (ampm_format.empty() || ampm_format.find("%r") != std::string_view::npos)
          return std::nullopt;
        auto sub = FromStrftime(ampm_format, "", separator, false);
        if (!sub) return std::nullopt;
        out += *sub;
        break;
      }
      case '%':
        out += '%';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

bool IsPlainLocaleName(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

std::string EnvironmentLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return {};
}

// Markers go into config.ini and values into documents as ANSI text, whatever the locale's own
// character set: only printable ASCII is written.
bool IsPlain(std::string_view text) {
  for (char c : text) {
    if (c < ' ' || c > '~') return false;
  }
  return true;
}

bool IsPlainSeparator(char c) {
  return c > ' ' && c <= '~' && !std::isalnum(static_cast<unsigned char>(c));
}

template <typename Value, typename Read>
bool ReadsBack(const std::string& text, const Value& value, Read read) {
  if (!IsPlain(text)) return false;
  try {
    return read(text) == value;
  } catch (const EConvertError&) {
    return false;
  }
}

// Dates alone and with a time, as values and markers are written; a day past 12 and a day
// below it tell a swapped day and month.
bool DatesReadBack(const TFormatSettings& s) {
  const TimeOfDay time{23, 59, 58};
  for (CalendarDate date : {CalendarDate{2024, 12, 31}, CalendarDate{2031, 3, 5}}) {
    auto read_date = [&](const std::string& text) { return StrToDate(text, s); };
    auto read_both = [&](const std::string& text) {
      DateAndTime both = StrToDateTime(text, s);
      return both.Date == date && both.Time == time;
    };
    std::string text = DateToStr(date, s);
    if (!ReadsBack(text, date, read_date) ||
        !ReadsBack(text + ' ' + TimeToStr(time, s), true, read_both)) {
      return false;
    }
  }
  return true;
}

// Times in the long time format and with the separator alone, as the markers write them.
bool TimesReadBack(const TFormatSettings& s) {
  auto read = [&](const std::string& text) { return StrToTime(text, s); };
  for (TimeOfDay time : {TimeOfDay{0, 0, 0}, TimeOfDay{12, 0, 1}, TimeOfDay{23, 59, 58}}) {
    if (!ReadsBack(TimeToStr(time, s), time, read) ||
        !ReadsBack(FormatTime("hh:nn:ss", time, s), time, read)) {
      return false;
    }
  }
  return true;
}

// A locale format that does not read back keeps its fields in its order with its separator;
// failing that (a year first is read as year, month, day; letters of another script), the
// reader's own order and separators.
void MakeDatesReadBack(TFormatSettings& s) {
  if (!IsPlainSeparator(s.DateSeparator)) s.DateSeparator = '/';
  if (DatesReadBack(s)) return;
  std::string fields;
  char quote = 0;
  for (char c : s.ShortDateFormat) {
    char l = LowerAscii(c);
    if (quote != 0 || c == '"' || c == '\'') {
      quote = quote == c ? 0 : quote == 0 ? c : quote;
      continue;
    }
    if (l != 'd' && l != 'm' && l != 'y') continue;
    if (!fields.empty() && fields.back() != l) fields += '/';
    fields += l;
  }
  s.ShortDateFormat = fields;
  if (DatesReadBack(s)) return;
  s.ShortDateFormat = "yyyy/mm/dd";
  if (DatesReadBack(s)) return;
  TFormatSettings defaults = DefaultFormatSettings();
  s.ShortDateFormat = defaults.ShortDateFormat;
  s.DateSeparator = defaults.DateSeparator;
}

void MakeTimesReadBack(TFormatSettings& s) {
  if (!IsPlain(s.TimeAMString) || !IsPlain(s.TimePMString)) {
    TFormatSettings defaults = DefaultFormatSettings();
    s.TimeAMString = defaults.TimeAMString;
    s.TimePMString = defaults.TimePMString;
  }
  if (!IsPlainSeparator(s.TimeSeparator)) s.TimeSeparator = ':';
  if (TimesReadBack(s)) return;
  bool twelve = s.LongTimeFormat.find("ampm") != std::string::npos;
  s.LongTimeFormat = twelve ? "hh:nn:ss ampm" : "hh:nn:ss";
  if (TimesReadBack(s)) return;
  s.LongTimeFormat = "hh:nn:ss";
  s.TimeSeparator = ':';
}

}  // namespace

TFormatSettings FormatSettingsFromLangInfo(std::string_view date_format,
                                           std::string_view time_format,
                                           std::string_view time_format_ampm, std::string_view am,
                                           std::string_view pm) {
  TFormatSettings s = DefaultFormatSettings();
  char date_separator = 0;
  auto date = FromStrftime(date_format, time_format_ampm, &date_separator, true);
  if (date && date_separator != 0) {
    s.ShortDateFormat = *date;
    s.DateSeparator = date_separator;
  }
  char time_separator = 0;
  auto time = FromStrftime(time_format, time_format_ampm, &time_separator, false);
  if (time && time_separator != 0 && time->find("hh") != std::string::npos) {
    s.LongTimeFormat = *time;
    s.TimeSeparator = time_separator;
  }
  if (!am.empty()) s.TimeAMString = std::string(am);
  if (!pm.empty()) s.TimePMString = std::string(pm);
  // Dates are checked with a time after them, in the time format that reads back.
  MakeTimesReadBack(s);
  MakeDatesReadBack(s);
  return s;
}

TFormatSettings FormatSettingsFromLocale(const std::string& name) {
  std::string effective = name.empty() ? EnvironmentLocaleName() : name;
  if (IsPlainLocaleName(effective)) return DefaultFormatSettings();
  locale_t locale = ::newlocale(LC_TIME_MASK, effective.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return DefaultFormatSettings();
  TFormatSettings s =
      FormatSettingsFromLangInfo(::nl_langinfo_l(D_FMT, locale), ::nl_langinfo_l(T_FMT, locale),
                                 ::nl_langinfo_l(T_FMT_AMPM, locale),
                                 ::nl_langinfo_l(AM_STR, locale), ::nl_langinfo_l(PM_STR, locale));
  ::freelocale(locale);
  return s;
}

}  // namespace fesko
