// Any download reply: the scan ends, and every pair it returns was in the reply, trimmed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "web/DownloadReply.h"

namespace {

bool Trimmed(std::u16string_view text) {
  return text.empty() || (text.front() > u' ' && text.back() > u' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fesko::WideString reply =
      fesko::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  auto changes = fesko::web::ScanDownloadReply(reply);
  // Each pair removes its four tags from the reply, so there can be no more pairs than that.
  constexpr std::size_t kShortestPair = 7 + 8 + 8 + 9;
  if (changes.size() > reply.size() / kShortestPair) __builtin_trap();
  for (const auto& change : changes) {
    if (!Trimmed(change.code) || !Trimmed(change.state)) __builtin_trap();
    if (reply.find(change.code) == fesko::WideString::npos ||
        reply.find(change.state) == fesko::WideString::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
