// Column values as the query component reads them: the kind of field a described column
// becomes, the text of each kind of value (numbers with the process's decimal separator, dates
// and times in the regional formats), and the integer a value rounds to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/FormatSettings.h"
#include "database/MDORowCache.h"

namespace fesko::db {

// What a column becomes, from its described type and scale.
enum class TFieldKind {
  kString,
  kSmallInt,
  kInteger,
  kLargeInt,
  kScaled,  // exact, one to four decimals
  kFloat,
  kDate,
  kTime,
  kDateTime,
  kTextBlob,
  kBinaryBlob,
};

// The field kind of a described column; `known` is false for columns that get no field
// (arrays and the like).
TFieldKind KindOf(const XSQLVAR& var, bool* known);

// The runtime counts times of day from this date.
inline constexpr CalendarDate kDayZero{1899, 12, 30};

// Decoded values; a value that is no calendar date or time of day is client error 38.
// Fractions of a second are dropped.
CalendarDate DecodeDate(const ISC_DATE& value);
TimeOfDay DecodeTime(const ISC_TIME& value);
DateAndTime DecodeTimestamp(const ISC_TIMESTAMP& value);

// The text of a cached value that is not null and not a blob. Texts are views into the cache;
// every other kind is written into `buffer`, which the view then shows.
std::string_view CellText(const Cell& cell, TFieldKind kind, int scale, std::string& buffer,
                          const TFormatSettings& formats);

// The low 32 bits, as the runtime's integer conversion keeps them.
int32_t LowBits(int64_t value);
// An exact number of `scale` decimals rounded to an integer, a half going to the even one.
int32_t RoundHalfEven(int64_t value, int scale);

}  // namespace fesko::db
