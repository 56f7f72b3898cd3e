// Any statement text: the scan succeeds or raises its parse error, and the text it hands the
// server holds exactly one placeholder per parameter, so no value can land in the wrong place.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "database/MDOErrors.h"
#include "database/MDOSQL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  fesko::db::ScannedSQL scanned;
  try {
    scanned = fesko::db::ScanSQL(text);
  } catch (const fesko::db::EMDOError&) {
    return 0;
  }
  if (scanned.text.size() > text.size()) __builtin_trap();
  if (fesko::db::ScanMarkerNames(text) != scanned.names) __builtin_trap();
  // The server sees '?' placeholders only: scanning its text again finds the same number.
  fesko::db::ScannedSQL again = fesko::db::ScanSQL(scanned.text);
  if (again.text != scanned.text || again.names.size() != scanned.names.size()) __builtin_trap();
  for (const auto& name : again.names) {
    if (!name.empty()) __builtin_trap();
  }
  return 0;
}
