// The named parameters of the query component and how each kind of value is bound to the
// placeholder the server described for it.
#pragma once

#include <cstdint>
#include <string>

#include "base/FormatSettings.h"
#include "base/TextKinds.h"
#include "database/FbClient.h"

namespace fesko::db {

class TMDOQuery;

// The kind of value a parameter holds; kNone until one is set.
enum class TParamType {
  kNone,
  kString,
  kInteger,
  kSmallInt,
  kBoolean,
  kFloat,
  kCurrency,  // a fixed-point value with four decimals
  kDate,
  kTime,
  kDateTime,
  kInt64,
  kBytes,
  kBlob,
};

class TMDOParam {
 public:
  explicit TMDOParam(AnsiString name) : name_(std::move(name)) {}

  const AnsiString& Name() const { return name_; }
  TParamType DataType() const { return type_; }
  bool IsNull() const { return null_; }
  // Back to NULL; the value type is kept.
  void Clear() { null_ = true; }

  void SetAsString(AnsiString value) { SetText(TParamType::kString, std::move(value)); }
  void SetAsInteger(int32_t value) { SetNumber(TParamType::kInteger, value); }
  void SetAsSmallInt(int16_t value) { SetNumber(TParamType::kSmallInt, value); }
  void SetAsBoolean(bool value) { SetNumber(TParamType::kBoolean, value ? 1 : 0); }
  void SetAsInt64(int64_t value) { SetNumber(TParamType::kInt64, value); }
  // The value times 10000, as the runtime's currency type holds it.
  void SetAsCurrency(int64_t ten_thousandths) { SetNumber(TParamType::kCurrency, ten_thousandths); }
  void SetAsFloat(double value);
  void SetAsDate(const CalendarDate& value);
  void SetAsTime(const TimeOfDay& value);
  void SetAsDateTime(const DateAndTime& value);
  void SetAsBytes(std::string value) { SetText(TParamType::kBytes, std::move(value)); }
  void SetAsBlob(std::string value) { SetText(TParamType::kBlob, std::move(value)); }

  // The value as it was set: texts, bytes and blobs; the integer kinds and currency; floats;
  // dates and times.
  const std::string& Text() const { return text_; }
  int64_t Integer() const { return integer_; }
  double Float() const { return float_; }
  const DateAndTime& Moment() const { return moment_; }

 private:
  friend class TMDOQuery;
  void SetText(TParamType type, std::string value);
  void SetNumber(TParamType type, int64_t value);

  AnsiString name_;
  TParamType type_ = TParamType::kNone;
  bool null_ = true;
  std::string text_;
  int64_t integer_ = 0;
  double float_ = 0;
  DateAndTime moment_;
};

// What the server described for one placeholder.
struct DescribedPlaceholder {
  ISC_SHORT type, scale, subtype, length;
};

// Where one value goes: the placeholder's descriptor entry, and the buffers that hold the value
// and its null indicator until the statement has run.
struct BindTarget {
  XSQLVAR& var;
  const DescribedPlaceholder& described;
  std::string& buffer;
  ISC_SHORT& null;
};

// What binding needs of the statement's surroundings: the connection's dialect, and the
// attachment and transaction a string bound to a blob placeholder is written in.
struct BindContext {
  int dialect;
  isc_db_handle* database;
  isc_tr_handle* transaction;
};

// Binds the parameter's value: NULL, a string (by the placeholder's described type), a number,
// a date or time; client error 4 for a parameter without a value type.
void BindParam(BindTarget target, const TMDOParam& param, const BindContext& context);

}  // namespace fesko::db
