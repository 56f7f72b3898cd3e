#include "web/DownloadReply.h"

#include <string_view>

#include "base/TextHelpers.h"

namespace fesko::web {
namespace {

// Blanks and control characters off both ends.
WideString TrimControls(std::u16string_view text) {
  return WideString(Trim(text));
}

// 1-based position of the first occurrence, 0 when absent.
long Pos(std::u16string_view needle, std::u16string_view text) {
  auto at = text.find(needle);
  return at == std::u16string_view::npos ? 0 : static_cast<long>(at) + 1;
}

// `count` characters from the 1-based `start`; a start below 1 counts as 1.
std::u16string_view Copy(std::u16string_view text, long start, long count) {
  if (start < 1) start = 1;
  if (count <= 0 || start > static_cast<long>(text.size())) return {};
  return text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
}

}  // namespace

std::vector<BudgetStateChange> ScanDownloadReply(WideString reply) {
  static constexpr std::u16string_view kError = u"<Error>";
  static constexpr std::u16string_view kErrorEnd = u"</Error>";
  static constexpr std::u16string_view kOrden = u"<Orden>";
  static constexpr std::u16string_view kOrdenEnd = u"</Orden>";
  static constexpr std::u16string_view kEstado = u"<Estado>";
  static constexpr std::u16string_view kEstadoEnd = u"</Estado>";

  std::vector<BudgetStateChange> changes;
  long p = Pos(kError, reply), q = Pos(kErrorEnd, reply);
  if (reply.empty() || !TrimControls(Copy(reply, p + 7, q - p - 7)).empty() ||
      Pos(kOrden, reply) == 0) {
    return changes;
  }
  while (true) {
    long o = Pos(kOrden, reply), c = Pos(kOrdenEnd, reply);
    long e = Pos(kEstado, reply), f = Pos(kEstadoEnd, reply);
    // A pair is "<Orden>", "</Orden>", "<Estado>", "</Estado>" in that order; anything else
    // would remove nothing and find the same tags again, so the scan ends there.
    if (!(o > 0 && c > o && e > c && f > e)) break;
    changes.push_back({TrimControls(Copy(reply, o + 7, c - (o + 7))),
                       TrimControls(Copy(reply, e + 8, f - (e + 8)))});
    reply.erase(static_cast<std::size_t>(o - 1), static_cast<std::size_t>(f - o + 9));
    if (Pos(kOrden, reply) == 0) break;
  }
  return changes;
}

}  // namespace fesko::web
