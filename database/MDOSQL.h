// The statement layer under the query component: the scan that turns named parameter markers
// into placeholders, the row buffer a fetch writes into, and what the server tells of a
// prepared statement.
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
#include "database/Handles.h"

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

// Points every entry's data and null indicator into one buffer, laid out for the described
// types, so a fetch fills a whole row at once. Returns the buffer's size in bytes.
std::size_t LayOutRowBuffer(SqlDescriptor& descriptor, std::vector<std::uint64_t>& buffer);

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
