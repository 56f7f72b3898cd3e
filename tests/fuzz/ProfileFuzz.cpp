// Any settings file: a key written with the profile rules reads back as written, and the write
// leaves another key's value alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ConfigFile.h"

namespace {

// Section and key names as the program spells them: letters, digits and underscores.
std::string Name(FuzzedDataProvider& input) {
  std::string name;
  for (char c : input.ConsumeRandomLengthString(12)) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      name += c;
    }
  }
  return name.empty() ? std::string("k") : name;
}

// What reading gives back for a written value: blanks off, one pair of quotes off, cut short.
std::string AsRead(std::string_view value) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!value.empty() && blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && blank(value.back())) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, 2047));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string section = Name(input), key = Name(input);
  std::string otherSection = Name(input), otherKey = Name(input);
  std::string value = input.ConsumeRandomLengthString(64);
  // A value is one line; the writer refuses line breaks before it gets here.
  if (value.find_first_of("\r\n") != std::string::npos) return 0;
  std::string contents = input.ConsumeRemainingBytesAsString();

  std::string otherBefore = fesko::ProfileValue(contents, otherSection, otherKey);
  std::string written = fesko::ProfileWithValue(contents, section, key, value);
  if (fesko::ProfileValue(written, section, key) != AsRead(value)) __builtin_trap();
  if (!(SameName(section, otherSection) && SameName(key, otherKey)) &&
      fesko::ProfileValue(written, otherSection, otherKey) != otherBefore) {
    __builtin_trap();
  }
  return 0;
}
