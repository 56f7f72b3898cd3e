#include "database/MDOValueText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

constexpr int kLastExactScale = -4;

int64_t PowerOfTen(int exponent) {
  int64_t value = 1;
  while (exponent-- > 0) value *= 10;
  return value;
}

void AppendInteger(std::string& out, int64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// The shortest form of an exact number: no trailing zeros, no separator without decimals.
void AppendScaled(std::string& out, int64_t value, int scale, char separator) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[24];
  int count =
      static_cast<int>(std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits);
  int decimals = -scale;
  if (value < 0) out += '-';
  if (count <= decimals) {
    out += '0';
  } else {
    out.append(digits, static_cast<std::size_t>(count - decimals));
  }
  char fraction[8];
  int length = 0;
  for (int i = 0; i < decimals; ++i) {
    int position = count - decimals + i;
    fraction[length++] = position < 0 ? '0' : digits[position];
  }
  while (length > 0 && fraction[length - 1] == '0') --length;
  if (length > 0) {
    out += separator;
    out.append(fraction, static_cast<std::size_t>(length));
  }
}

// General format with 15 significant digits: fixed notation unless the integer part needs
// more than 15 digits or the value is below 0.00001, then mantissa, E and exponent.
void AppendGeneral(std::string& out, double value, char separator) {
  if (std::isnan(value)) {
    out += "NAN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "INF" : "-INF";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  char buffer[40];
  auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14).ptr;
  std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  std::size_t e = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                  exponent);
  char mantissa[16];
  int count = 0;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] != '.') mantissa[count++] = text[i];
  }
  while (count > 1 && mantissa[count - 1] == '0') --count;
  if (negative) out += '-';
  if (exponent >= 15 || exponent < -5) {
    out += mantissa[0];
    if (count > 1) {
      out += separator;
      out.append(mantissa + 1, static_cast<std::size_t>(count - 1));
    }
    out += 'E';
    AppendInteger(out, exponent);
    return;
  }
  if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) out += i < count ? mantissa[i] : '0';
    if (count > exponent + 1) {
      out += separator;
      out.append(mantissa + exponent + 1, static_cast<std::size_t>(count - exponent - 1));
    }
  } else {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(mantissa, static_cast<std::size_t>(count));
  }
}

}  // namespace

TFieldKind KindOf(const XSQLVAR& var, bool* known) {
  *known = true;
  const int scale = var.sqlscale;
  switch (var.sqltype & ~1) {
    case SQL_TEXT:
    case SQL_VARYING:
      return TFieldKind::kString;
    case SQL_SHORT:
      if (scale == 0) return TFieldKind::kSmallInt;
      return scale >= kLastExactScale ? TFieldKind::kScaled : TFieldKind::kFloat;
    case SQL_LONG:
      if (scale == 0) return TFieldKind::kInteger;
      return scale >= kLastExactScale ? TFieldKind::kScaled : TFieldKind::kFloat;
    case SQL_INT64:
      if (scale == 0) return TFieldKind::kLargeInt;
      return scale >= kLastExactScale ? TFieldKind::kScaled : TFieldKind::kFloat;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return TFieldKind::kFloat;
    case SQL_TIMESTAMP:
      return TFieldKind::kDateTime;
    case SQL_TYPE_DATE:
      return TFieldKind::kDate;
    case SQL_TYPE_TIME:
      return TFieldKind::kTime;
    case SQL_BLOB:
      return var.sqlsubtype == 1 ? TFieldKind::kTextBlob : TFieldKind::kBinaryBlob;
    default:
      *known = false;
      return TFieldKind::kString;
  }
}

CalendarDate DecodeDate(const ISC_DATE& value) {
  std::tm tm{};
  FB_CALL(isc_decode_sql_date)(&value, &tm);
  CalendarDate date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
  if (!IsValidDate(date)) RaiseMDOClientError(mdoInvalidDataConversion);
  return date;
}

TimeOfDay DecodeTime(const ISC_TIME& value) {
  std::tm tm{};
  FB_CALL(isc_decode_sql_time)(&value, &tm);
  TimeOfDay time{tm.tm_hour, tm.tm_min, tm.tm_sec};
  if (!IsValidTime(time)) RaiseMDOClientError(mdoInvalidDataConversion);
  return time;
}

DateAndTime DecodeTimestamp(const ISC_TIMESTAMP& value) {
  std::tm tm{};
  FB_CALL(isc_decode_timestamp)(&value, &tm);
  DateAndTime moment{{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday},
                     {tm.tm_hour, tm.tm_min, tm.tm_sec}};
  if (!IsValidDate(moment.Date) || !IsValidTime(moment.Time)) {
    RaiseMDOClientError(mdoInvalidDataConversion);
  }
  return moment;
}

std::string_view CellText(const Cell& cell, TFieldKind kind, int scale, std::string& buffer,
                          const TFormatSettings& formats) {
  buffer.clear();
  switch (kind) {
    case TFieldKind::kString: {
      // Up to the first zero byte, trailing blanks of fixed-length texts included.
      const void* zero = std::memchr(cell.bytes, 0, cell.length);
      std::size_t length =
          zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - cell.bytes)
               : cell.length;
      return {cell.bytes, length};
    }
    case TFieldKind::kSmallInt:
    case TFieldKind::kInteger:
    case TFieldKind::kLargeInt:
      AppendInteger(buffer, cell.integer);
      break;
    case TFieldKind::kScaled:
      AppendScaled(buffer, cell.integer, scale, formats.DecimalSeparator);
      break;
    case TFieldKind::kFloat:
      AppendGeneral(buffer, cell.real, formats.DecimalSeparator);
      break;
    case TFieldKind::kDate:
      AppendFormatted(buffer, formats.ShortDateFormat, DecodeDate(cell.date), {}, formats);
      break;
    case TFieldKind::kTime:
      AppendFormatted(buffer, formats.LongTimeFormat, {}, DecodeTime(cell.time), formats);
      break;
    case TFieldKind::kDateTime: {
      DateAndTime moment = DecodeTimestamp(cell.stamp);
      AppendFormatted(buffer, formats.ShortDateFormat, moment.Date, {}, formats);
      if (moment.Time != TimeOfDay{}) {
        buffer += ' ';
        AppendFormatted(buffer, formats.LongTimeFormat, moment.Date, moment.Time, formats);
      }
      break;
    }
    case TFieldKind::kTextBlob:
    case TFieldKind::kBinaryBlob:
      break;
  }
  return buffer;
}

int32_t LowBits(int64_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

int32_t RoundHalfEven(int64_t value, int scale) {
  int64_t divisor = PowerOfTen(-scale);
  int64_t quotient = value / divisor;
  int64_t twice = 2 * (value % divisor);
  if (twice < 0) twice = -twice;
  if (twice > divisor || (twice == divisor && (quotient & 1))) quotient += value < 0 ? -1 : 1;
  return LowBits(quotient);
}

}  // namespace fesko::db
