#include "base/Errors.h"

#include <typeinfo>

namespace fesko {

Exception::Exception(WideString message)
    : message_(std::move(message)), utf8_(WideToUtf8(message_)) {}

const char* ErrorClassName(const std::exception& error) noexcept {
  if (auto* own = dynamic_cast<const Exception*>(&error)) return own->ClassName();
  if (dynamic_cast<const std::bad_alloc*>(&error)) return "EOutOfMemory";
  return "Exception";
}

WideString ErrorMessage(const std::exception& error) {
  if (auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
  return Utf8ToWide(error.what());
}

WideString FormatMessage(std::u16string_view pattern, std::initializer_list<WideString> args) {
  WideString out;
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size()) {
      char16_t kind = pattern[i + 1];
      if (kind == u'%') {
        out += u'%';
        ++i;
        continue;
      }
      if (kind == u's' || kind == u'd') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

}  // namespace fesko
