#include "base/TextHelpers.h"

namespace fesko {
namespace {

template <typename Char, typename Blank>
std::basic_string_view<Char> TrimIf(std::basic_string_view<Char> text, Blank blank) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

char UpperAnsi(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);  // not ÷
  switch (u) {
    case 0x9A:  // š
    case 0x9C:  // œ
    case 0x9E:  // ž
      return static_cast<char>(u - 0x10);
    case 0xFF:  // ÿ
      return static_cast<char>(0x9F);
    default:
      return c;
  }
}

char LowerAnsi(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);  // not ×
  switch (u) {
    case 0x8A:  // Š
    case 0x8C:  // Œ
    case 0x8E:  // Ž
      return static_cast<char>(u + 0x10);
    case 0x9F:  // Ÿ
      return static_cast<char>(0xFF);
    default:
      return c;
  }
}

std::string_view Trim(std::string_view text) {
  return TrimIf(text, [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::u16string_view Trim(std::u16string_view text) {
  return TrimIf(text, [](char16_t c) { return c <= u' '; });
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  return TrimIf(text, [blanks](char c) { return blanks.find(c) != std::string_view::npos; });
}

std::string_view TrimRight(std::string_view text, std::string_view blanks) {
  while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace fesko
