#include "database/MDOParams.h"

#include <ctime>

#include "database/MDOBlob.h"
#include "database/MDOErrors.h"
#include "database/MDOValueText.h"

namespace fesko::db {
namespace {

// What an empty value's data points at.
constexpr char kEmpty[] = "";
constexpr std::size_t kLongestValue = 32767;

std::tm ToTm(const CalendarDate& date, const TimeOfDay& time) {
  if (!IsValidDate(date) || !IsValidTime(time)) RaiseMDOClientError(mdoInvalidDataConversion);
  std::tm tm{};
  tm.tm_year = date.Year - 1900;
  tm.tm_mon = date.Month - 1;
  tm.tm_mday = date.Day;
  tm.tm_hour = time.Hour;
  tm.tm_min = time.Minute;
  tm.tm_sec = time.Second;
  return tm;
}

// The value's bytes as the given type; the placeholder's own type no longer matters.
void BindValue(BindTarget& target, int type, int scale, const void* data, std::size_t length) {
  if (length > kLongestValue) RaiseMDOClientError(mdoInvalidDataConversion);
  XSQLVAR& var = target.var;
  var.sqltype = static_cast<ISC_SHORT>(type | 1);
  var.sqlscale = static_cast<ISC_SHORT>(scale);
  var.sqllen = static_cast<ISC_SHORT>(length);
  target.buffer.assign(static_cast<const char*>(data), length);
  var.sqldata = target.buffer.empty() ? const_cast<char*>(kEmpty) : target.buffer.data();
  target.null = 0;
}

// NULL, in the placeholder's own type.
void BindNull(BindTarget& target) {
  const DescribedPlaceholder& described = target.described;
  XSQLVAR& var = target.var;
  var.sqltype = static_cast<ISC_SHORT>(described.type | 1);
  var.sqlscale = described.scale;
  var.sqllen = described.length;
  target.buffer.assign(static_cast<std::size_t>(described.length) + 2, '\0');
  var.sqldata = target.buffer.data();
  target.null = -1;
}

// A date (SQL_TYPE_DATE), a time of day (SQL_TYPE_TIME) or both (SQL_TIMESTAMP).
void BindMoment(BindTarget& target, int type, const DateAndTime& moment) {
  std::tm tm = ToTm(moment.Date, moment.Time);
  if (type == SQL_TYPE_DATE) {
    ISC_DATE value;
    FB_CALL(isc_encode_sql_date)(&tm, &value);
    BindValue(target, SQL_TYPE_DATE, 0, &value, sizeof value);
  } else if (type == SQL_TYPE_TIME) {
    ISC_TIME value;
    FB_CALL(isc_encode_sql_time)(&tm, &value);
    BindValue(target, SQL_TYPE_TIME, 0, &value, sizeof value);
  } else {
    ISC_TIMESTAMP value;
    FB_CALL(isc_encode_timestamp)(&tm, &value);
    BindValue(target, SQL_TIMESTAMP, 0, &value, sizeof value);
  }
}

// A string goes as text to a text placeholder and as the content of a new blob to a blob one.
// Elsewhere an empty string is NULL, a date or time placeholder gets the string read with the
// regional formats, and any other one the text for the server to convert.
void BindText(BindTarget& target, const std::string& text, const BindContext& context) {
  const int type = target.described.type & ~1;
  if (type == SQL_TEXT || type == SQL_VARYING) {
    BindValue(target, SQL_TEXT, 0, text.data(), text.size());
  } else if (type == SQL_BLOB) {
    ISC_QUAD id = WriteBlob(context.database, context.transaction, text);
    BindValue(target, SQL_BLOB, 0, &id, sizeof id);
  } else if (text.empty()) {
    BindNull(target);
  } else if (type == SQL_TIMESTAMP || type == SQL_TYPE_DATE || type == SQL_TYPE_TIME) {
    BindMoment(target, type, StrToDateTime(text));
  } else {
    BindValue(target, SQL_TEXT, 0, text.data(), text.size());
  }
}

}  // namespace

void TMDOParam::SetText(TParamType type, std::string value) {
  type_ = type;
  text_ = std::move(value);
  null_ = false;
}

void TMDOParam::SetNumber(TParamType type, int64_t value) {
  type_ = type;
  integer_ = value;
  null_ = false;
}

void TMDOParam::SetAsFloat(double value) {
  type_ = TParamType::kFloat;
  float_ = value;
  null_ = false;
}

void TMDOParam::SetAsDate(const CalendarDate& value) {
  type_ = TParamType::kDate;
  moment_ = {value, {}};
  null_ = false;
}

void TMDOParam::SetAsTime(const TimeOfDay& value) {
  type_ = TParamType::kTime;
  moment_ = {kDayZero, value};
  null_ = false;
}

void TMDOParam::SetAsDateTime(const DateAndTime& value) {
  type_ = TParamType::kDateTime;
  moment_ = value;
  null_ = false;
}

void BindParam(BindTarget target, const TMDOParam& param, const BindContext& context) {
  target.var.sqlind = &target.null;
  target.var.sqlsubtype = target.described.subtype;
  if (param.IsNull()) {
    BindNull(target);
    return;
  }
  switch (param.DataType()) {
    case TParamType::kString:
    case TParamType::kBytes:
    case TParamType::kBlob:
      BindText(target, param.Text(), context);
      return;
    case TParamType::kInteger: {
      auto value = static_cast<int32_t>(param.Integer());
      BindValue(target, SQL_LONG, 0, &value, sizeof value);
      return;
    }
    case TParamType::kSmallInt:
    case TParamType::kBoolean: {
      auto value = static_cast<int16_t>(param.Integer());
      BindValue(target, SQL_SHORT, 0, &value, sizeof value);
      return;
    }
    case TParamType::kFloat: {
      double value = param.Float();
      BindValue(target, SQL_DOUBLE, 0, &value, sizeof value);
      return;
    }
    case TParamType::kCurrency:
    case TParamType::kInt64: {
      int64_t value = param.Integer();
      const int scale = param.DataType() == TParamType::kCurrency ? -4 : 0;
      BindValue(target, SQL_INT64, scale, &value, sizeof value);
      return;
    }
    case TParamType::kDate:
      BindMoment(target, context.dialect >= 3 ? SQL_TYPE_DATE : SQL_TIMESTAMP, param.Moment());
      return;
    case TParamType::kTime:
      BindMoment(target, context.dialect >= 3 ? SQL_TYPE_TIME : SQL_TIMESTAMP, param.Moment());
      return;
    case TParamType::kDateTime:
      BindMoment(target, SQL_TIMESTAMP, param.Moment());
      return;
    case TParamType::kNone:
      break;
  }
  RaiseMDOClientError(mdoNotSupported);
}

}  // namespace fesko::db
