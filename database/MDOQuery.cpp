#include "database/MDOQuery.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <random>

#include "base/TextHelpers.h"
#include "database/MDOBlob.h"
#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

constexpr std::u16string_view kParamNotFound = u"Parameter '%s' not found";
constexpr std::u16string_view kOpenDataSet = u"Cannot perform this operation on an open dataset";
constexpr std::u16string_view kClosedDataSet = u"Cannot perform this operation on a closed dataset";
constexpr std::u16string_view kParamCountMismatch = u"Parameter count mismatch";
constexpr std::u16string_view kFieldIndex = u"Field index out of range (%d)";

constexpr ISC_LONG kFetchEnd = 100;

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

void SetQueryBusyHandler(std::function<void(bool busy)> handler) {
  BusyHandler() = std::move(handler);
}

// ---- TMDOField --------------------------------------------------------------------------------

bool TMDOField::IsNull() const {
  query_->CheckOpen();
  if (query_->rows_.Count() == 0) return true;
  return query_->CurrentCell(index_).null != 0;
}

std::string_view TMDOField::Text() const {
  return query_->FieldText(index_);
}

int32_t TMDOField::AsInteger() const {
  if (IsNull()) return 0;
  const Cell& cell = query_->CurrentCell(index_);
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
  const Cell& cell = query_->CurrentCell(index_);
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
  const Cell& cell = query_->CurrentCell(index_);
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
    CheckStatus(FB_CALL(isc_dsql_prepare)(status, transaction_->Handle(), statement_.get(), 0,
                                          scanned.text.c_str(), dialect, nullptr));
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
      CheckStatus(FB_CALL(isc_dsql_describe_bind)(status, statement_.get(), dialect, input_.get()));
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
  CheckStatus(FB_CALL(isc_dsql_describe)(status, statement_.get(), dialect, output_.get()));
  if (output_.Described() > output_.Capacity()) {
    output_ = SqlDescriptor(output_.Described());
    CheckStatus(FB_CALL(isc_dsql_describe)(status, statement_.get(), dialect, output_.get()));
  }
  LayOutRowBuffer(output_, row_buffer_);
}

void TMDOQuery::CreateFields() {
  fields_.clear();
  columns_.clear();
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
    // Whole numbers with more than four decimals are read as floating point.
    const int type = var.sqltype & ~1;
    columns_.push_back({column, var.sqlscale,
                        kind == TFieldKind::kFloat && type != SQL_FLOAT && type != SQL_DOUBLE});
  }
  rows_.Reset(fields_.size(), BufferChunks);
}
// ---- Binding ----------------------------------------------------------------------------------

void TMDOQuery::Bind() {
  const BindContext context{database_->DBSQLDialect(), database_->Handle(), transaction_->Handle()};
  for (std::size_t i = 0; i < marker_params_.size(); ++i) {
    BindTarget target{input_[static_cast<int>(i)], placeholders_[i], bind_buffers_[i],
                      bind_nulls_[i]};
    BindParam(target, params_[static_cast<std::size_t>(marker_params_[i])], context);
  }
}

// ---- Open, ExecSQL, Close ---------------------------------------------------------------------

void TMDOQuery::Open() {
  if (open_) return;
  Execute(true);
}

void TMDOQuery::ExecSQL() {
  if (open_) RaiseDataSetError(kOpenDataSet);
  Execute(false);
}

void TMDOQuery::Execute(bool open) {
  if (IsBlankText(sql_)) RaiseMDOClientError(mdoEmptySQLStatement);
  rows_affected_ = -1;
  BusyScope busy;
  StartTransactionIfNeeded();
  try {
    Prepare();
    Bind();
    const bool select = statement_type_ == isc_info_sql_stmt_select ||
                        statement_type_ == isc_info_sql_stmt_select_for_upd;
    const bool procedure = statement_type_ == isc_info_sql_stmt_exec_procedure;
    if (select && !open) RaiseMDOClientError(mdoCannotExecuteSelect);
    const unsigned short dialect = static_cast<unsigned short>(database_->DBSQLDialect());
    XSQLDA* in = marker_params_.empty() ? nullptr : input_.get();
    ISC_STATUS* status = StatusVector();
    if (select) {
      // Opens the cursor.
      CheckStatus(FB_CALL(isc_dsql_execute2)(status, transaction_->Handle(), statement_.get(),
                                             dialect, in, nullptr));
      cursor_open_ = true;
      CheckStatus(
          FB_CALL(isc_dsql_set_cursor_name)(status, statement_.get(), cursor_name_.c_str(), 0));
      OpenResult(false);
    } else if (procedure) {
      // A procedure's one row of outputs arrives with the execution.
      CheckStatus(FB_CALL(isc_dsql_execute2)(status, transaction_->Handle(), statement_.get(),
                                             dialect, in, output_.get()));
      if (open) OpenResult(true);
    } else {
      // Not a result set: run it and stay closed.
      CheckStatus(
          FB_CALL(isc_dsql_execute)(status, transaction_->Handle(), statement_.get(), dialect, in));
    }
    if (!select) CountAffectedRows();
  } catch (...) {
    Abandon();
    throw;
  }
  if (!open_) EndAutomaticTransaction();
}

void TMDOQuery::CountAffectedRows() {
  switch (statement_type_) {
    case isc_info_sql_stmt_insert:
    case isc_info_sql_stmt_update:
    case isc_info_sql_stmt_delete:
    case isc_info_sql_stmt_exec_procedure: {
      // A procedure, or an update with RETURNING, may do any of the three.
      RecordCounts counts = StatementRecordCounts(statement_);
      rows_affected_ = static_cast<int>(counts.inserted + counts.updated + counts.deleted);
      break;
    }
    default:
      break;
  }
}

void TMDOQuery::OpenResult(bool procedure) {
  CreateFields();
  open_ = true;
  current_ = 0;
  if (procedure) {
    StoreRow();
    end_reached_ = true;
    eof_ = false;
  } else {
    end_reached_ = false;
    eof_ = !FetchRow();
  }
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
  columns_.clear();
  rows_.Clear();
  current_ = 0;
  eof_ = true;
  end_reached_ = true;
  blobs_.clear();
}

void TMDOQuery::Abandon() noexcept {
  CloseCursorAndRows();
  try {
    EndAutomaticTransaction();
  } catch (...) {
    // The failure that brought us here is the one to report.
  }
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
    Abandon();
    throw error;
  }
  StoreRow();
  return true;
}

void TMDOQuery::StoreRow() {
  rows_.Store(output_, columns_);
}

// ---- Moving and reading -----------------------------------------------------------------------

void TMDOQuery::First() {
  CheckOpen();
  current_ = 0;
  eof_ = rows_.Count() == 0;
}

void TMDOQuery::Next() {
  CheckOpen();
  if (eof_) return;
  if (current_ + 1 < rows_.Count() || FetchRow()) {
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

const Cell& TMDOQuery::CurrentCell(int field) const {
  return rows_.At(current_, static_cast<std::size_t>(field));
}

std::string_view TMDOQuery::FieldText(int index) {
  const TMDOField& field = Fields(index);
  if (rows_.Count() == 0) return {};
  return Render(field);
}

std::string_view TMDOQuery::Render(const TMDOField& field) {
  const Cell& cell = CurrentCell(field.index_);
  if (cell.null) return {};
  if (field.kind_ == TFieldKind::kTextBlob || field.kind_ == TFieldKind::kBinaryBlob) {
    return BlobContent(field);
  }
  return CellText(cell, field.kind_, field.scale_, text_, FormatSettings());
}

const std::string& TMDOQuery::BlobContent(const TMDOField& field) {
  const std::size_t key = current_ * fields_.size() + static_cast<std::size_t>(field.index_);
  auto found = blobs_.find(key);
  if (found != blobs_.end()) return found->second;
  std::string content =
      ReadBlob(database_->Handle(), transaction_->Handle(), CurrentCell(field.index_).blob);
  return blobs_.emplace(key, std::move(content)).first->second;
}

}  // namespace fesko::db
