// The parameter blocks a connection attaches with and a transaction starts with, built from
// text lines "name=value" by the client library's parameter names.
#pragma once

#include <string>
#include <vector>

#include "base/TextKinds.h"
#include "database/MDOErrors.h"

namespace fesko::db {

// Text lines "name=value", with the string list's rules for setting a value by name.
class ParamList {
 public:
  const std::vector<AnsiString>& Lines() const { return lines_; }
  void Add(const AnsiString& line) { lines_.push_back(line); }
  void Clear() { lines_.clear(); }
  // Names match without regard to case; an empty value removes the line.
  void SetValue(const AnsiString& name, const AnsiString& value);
  AnsiString Value(const AnsiString& name) const;

 private:
  int IndexOfName(const AnsiString& name) const;
  std::vector<AnsiString> lines_;
};

// The database parameter block for these lines (version byte first).
std::string BuildDatabaseParameterBlock(const std::vector<AnsiString>& lines,
                                        ErrorSide side = ErrorSide::kQuery);
// The transaction parameter block: empty for no lines, else the version byte and the items.
std::string BuildTransactionParameterBlock(const std::vector<AnsiString>& lines);

}  // namespace fesko::db
