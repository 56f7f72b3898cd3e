#include "database/MDOSQL.h"

#include <algorithm>
#include <array>
#include <utility>

#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

constexpr std::u16string_view kNameExpected = u"Parameter name expected";
constexpr std::u16string_view kEofInString = u"EOF in string detected";
constexpr std::u16string_view kEofInComment = u"EOF in comment detected";

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

enum class ScanFault { kNone, kNameExpected, kEofInString, kEofInComment };

// The one scanner behind both entry points: stops at the first fault and says which.
ScanFault Scan(std::string_view text, std::string* out, std::vector<AnsiString>* names) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\'' || c == '"') {
      // Literals and quoted identifiers; a doubled quote closes and reopens, which copies the
      // same bytes.
      std::size_t end = text.find(c, i + 1);
      if (end == std::string_view::npos) return ScanFault::kEofInString;
      if (out) out->append(text.substr(i, end + 1 - i));
      i = end + 1;
      continue;
    }
    if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      std::size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) return ScanFault::kEofInComment;
      if (out) out->append(text.substr(i, end + 2 - i));
      i = end + 2;
      continue;
    }
    if (c == '?') {
      names->emplace_back();
      if (out) *out += '?';
      ++i;
      continue;
    }
    if (c == ':') {
      std::size_t start = i + 1;
      if (start < n && text[start] == '"') {
        std::size_t end = text.find('"', start + 1);
        if (end == std::string_view::npos) return ScanFault::kEofInString;
        names->emplace_back(text.substr(start + 1, end - start - 1));
        i = end + 1;
      } else {
        std::size_t end = start;
        while (end < n && IsNameChar(text[end])) ++end;
        if (end == start) return ScanFault::kNameExpected;
        names->emplace_back(text.substr(start, end - start));
        i = end;
      }
      if (out) *out += '?';
      continue;
    }
    if (out) *out += c;
    ++i;
  }
  return ScanFault::kNone;
}

}  // namespace

ScannedSQL ScanSQL(std::string_view text) {
  ScannedSQL scanned;
  scanned.text.reserve(text.size());
  switch (Scan(text, &scanned.text, &scanned.names)) {
    case ScanFault::kNone:
      return scanned;
    case ScanFault::kNameExpected:
      RaiseMDOClientError(mdoSQLParseError, {WideString(kNameExpected)});
    case ScanFault::kEofInString:
      RaiseMDOClientError(mdoSQLParseError, {WideString(kEofInString)});
    case ScanFault::kEofInComment:
      RaiseMDOClientError(mdoSQLParseError, {WideString(kEofInComment)});
  }
  return scanned;
}

std::vector<AnsiString> ScanMarkerNames(std::string_view text) {
  std::vector<AnsiString> names;
  Scan(text, nullptr, &names);
  return names;
}

std::size_t LayOutRowBuffer(SqlDescriptor& descriptor, std::vector<std::uint64_t>& buffer) {
  const int count = descriptor.Described();
  // Offsets first, so the buffer is allocated once and never moves under the pointers.
  std::vector<std::size_t> data_offsets(count);
  std::size_t size = 0;
  for (int i = 0; i < count; ++i) {
    const XSQLVAR& var = descriptor[i];
    std::size_t length = static_cast<std::size_t>(var.sqllen);
    if ((var.sqltype & ~1) == SQL_VARYING) length += 2;
    data_offsets[i] = size;
    size += (length + 7) / 8 * 8;
  }
  std::size_t indicators = size;
  size += static_cast<std::size_t>(count) * 8;
  buffer.assign(size / 8 + 1, 0);
  char* base = reinterpret_cast<char*>(buffer.data());
  for (int i = 0; i < count; ++i) {
    XSQLVAR& var = descriptor[i];
    var.sqldata = base + data_offsets[i];
    var.sqlind = reinterpret_cast<ISC_SHORT*>(base + indicators + static_cast<std::size_t>(i) * 8);
  }
  return size;
}

// ---- StatementHandle ------------------------------------------------------------------------

int StatementType(StatementHandle& statement) {
  const char item = isc_info_sql_stmt_type;
  std::array<char, 16> reply{};
  CheckStatus(FB_CALL(isc_dsql_sql_info)(StatusVector(), statement.get(), 1, &item,
                                         static_cast<short>(reply.size()), reply.data()));
  if (reply[0] != isc_info_sql_stmt_type) RaiseMDOClientError(mdoUnknownError);
  auto length = static_cast<short>(FB_CALL(isc_vax_integer)(reply.data() + 1, 2));
  return static_cast<int>(FB_CALL(isc_vax_integer)(reply.data() + 3, length));
}

RecordCounts StatementRecordCounts(StatementHandle& statement) {
  const char item = isc_info_sql_records;
  std::array<char, 64> reply{};
  CheckStatus(FB_CALL(isc_dsql_sql_info)(StatusVector(), statement.get(), 1, &item,
                                         static_cast<short>(reply.size()), reply.data()));
  if (reply[0] != isc_info_sql_records) RaiseMDOClientError(mdoUnknownError);
  auto vax = [](const char* at, short length) {
    return static_cast<long>(FB_CALL(isc_vax_integer)(at, length));
  };
  // The item's length, then clusters of a count item, its length and its value, up to the end.
  const std::size_t end = std::min(reply.size(), 3 + static_cast<std::size_t>(vax(&reply[1], 2)));
  RecordCounts counts;
  for (std::size_t at = 3; at + 3 <= end && reply[at] != isc_info_end;) {
    const char count_item = reply[at];
    const auto length = static_cast<short>(vax(&reply[at + 1], 2));
    if (at + 3 + static_cast<std::size_t>(length) > end) RaiseMDOClientError(mdoUnknownError);
    const long value = vax(&reply[at + 3], length);
    if (count_item == isc_info_req_insert_count) counts.inserted = value;
    if (count_item == isc_info_req_update_count) counts.updated = value;
    if (count_item == isc_info_req_delete_count) counts.deleted = value;
    at += 3 + static_cast<std::size_t>(length);
  }
  return counts;
}

}  // namespace fesko::db
