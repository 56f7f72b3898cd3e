#include "base/TextKinds.h"

#include <array>
#include <cstdint>

namespace fesko {
namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of Windows-1252 equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(WideString& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

}  // namespace

WideString AnsiToWide(std::string_view ansi) {
  WideString wide;
  AppendAnsiToWide(wide, ansi);
  return wide;
}

void AppendAnsiToWide(WideString& wide, std::string_view ansi) {
  // Sized once and written in place: documents of whole tables come through here.
  std::size_t start = wide.size();
  wide.resize(start + ansi.size());
  char16_t* out = wide.data() + start;
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    auto b = static_cast<unsigned char>(ansi[i]);
    out[i] = (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : static_cast<char16_t>(b);
  }
}

AnsiString WideToAnsi(std::u16string_view wide) {
  AnsiString ansi;
  ansi.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size();) {
    // A character outside the basic plane is outside the code page too, and written once.
    char32_t c = NextCharacter(wide, i);
    ansi += c > 0xFFFF ? '?' : ToAnsi(static_cast<char16_t>(c));
  }
  return ansi;
}

char32_t NextCharacter(std::u16string_view wide, std::size_t& i) {
  char32_t c = wide[i++];
  if (c < 0xD800 || c >= 0xE000) return c;
  if (c < 0xDC00 && i < wide.size() && wide[i] >= 0xDC00 && wide[i] < 0xE000) {
    return 0x10000 + ((c - 0xD800) << 10) + (wide[i++] - 0xDC00);
  }
  return kReplacement;
}

std::size_t EncodeUtf8(char32_t c, char* out) {
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (c < 0x80) {
    out[0] = byte(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = byte(0xC0 | (c >> 6));
    out[1] = byte(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = byte(0xE0 | (c >> 12));
    out[1] = byte(0x80 | ((c >> 6) & 0x3F));
    out[2] = byte(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (c >> 18));
  out[1] = byte(0x80 | ((c >> 12) & 0x3F));
  out[2] = byte(0x80 | ((c >> 6) & 0x3F));
  out[3] = byte(0x80 | (c & 0x3F));
  return 4;
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  char bytes[kMaxUtf8Bytes];
  for (std::size_t i = 0; i < wide.size();) {
    out.append(bytes, EncodeUtf8(NextCharacter(wide, i), bytes));
  }
  return out;
}

WideString Utf8ToWide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    auto b = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
      out += static_cast<char16_t>(kReplacement);
      i = ok ? j : i + 1;
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

bool IsWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    auto first = static_cast<unsigned char>(text[i + 1]);
    if (first < low || first > high) return false;
    for (std::size_t k = 2; k <= extra; ++k) {
      if (!IsContinuation(static_cast<unsigned char>(text[i + k]))) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace fesko
