// The query component: one SQL text with named parameters, prepared once per text and run in
// the data module's transaction, with the fetched rows kept in a cache and every column value
// readable as the text the web layer sends. Only the UI thread uses queries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/FormatSettings.h"
#include "base/RowSource.h"
#include "base/TextKinds.h"
#include "database/MDODatabase.h"
#include "database/MDOParams.h"
#include "database/MDORowCache.h"
#include "database/MDOSQL.h"
#include "database/MDOValueText.h"

namespace fesko::db {

class TMDOQuery;

// One column of an open query, read from the current row.
class TMDOField {
 public:
  TFieldKind Kind() const { return kind_; }
  const AnsiString& FieldName() const { return name_; }
  // Declared length in bytes for texts.
  int Size() const { return size_; }

  bool IsNull() const;
  // The value's text ("" for NULL); the view lives until the next call on the query.
  std::string_view Text() const;
  AnsiString AsString() const { return AnsiString(Text()); }
  // Integers as they are (64-bit ones cut to 32 bits), exact numbers rounded half to even,
  // texts converted ("'%s' is not a valid integer value"); NULL gives 0.
  int32_t AsInteger() const;
  // Date, time and date-and-time values; texts are read with the regional formats.
  CalendarDate AsDate() const;
  TimeOfDay AsTime() const;

 private:
  friend class TMDOQuery;
  TMDOQuery* query_ = nullptr;
  int index_ = 0;   // field position
  int column_ = 0;  // position in the output descriptor
  TFieldKind kind_ = TFieldKind::kString;
  int scale_ = 0;
  int size_ = 0;
  AnsiString name_;
};

// The SQL text as lines. Every edit closes the query, releases its statement and rebuilds the
// parameter list.
class TSQLLines {
 public:
  void Clear();
  void Add(std::string_view line);
  int Count() const { return static_cast<int>(lines_.size()); }
  const AnsiString& operator[](int i) const { return lines_[i]; }
  // The lines, each followed by CR LF: the text the server receives.
  AnsiString Text() const;

 private:
  friend class TMDOQuery;
  explicit TSQLLines(TMDOQuery* owner) : owner_(owner) {}
  TMDOQuery* owner_;
  std::vector<AnsiString> lines_;
};

// Called with true before a query waits on the server and with false afterwards; the agent
// shows the busy cursor meanwhile. None by default.
void SetQueryBusyHandler(std::function<void(bool busy)> handler);

class TMDOQuery final : public RowSource, private TransactionClient, private DatabaseClient {
 public:
  explicit TMDOQuery(AnsiString name = {});
  ~TMDOQuery() override;
  TMDOQuery(const TMDOQuery&) = delete;
  TMDOQuery& operator=(const TMDOQuery&) = delete;

  // The component's name, which prefixes its data-set errors.
  const AnsiString& Name() const { return name_; }
  TMDODatabase* Database() const { return database_; }
  void SetDatabase(TMDODatabase* database);
  TMDOTransaction* Transaction() const { return transaction_; }
  void SetTransaction(TMDOTransaction* transaction);
  // Rows by which the cache grows.
  int BufferChunks = 1000;

  TSQLLines& SQL() { return sql_; }
  int ParamCount() const { return static_cast<int>(params_.size()); }
  TMDOParam& Params(int i) { return params_[i]; }
  // The parameter of that name, without regard to case; "Parameter '%s' not found" if none.
  TMDOParam& ParamByName(std::string_view name);

  void Open();
  void ExecSQL();
  void Close();
  bool Active() const { return open_; }
  // The rows the last Open or ExecSQL inserted, updated or deleted, as the server counted them;
  // -1 for a select or a statement that touches no rows, and before the first run.
  int RowsAffected() const { return rows_affected_; }

  void First() override;
  void Next() override;
  bool Eof() override { return eof_; }
  bool IsEmpty() const { return !open_ || rows_.Count() == 0; }
  int FieldCount() override { return static_cast<int>(fields_.size()); }
  TMDOField& Fields(int i);
  std::string_view FieldText(int index) override;
  // Fetches every remaining row; the current row stays.
  void FetchAll();
  int RecordCount() const { return static_cast<int>(rows_.Count()); }

 private:
  friend class TSQLLines;
  friend class TMDOField;

  // TransactionClient, DatabaseClient
  void TransactionEnding() override;
  bool IsOpen() const override { return open_; }
  void DatabaseClosing() override;

  void SQLChanged();
  [[noreturn]] void RaiseDataSetError(std::u16string_view message) const;
  void CheckOpen() const;
  void StartTransactionIfNeeded();
  // Ends the transaction this query started: commits unless another query on it is open.
  void EndAutomaticTransaction();
  void Prepare();
  void ReleaseStatement() noexcept;
  void DescribeOutput();
  void CreateFields();
  void Bind();
  // Open and ExecSQL: runs the statement; on any error closes what it opened and ends the
  // automatic transaction before the error goes on.
  void Execute(bool open);
  // Opens the result of a select, or of a procedure's one row of outputs.
  void OpenResult(bool procedure);
  // After a statement that may change rows: what the server counted for it.
  void CountAffectedRows();
  // Fetches one row into the cache; false at the end of the result.
  bool FetchRow();
  void StoreRow();
  void CloseCursorAndRows() noexcept;
  // After a failure: the result and the automatic transaction go, the failure is what counts.
  void Abandon() noexcept;
  const Cell& CurrentCell(int field) const;
  std::string_view Render(const TMDOField& field);
  const std::string& BlobContent(const TMDOField& field);

  AnsiString name_;
  TMDODatabase* database_ = nullptr;
  TMDOTransaction* transaction_ = nullptr;
  TSQLLines sql_{this};
  std::vector<TMDOParam> params_;
  std::vector<int> marker_params_;  // parameter of each marker, in text order
  std::string cursor_name_;

  // The prepared statement.
  StatementHandle statement_;
  bool prepared_ = false;
  int statement_type_ = 0;
  int rows_affected_ = -1;
  SqlDescriptor input_{1};
  SqlDescriptor output_{1};
  std::vector<DescribedPlaceholder> placeholders_;
  std::vector<std::string> bind_buffers_;
  std::vector<ISC_SHORT> bind_nulls_;
  std::vector<std::uint64_t> row_buffer_;

  // The open result.
  bool open_ = false;
  bool cursor_open_ = false;
  bool started_transaction_ = false;
  bool eof_ = true;
  bool end_reached_ = true;
  std::vector<TMDOField> fields_;
  std::vector<CachedColumn> columns_;  // where each field's value stands in a fetched row
  RowCache rows_;
  std::size_t current_ = 0;
  std::unordered_map<std::size_t, std::string> blobs_;
  std::string text_;  // the rendering buffer FieldText hands out
};

}  // namespace fesko::db
