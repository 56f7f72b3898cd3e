#include "database/MDOQuery.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

#include "base/TextHelpers.h"
#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

constexpr std::u16string_view kParamNotFound = u"Parameter '%s' not found";
constexpr std::u16string_view kOpenDataSet = u"Cannot perform this operation on an open dataset";
constexpr std::u16string_view kClosedDataSet = u"Cannot perform this operation on a closed dataset";
constexpr std::u16string_view kParamCountMismatch = u"Parameter count mismatch";
constexpr std::u16string_view kFieldIndex = u"Field index out of range (%d)";

// Texts the parameter block and the arena hand out for empty values.
constexpr char kEmpty[] = "";
constexpr std::size_t kArenaBlock = 64 * 1024;
constexpr unsigned short kBlobPiece = 16384;
constexpr ISC_LONG kFetchEnd = 100;
constexpr int kLastExactScale = -4;

std::function<void(bool)>& BusyHandler() {
  static std::function<void(bool)> handler;
  return handler;
}

class BusyScope {
 public:
  BusyScope() {
    if (BusyHandler()) BusyHandler()(true);
  }
  ~BusyScope() {
    if (BusyHandler()) BusyHandler()(false);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// Eight decimal digits per query. Consecutive numbers from a random start: they look the same
// as random ones and two queries on one attachment never share a cursor name.
std::string NextCursorName() {
  static uint32_t next = std::random_device{}() % 100000000u;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08u", next);
  next = (next + 1) % 100000000u;
  return digits;
}

bool StatusHolds(const ISC_STATUS* status, ISC_STATUS code) {
  for (int i = 0; i < ISC_STATUS_LENGTH - 1 && status[i] != isc_arg_end;) {
    ISC_STATUS kind = status[i];
    if (kind == isc_arg_gds && status[i + 1] == code) return true;
    i += kind == isc_arg_cstring ? 3 : 2;
  }
  return false;
}

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

CalendarDate DecodeDate(const ISC_DATE& value) {
  std::tm tm{};
  FB_CALL(isc_decode_sql_date)(&value, &tm);
  CalendarDate date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
  if (!IsValidDate(date)) RaiseMDOClientError(mdoInvalidDataConversion);
  return date;
}

// Fractions of a second are dropped.
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

// The runtime counts times of day from this date.
constexpr CalendarDate kDayZero{1899, 12, 30};

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

}  // namespace

void SetQueryBusyHandler(std::function<void(bool busy)> handler) {
  BusyHandler() = std::move(handler);
}

// ---- TMDOParam --------------------------------------------------------------------------------

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

// ---- TMDOField --------------------------------------------------------------------------------

bool TMDOField::IsNull() const {
  query_->CheckOpen();
  if (query_->row_count_ == 0) return true;
  return query_->CurrentCell(index_).null != 0;
}

std::string_view TMDOField::Text() const {
  return query_->FieldText(index_);
}

int32_t TMDOField::AsInteger() const {
  if (IsNull()) return 0;
  const TMDOQuery::Cell& cell = query_->CurrentCell(index_);
  switch (kind_) {
    case TFieldKind::kSmallInt:
    case TFieldKind::kInteger:
    case TFieldKind::kLargeInt:
      return LowBits(cell.integer);
    case TFieldKind::kScaled:
      return RoundHalfEven(cell.integer, scale_);
    case TFieldKind::kFloat: {
      double rounded = std::nearbyint(cell.real);  // the default mode rounds half to even
      if (!(rounded >= -9.2e18 && rounded <= 9.2e18)) RaiseNotAnInteger(Text());
      return LowBits(static_cast<int64_t>(rounded));
    }
    default:
      return StrToInt(Text());
  }
}

CalendarDate TMDOField::AsDate() const {
  if (IsNull()) return kDayZero;
  const TMDOQuery::Cell& cell = query_->CurrentCell(index_);
  switch (kind_) {
    case TFieldKind::kDate:
      return DecodeDate(cell.date);
    case TFieldKind::kDateTime:
      return DecodeTimestamp(cell.stamp).Date;
    case TFieldKind::kTime:
      return kDayZero;
    default:
      return StrToDateTime(Text()).Date;
  }
}

TimeOfDay TMDOField::AsTime() const {
  if (IsNull()) return {};
  const TMDOQuery::Cell& cell = query_->CurrentCell(index_);
  switch (kind_) {
    case TFieldKind::kTime:
      return DecodeTime(cell.time);
    case TFieldKind::kDateTime:
      return DecodeTimestamp(cell.stamp).Time;
    case TFieldKind::kDate:
      return {};
    default:
      return StrToDateTime(Text()).Time;
  }
}

// ---- TSQLLines --------------------------------------------------------------------------------

void TSQLLines::Clear() {
  lines_.clear();
  owner_->SQLChanged();
}

void TSQLLines::Add(std::string_view line) {
  lines_.emplace_back(line);
  owner_->SQLChanged();
}

AnsiString TSQLLines::Text() const {
  AnsiString text;
  for (const AnsiString& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// ---- TMDOQuery: life and wiring --------------------------------------------------------------

TMDOQuery::TMDOQuery(AnsiString name) : name_(std::move(name)), cursor_name_(NextCursorName()) {
  if (!TryLoadClientLibrary()) RaiseMDOClientError(mdoLibraryNotFound);
}

TMDOQuery::~TMDOQuery() {
  try {
    Close();
  } catch (...) {
    // The transaction's owner ends it; a failed commit here has no one to tell.
  }
  ReleaseStatement();
  if (transaction_) transaction_->RemoveClient(this);
  if (database_) database_->RemoveClient(this);
}

void TMDOQuery::SetDatabase(TMDODatabase* database) {
  if (database == database_) return;
  Close();
  ReleaseStatement();
  if (database_) database_->RemoveClient(this);
  database_ = database;
  if (database_) database_->AddClient(this);
}

void TMDOQuery::SetTransaction(TMDOTransaction* transaction) {
  if (transaction == transaction_) return;
  Close();
  ReleaseStatement();
  if (transaction_) transaction_->RemoveClient(this);
  transaction_ = transaction;
  if (transaction_) transaction_->AddClient(this);
}

void TMDOQuery::RaiseDataSetError(std::u16string_view message) const {
  if (name_.empty()) throw EDatabaseError(WideString(message));
  throw EDatabaseError(AnsiToWide(name_) + u": " + WideString(message));
}

void TMDOQuery::CheckOpen() const {
  if (!open_) RaiseDataSetError(kClosedDataSet);
}

void TMDOQuery::SQLChanged() {
  Close();
  ReleaseStatement();
  std::vector<TMDOParam> old = std::move(params_);
  params_.clear();
  marker_params_.clear();
  for (AnsiString& name : ScanMarkerNames(sql_.Text())) {
    int index = -1;
    if (!name.empty()) {
      for (std::size_t i = 0; i < params_.size(); ++i) {
        if (EqualsIgnoreCase(params_[i].Name(), name)) index = static_cast<int>(i);
      }
    }
    if (index < 0) {
      index = static_cast<int>(params_.size());
      auto kept = std::find_if(old.begin(), old.end(), [&](const TMDOParam& p) {
        return !name.empty() && EqualsIgnoreCase(p.Name(), name);
      });
      if (kept != old.end()) {
        params_.push_back(*kept);
        params_.back().name_ = name;
      } else {
        params_.emplace_back(name);
      }
    }
    marker_params_.push_back(index);
  }
}

TMDOParam& TMDOQuery::ParamByName(std::string_view name) {
  for (TMDOParam& param : params_) {
    if (EqualsIgnoreCase(param.Name(), name)) return param;
  }
  WideString message = FormatMessage(kParamNotFound, {AnsiToWide(name)});
  RaiseDataSetError(message);
}

// ---- Transactions -----------------------------------------------------------------------------

void TMDOQuery::StartTransactionIfNeeded() {
  if (!database_) RaiseMDOClientError(mdoDatabaseNotAssigned);
  if (!transaction_) RaiseMDOClientError(mdoTransactionNotAssigned);
  if (!database_->Connected()) database_->Open();
  if (!transaction_->Active()) {
    transaction_->StartTransaction();
    started_transaction_ = true;
  }
}

void TMDOQuery::EndAutomaticTransaction() {
  if (!started_transaction_) return;
  started_transaction_ = false;
  if (transaction_ && transaction_->Active() && !transaction_->HasOpenClientOtherThan(this)) {
    transaction_->Commit();
  }
}

void TMDOQuery::TransactionEnding() {
  CloseCursorAndRows();
  started_transaction_ = false;
  ReleaseStatement();
}

void TMDOQuery::DatabaseClosing() {
  TransactionEnding();
}

// ---- Preparing --------------------------------------------------------------------------------

void TMDOQuery::ReleaseStatement() noexcept {
  statement_.Drop();
  prepared_ = false;
}

void TMDOQuery::Prepare() {
  if (prepared_) return;
  ScannedSQL scanned = ScanSQL(sql_.Text());
  const unsigned short dialect = static_cast<unsigned short>(database_->DBSQLDialect());
  statement_.Allocate(database_->Handle());
  try {
    ISC_STATUS* status = StatusVector();
    if (FB_CALL(isc_dsql_prepare)(status, transaction_->Handle(), statement_.get(), 0,
                                  scanned.text.c_str(), dialect, nullptr)) {
      RaiseMDOFirebirdError(status);
    }
    statement_type_ = StatementType(statement_);
    if (statement_type_ == isc_info_sql_stmt_start_trans ||
        statement_type_ == isc_info_sql_stmt_commit ||
        statement_type_ == isc_info_sql_stmt_rollback) {
      RaiseMDOClientError(mdoNotPermitted);
    }
    const int markers = static_cast<int>(scanned.names.size());
    input_ = SqlDescriptor(markers);
    placeholders_.clear();
    if (markers > 0) {
      if (FB_CALL(isc_dsql_describe_bind)(status, statement_.get(), dialect, input_.get())) {
        RaiseMDOFirebirdError(status);
      }
      // The server skips markers inside line comments, which the scan keeps; bound by
      // position, every later value would land on the wrong placeholder.
      if (input_.Described() != markers) {
        RaiseMDOClientError(mdoSQLParseError, {WideString(kParamCountMismatch)});
      }
      for (int i = 0; i < markers; ++i) {
        const XSQLVAR& var = input_[i];
        placeholders_.push_back({var.sqltype, var.sqlscale, var.sqlsubtype, var.sqllen});
      }
    }
    bind_buffers_.assign(static_cast<std::size_t>(markers), std::string());
    bind_nulls_.assign(static_cast<std::size_t>(markers), 0);
    if (statement_type_ == isc_info_sql_stmt_select ||
        statement_type_ == isc_info_sql_stmt_select_for_upd ||
        statement_type_ == isc_info_sql_stmt_exec_procedure) {
      DescribeOutput();
    } else {
      output_ = SqlDescriptor(1);
    }
  } catch (...) {
    statement_.Drop();
    throw;
  }
  prepared_ = true;
}

void TMDOQuery::DescribeOutput() {
  const unsigned short dialect = static_cast<unsigned short>(database_->DBSQLDialect());
  ISC_STATUS* status = StatusVector();
  output_ = SqlDescriptor(1);
  if (FB_CALL(isc_dsql_describe)(status, statement_.get(), dialect, output_.get())) {
    RaiseMDOFirebirdError(status);
  }
  if (output_.Described() > output_.Capacity()) {
    output_ = SqlDescriptor(output_.Described());
    if (FB_CALL(isc_dsql_describe)(status, statement_.get(), dialect, output_.get())) {
      RaiseMDOFirebirdError(status);
    }
  }
  LayOutRowBuffer(output_, row_buffer_);
}

void TMDOQuery::CreateFields() {
  fields_.clear();
  for (int column = 0; column < output_.Described(); ++column) {
    const XSQLVAR& var = output_[column];
    bool known = false;
    TFieldKind kind = KindOf(var, &known);
    if (!known) continue;  // arrays and the like have no field; later ones move down
    TMDOField field;
    field.query_ = this;
    field.index_ = static_cast<int>(fields_.size());
    field.column_ = column;
    field.kind_ = kind;
    field.scale_ = var.sqlscale;
    field.size_ = var.sqllen;
    field.name_.assign(var.aliasname, static_cast<std::size_t>(var.aliasname_length));
    fields_.push_back(std::move(field));
  }
}

// ---- Binding ----------------------------------------------------------------------------------

void TMDOQuery::Bind() {
  for (std::size_t i = 0; i < marker_params_.size(); ++i) {
    BindValue(static_cast<int>(i), params_[static_cast<std::size_t>(marker_params_[i])]);
  }
}

void TMDOQuery::BindValue(int position, const TMDOParam& param) {
  XSQLVAR& var = input_[position];
  const Described& described = placeholders_[static_cast<std::size_t>(position)];
  std::string& buffer = bind_buffers_[static_cast<std::size_t>(position)];
  ISC_SHORT& null = bind_nulls_[static_cast<std::size_t>(position)];
  const int dialect = database_->DBSQLDialect();
  var.sqlind = &null;
  var.sqlsubtype = described.subtype;

  auto send = [&](int type, int scale, const void* data, std::size_t length) {
    if (length > 32767) RaiseMDOClientError(mdoInvalidDataConversion);
    var.sqltype = static_cast<ISC_SHORT>(type | 1);
    var.sqlscale = static_cast<ISC_SHORT>(scale);
    var.sqllen = static_cast<ISC_SHORT>(length);
    buffer.assign(static_cast<const char*>(data), length);
    var.sqldata = buffer.empty() ? const_cast<char*>(kEmpty) : buffer.data();
    null = 0;
  };
  auto send_null = [&] {
    var.sqltype = static_cast<ISC_SHORT>(described.type | 1);
    var.sqlscale = described.scale;
    var.sqllen = described.length;
    buffer.assign(static_cast<std::size_t>(described.length) + 2, '\0');
    var.sqldata = buffer.data();
    null = -1;
  };
  auto send_moment = [&](int type, const DateAndTime& moment) {
    std::tm tm = ToTm(moment.Date, moment.Time);
    if (type == SQL_TYPE_DATE) {
      ISC_DATE value;
      FB_CALL(isc_encode_sql_date)(&tm, &value);
      send(SQL_TYPE_DATE, 0, &value, sizeof value);
    } else if (type == SQL_TYPE_TIME) {
      ISC_TIME value;
      FB_CALL(isc_encode_sql_time)(&tm, &value);
      send(SQL_TYPE_TIME, 0, &value, sizeof value);
    } else {
      ISC_TIMESTAMP value;
      FB_CALL(isc_encode_timestamp)(&tm, &value);
      send(SQL_TIMESTAMP, 0, &value, sizeof value);
    }
  };
  auto send_blob = [&](const std::string& content) {
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    ISC_STATUS* status = StatusVector();
    if (FB_CALL(isc_create_blob2)(status, database_->Handle(), transaction_->Handle(), &blob, &id,
                                  0, nullptr)) {
      RaiseMDOFirebirdError(status);
    }
    for (std::size_t at = 0; at < content.size(); at += kBlobPiece) {
      auto piece =
          static_cast<unsigned short>(std::min<std::size_t>(kBlobPiece, content.size() - at));
      if (FB_CALL(isc_put_segment)(status, &blob, piece, content.data() + at)) {
        ISC_STATUS_ARRAY ignored{};
        FB_CALL(isc_cancel_blob)(ignored, &blob);
        RaiseMDOFirebirdError(status);
      }
    }
    if (FB_CALL(isc_close_blob)(status, &blob)) RaiseMDOFirebirdError(status);
    send(SQL_BLOB, 0, &id, sizeof id);
    var.sqlsubtype = described.subtype;
  };

  if (param.IsNull()) {
    send_null();
    return;
  }
  switch (param.DataType()) {
    case TParamType::kString:
    case TParamType::kBytes:
    case TParamType::kBlob: {
      const std::string& text = param.text_;
      switch (described.type & ~1) {
        case SQL_TEXT:
        case SQL_VARYING:
          send(SQL_TEXT, 0, text.data(), text.size());
          return;
        case SQL_BLOB:
          send_blob(text);
          return;
        default:
          break;
      }
      if (text.empty()) {
        send_null();
        return;
      }
      const int type = described.type & ~1;
      if (type == SQL_TIMESTAMP || type == SQL_TYPE_DATE || type == SQL_TYPE_TIME) {
        send_moment(type, StrToDateTime(text));
        return;
      }
      send(SQL_TEXT, 0, text.data(), text.size());
      return;
    }
    case TParamType::kInteger: {
      auto value = static_cast<int32_t>(param.integer_);
      send(SQL_LONG, 0, &value, sizeof value);
      return;
    }
    case TParamType::kSmallInt:
    case TParamType::kBoolean: {
      auto value = static_cast<int16_t>(param.integer_);
      send(SQL_SHORT, 0, &value, sizeof value);
      return;
    }
    case TParamType::kFloat:
      send(SQL_DOUBLE, 0, &param.float_, sizeof param.float_);
      return;
    case TParamType::kCurrency:
      send(SQL_INT64, -4, &param.integer_, sizeof param.integer_);
      return;
    case TParamType::kInt64:
      send(SQL_INT64, 0, &param.integer_, sizeof param.integer_);
      return;
    case TParamType::kDate:
      send_moment(dialect >= 3 ? SQL_TYPE_DATE : SQL_TIMESTAMP, param.moment_);
      return;
    case TParamType::kTime:
      send_moment(dialect >= 3 ? SQL_TYPE_TIME : SQL_TIMESTAMP, param.moment_);
      return;
    case TParamType::kDateTime:
      send_moment(SQL_TIMESTAMP, param.moment_);
      return;
    case TParamType::kNone:
      break;
  }
  RaiseMDOClientError(mdoNotSupported);
}

// ---- Open, ExecSQL, Close ---------------------------------------------------------------------

namespace {
bool IsBlankText(const TSQLLines& lines) {
  std::size_t meaningful = 0;
  for (int i = 0; i < lines.Count(); ++i) {
    for (char c : lines[i]) {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') ++meaningful;
      if (meaningful >= 2) return false;
    }
  }
  return true;
}
}  // namespace

void TMDOQuery::Open() {
  if (open_) return;
  if (IsBlankText(sql_)) RaiseMDOClientError(mdoEmptySQLStatement);
  BusyScope busy;
  StartTransactionIfNeeded();
  try {
    Prepare();
    Bind();
    const unsigned short dialect = static_cast<unsigned short>(database_->DBSQLDialect());
    XSQLDA* in = marker_params_.empty() ? nullptr : input_.get();
    ISC_STATUS* status = StatusVector();
    if (statement_type_ == isc_info_sql_stmt_select ||
        statement_type_ == isc_info_sql_stmt_select_for_upd) {
      if (FB_CALL(isc_dsql_execute2)(status, transaction_->Handle(), statement_.get(), dialect, in,
                                     nullptr)) {
        RaiseMDOFirebirdError(status);
      }
      cursor_open_ = true;
      if (FB_CALL(isc_dsql_set_cursor_name)(status, statement_.get(), cursor_name_.c_str(), 0)) {
        RaiseMDOFirebirdError(status);
      }
      CreateFields();
      open_ = true;
      end_reached_ = false;
      current_ = 0;
      eof_ = !FetchRow();
    } else if (statement_type_ == isc_info_sql_stmt_exec_procedure) {
      // A procedure's one row of outputs arrives with the execution.
      if (FB_CALL(isc_dsql_execute2)(status, transaction_->Handle(), statement_.get(), dialect, in,
                                     output_.get())) {
        RaiseMDOFirebirdError(status);
      }
      CreateFields();
      open_ = true;
      StoreRow();
      end_reached_ = true;
      current_ = 0;
      eof_ = false;
    } else {
      // Not a result set: run it and stay closed.
      if (FB_CALL(isc_dsql_execute)(status, transaction_->Handle(), statement_.get(), dialect,
                                    in)) {
        RaiseMDOFirebirdError(status);
      }
    }
  } catch (...) {
    CloseCursorAndRows();
    try {
      EndAutomaticTransaction();
    } catch (...) {
      // The statement's own error is the one to report.
    }
    throw;
  }
  if (!open_) EndAutomaticTransaction();
}

void TMDOQuery::ExecSQL() {
  if (open_) RaiseDataSetError(kOpenDataSet);
  if (IsBlankText(sql_)) RaiseMDOClientError(mdoEmptySQLStatement);
  BusyScope busy;
  StartTransactionIfNeeded();
  try {
    Prepare();
    Bind();
    if (statement_type_ == isc_info_sql_stmt_select ||
        statement_type_ == isc_info_sql_stmt_select_for_upd) {
      RaiseMDOClientError(mdoCannotExecuteSelect);
    }
    const unsigned short dialect = static_cast<unsigned short>(database_->DBSQLDialect());
    XSQLDA* in = marker_params_.empty() ? nullptr : input_.get();
    ISC_STATUS* status = StatusVector();
    ISC_STATUS failed =
        statement_type_ == isc_info_sql_stmt_exec_procedure
            ? FB_CALL(isc_dsql_execute2)(status, transaction_->Handle(), statement_.get(), dialect,
                                         in, output_.get())
            : FB_CALL(isc_dsql_execute)(status, transaction_->Handle(), statement_.get(), dialect,
                                        in);
    if (failed) RaiseMDOFirebirdError(status);
  } catch (...) {
    try {
      EndAutomaticTransaction();
    } catch (...) {
      // The statement's own error is the one to report.
    }
    throw;
  }
  EndAutomaticTransaction();
}

void TMDOQuery::Close() {
  CloseCursorAndRows();
  EndAutomaticTransaction();
}

void TMDOQuery::CloseCursorAndRows() noexcept {
  if (cursor_open_) statement_.CloseCursor();
  cursor_open_ = false;
  open_ = false;
  fields_.clear();
  chunks_.clear();
  arena_.clear();
  arena_used_ = arena_size_ = 0;
  row_count_ = 0;
  current_ = 0;
  eof_ = true;
  end_reached_ = true;
  blobs_.clear();
}

// ---- Fetching ---------------------------------------------------------------------------------

bool TMDOQuery::FetchRow() {
  if (end_reached_) return false;
  ISC_STATUS* status = StatusVector();
  ISC_STATUS result = FB_CALL(isc_dsql_fetch)(
      status, statement_.get(), static_cast<unsigned short>(database_->DBSQLDialect()),
      output_.get());
  if (result == kFetchEnd || (result != 0 && StatusHolds(status, isc_dsql_cursor_err))) {
    end_reached_ = true;
    return false;
  }
  if (result != 0) {
    EMDOFirebirdError error = MDOFirebirdError(status);
    CloseCursorAndRows();
    try {
      EndAutomaticTransaction();
    } catch (...) {
      // The fetch's own error is the one to report.
    }
    throw error;
  }
  StoreRow();
  return true;
}

char* TMDOQuery::ArenaCopy(const char* data, std::size_t length) {
  if (length == 0) return const_cast<char*>(kEmpty);
  if (arena_used_ + length > arena_size_) {
    arena_size_ = std::max(kArenaBlock, length);
    arena_.push_back(std::make_unique_for_overwrite<char[]>(arena_size_));
    arena_used_ = 0;
  }
  char* target = arena_.back().get() + arena_used_;
  std::memcpy(target, data, length);
  arena_used_ += length;
  return target;
}

void TMDOQuery::StoreRow() {
  const std::size_t width = fields_.size();
  const std::size_t chunk_rows = static_cast<std::size_t>(std::max(1, BufferChunks));
  if (row_count_ / chunk_rows == chunks_.size()) {
    chunks_.push_back(
        std::make_unique_for_overwrite<Cell[]>(chunk_rows * std::max<std::size_t>(width, 1)));
  }
  Cell* row = chunks_[row_count_ / chunk_rows].get() + (row_count_ % chunk_rows) * width;
  for (std::size_t f = 0; f < width; ++f) {
    const TMDOField& field = fields_[f];
    const XSQLVAR& var = output_[field.column_];
    Cell& cell = row[f];
    cell.length = 0;
    cell.null = (var.sqltype & 1) && *var.sqlind == -1;
    if (cell.null) {
      cell.integer = 0;
      continue;
    }
    const char* data = var.sqldata;
    switch (var.sqltype & ~1) {
      case SQL_TEXT:
        cell.bytes = ArenaCopy(data, static_cast<std::size_t>(var.sqllen));
        cell.length = static_cast<uint32_t>(var.sqllen);
        break;
      case SQL_VARYING: {
        // The descriptor holds the length in the machine's own byte order.
        ISC_USHORT length;
        std::memcpy(&length, data, sizeof length);
        cell.bytes = ArenaCopy(data + 2, length);
        cell.length = length;
        break;
      }
      case SQL_SHORT: {
        int16_t value;
        std::memcpy(&value, data, sizeof value);
        cell.integer = value;
        break;
      }
      case SQL_LONG: {
        int32_t value;
        std::memcpy(&value, data, sizeof value);
        cell.integer = value;
        break;
      }
      case SQL_INT64:
        std::memcpy(&cell.integer, data, sizeof cell.integer);
        break;
      case SQL_FLOAT: {
        float value;
        std::memcpy(&value, data, sizeof value);
        cell.real = value;
        break;
      }
      case SQL_DOUBLE:
        std::memcpy(&cell.real, data, sizeof cell.real);
        break;
      case SQL_TYPE_DATE:
        std::memcpy(&cell.date, data, sizeof cell.date);
        break;
      case SQL_TYPE_TIME:
        std::memcpy(&cell.time, data, sizeof cell.time);
        break;
      case SQL_TIMESTAMP:
        std::memcpy(&cell.stamp, data, sizeof cell.stamp);
        break;
      case SQL_BLOB:
        std::memcpy(&cell.blob, data, sizeof cell.blob);
        break;
    }
    // Whole numbers with more than four decimals are read as floating point.
    if (field.kind_ == TFieldKind::kFloat && (var.sqltype & ~1) != SQL_FLOAT &&
        (var.sqltype & ~1) != SQL_DOUBLE) {
      cell.real = static_cast<double>(cell.integer) * std::pow(10.0, field.scale_);
    }
  }
  ++row_count_;
}

// ---- Moving and reading -----------------------------------------------------------------------

void TMDOQuery::First() {
  CheckOpen();
  current_ = 0;
  eof_ = row_count_ == 0;
}

void TMDOQuery::Next() {
  CheckOpen();
  if (eof_) return;
  if (current_ + 1 < row_count_ || FetchRow()) {
    ++current_;
  } else {
    eof_ = true;
  }
}

void TMDOQuery::FetchAll() {
  CheckOpen();
  BusyScope busy;
  while (FetchRow()) {
  }
}

TMDOField& TMDOQuery::Fields(int i) {
  CheckOpen();
  if (i < 0 || i >= static_cast<int>(fields_.size())) {
    RaiseDataSetError(FormatMessage(kFieldIndex, {AnsiToWide(std::to_string(i))}));
  }
  return fields_[static_cast<std::size_t>(i)];
}

const TMDOQuery::Cell& TMDOQuery::CurrentCell(int field) const {
  const std::size_t chunk_rows = static_cast<std::size_t>(std::max(1, BufferChunks));
  return chunks_[current_ / chunk_rows]
                [(current_ % chunk_rows) * fields_.size() + static_cast<std::size_t>(field)];
}

std::string_view TMDOQuery::FieldText(int index) {
  const TMDOField& field = Fields(index);
  if (row_count_ == 0) return {};
  return Render(field);
}

std::string_view TMDOQuery::Render(const TMDOField& field) {
  const Cell& cell = CurrentCell(field.index_);
  if (cell.null) return {};
  text_.clear();
  const TFormatSettings& formats = FormatSettings();
  switch (field.kind_) {
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
      AppendInteger(text_, cell.integer);
      break;
    case TFieldKind::kScaled:
      AppendScaled(text_, cell.integer, field.scale_, formats.DecimalSeparator);
      break;
    case TFieldKind::kFloat:
      AppendGeneral(text_, cell.real, formats.DecimalSeparator);
      break;
    case TFieldKind::kDate:
      AppendFormatted(text_, formats.ShortDateFormat, DecodeDate(cell.date), {}, formats);
      break;
    case TFieldKind::kTime:
      AppendFormatted(text_, formats.LongTimeFormat, {}, DecodeTime(cell.time), formats);
      break;
    case TFieldKind::kDateTime: {
      DateAndTime moment = DecodeTimestamp(cell.stamp);
      AppendFormatted(text_, formats.ShortDateFormat, moment.Date, {}, formats);
      if (moment.Time != TimeOfDay{}) {
        text_ += ' ';
        AppendFormatted(text_, formats.LongTimeFormat, moment.Date, moment.Time, formats);
      }
      break;
    }
    case TFieldKind::kTextBlob:
    case TFieldKind::kBinaryBlob:
      return BlobContent(field);
  }
  return text_;
}

const std::string& TMDOQuery::BlobContent(const TMDOField& field) {
  const std::size_t key = current_ * fields_.size() + static_cast<std::size_t>(field.index_);
  auto found = blobs_.find(key);
  if (found != blobs_.end()) return found->second;

  ISC_QUAD id = CurrentCell(field.index_).blob;
  isc_blob_handle blob = 0;
  ISC_STATUS* status = StatusVector();
  if (FB_CALL(isc_open_blob2)(status, database_->Handle(), transaction_->Handle(), &blob, &id, 0,
                              nullptr)) {
    RaiseMDOFirebirdError(status);
  }
  auto fail = [&] {
    EMDOFirebirdError error = MDOFirebirdError(status);
    ISC_STATUS_ARRAY ignored{};
    FB_CALL(isc_close_blob)(ignored, &blob);
    throw error;
  };
  const char items[] = {isc_info_blob_num_segments, isc_info_blob_max_segment,
                        isc_info_blob_total_length, isc_info_blob_type};
  std::array<char, 100> reply{};
  if (FB_CALL(isc_blob_info)(status, &blob, sizeof items, items, static_cast<short>(reply.size()),
                             reply.data())) {
    fail();
  }
  std::size_t total = 0;
  for (std::size_t at = 0; at + 3 <= reply.size() && reply[at] != isc_info_end;) {
    char item = reply[at];
    auto length = static_cast<short>(FB_CALL(isc_vax_integer)(reply.data() + at + 1, 2));
    if (length < 0 || at + 3 + static_cast<std::size_t>(length) > reply.size()) break;
    ISC_LONG value = FB_CALL(isc_vax_integer)(reply.data() + at + 3, length);
    if (item == isc_info_blob_total_length) total = static_cast<std::size_t>(value);
    at += 3 + static_cast<std::size_t>(length);
  }
  std::string content;
  content.reserve(total);
  std::array<char, kBlobPiece> piece;
  while (content.size() < total) {
    unsigned short got = 0;
    auto wanted =
        static_cast<unsigned short>(std::min<std::size_t>(kBlobPiece, total - content.size()));
    ISC_STATUS result = FB_CALL(isc_get_segment)(status, &blob, &got, wanted, piece.data());
    if (result == isc_segstr_eof) break;
    if (result != 0 && result != isc_segment) fail();
    content.append(piece.data(), got);
  }
  if (FB_CALL(isc_close_blob)(status, &blob)) fail();
  return blobs_.emplace(key, std::move(content)).first->second;
}

}  // namespace fesko::db
