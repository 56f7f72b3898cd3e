// The statement layer under the query component: the scan that turns named parameter markers
// into placeholders, the owners of the client library's statement handle and descriptors, and
// the row buffer a fetch writes into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/TextKinds.h"
#include "database/FbClient.h"

namespace fesko::db {

// A statement text with its markers replaced by '?', and the marker names in order ("" for a
// '?' written in the text).
struct ScannedSQL {
  std::string text;
  std::vector<AnsiString> names;
};

// Scans a statement: outside quotes and /* */ comments, ":name", ':"quoted name"' and '?' are
// markers. Line comments are not recognised, so a colon in one starts a marker. Raises client
// error 55 for a colon without a name and for a text that ends inside a literal or a comment.
ScannedSQL ScanSQL(std::string_view text);
// The same without raising: the markers found before the first fault. Used while the text is
// still being edited, when a literal may open on one line and close on the next.
std::vector<AnsiString> ScanMarkerNames(std::string_view text);

// Owns an extended descriptor (XSQLDA) with room for `capacity` entries.
class SqlDescriptor {
 public:
  explicit SqlDescriptor(int capacity = 1);
  SqlDescriptor(SqlDescriptor&&) noexcept = default;
  SqlDescriptor& operator=(SqlDescriptor&&) noexcept = default;

  XSQLDA* get() { return reinterpret_cast<XSQLDA*>(storage_.get()); }
  const XSQLDA* get() const { return reinterpret_cast<const XSQLDA*>(storage_.get()); }
  // Entries the statement described (sqld); may exceed the capacity until resized.
  int Described() const { return get()->sqld; }
  int Capacity() const { return get()->sqln; }
  XSQLVAR& operator[](int i) { return get()->sqlvar[i]; }
  const XSQLVAR& operator[](int i) const { return get()->sqlvar[i]; }

 private:
  std::unique_ptr<std::max_align_t[]> storage_;
};

// Points every entry's data and null indicator into one buffer, laid out for the described
// types, so a fetch fills a whole row at once. Returns the buffer's size in bytes.
std::size_t LayOutRowBuffer(SqlDescriptor& descriptor, std::vector<std::uint64_t>& buffer);

// One prepared statement handle of the client library; dropped when the owner goes.
class StatementHandle {
 public:
  StatementHandle() = default;
  ~StatementHandle() { Drop(); }
  StatementHandle(StatementHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  StatementHandle& operator=(StatementHandle&& other) noexcept {
    if (this != &other) {
      Drop();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;

  // Allocates a handle on the attachment; the server error on failure.
  void Allocate(isc_db_handle* database);
  bool Allocated() const { return handle_ != 0; }
  isc_stmt_handle* get() { return &handle_; }
  // Closes an open cursor; a cursor that is already closed is no error.
  void CloseCursor() noexcept;
  // Releases the statement on the server. Errors are ignored: the handle is gone either way.
  void Drop() noexcept;

 private:
  isc_stmt_handle handle_ = 0;
};

// The statement type the server reports (isc_info_sql_stmt_*); client error 0 when the reply
// lacks it.
int StatementType(StatementHandle& statement);
// The rows the statement's last execution inserted, updated and deleted, as the server counts
// them (isc_info_sql_records).
struct RecordCounts {
  long inserted = 0;
  long updated = 0;
  long deleted = 0;
};
RecordCounts StatementRecordCounts(StatementHandle& statement);

}  // namespace fesko::db
