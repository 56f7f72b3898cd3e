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
#include "database/MDOSQL.h"

namespace fesko::db {

class TMDOQuery;

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

  void First() override;
  void Next() override;
  bool Eof() override { return eof_; }
  bool IsEmpty() const { return !open_ || row_count_ == 0; }
  int FieldCount() override { return static_cast<int>(fields_.size()); }
  TMDOField& Fields(int i);
  std::string_view FieldText(int index) override;
  // Fetches every remaining row; the current row stays.
  void FetchAll();
  int RecordCount() const { return static_cast<int>(row_count_); }

 private:
  friend class TSQLLines;
  friend class TMDOField;

  // One cached value. Texts point into the byte arena; blobs hold their identifier.
  struct Cell {
    union {
      int64_t integer;
      double real;
      const char* bytes;
      ISC_QUAD blob;
      ISC_DATE date;
      ISC_TIME time;
      ISC_TIMESTAMP stamp;
    };
    uint32_t length;
    uint32_t null;
  };

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
  void BindValue(int position, const TMDOParam& param);
  void Execute(bool select);
  // Fetches one row into the cache; false at the end of the result.
  bool FetchRow();
  void StoreRow();
  void AddOutputRow();
  char* ArenaCopy(const char* data, std::size_t length);
  void CloseCursorAndRows() noexcept;
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
  SqlDescriptor input_{1};
  SqlDescriptor output_{1};
  struct Described {
    ISC_SHORT type, scale, subtype, length;
  };
  std::vector<Described> placeholders_;
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
  std::vector<std::unique_ptr<Cell[]>> chunks_;
  std::vector<std::unique_ptr<char[]>> arena_;
  std::size_t arena_used_ = 0;
  std::size_t arena_size_ = 0;
  std::size_t row_count_ = 0;
  std::size_t current_ = 0;
  std::unordered_map<std::size_t, std::string> blobs_;
  std::string text_;  // the rendering buffer FieldText hands out
};

}  // namespace fesko::db
