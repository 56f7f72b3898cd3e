// The two kinds of text of the program and the only conversions between them.
// ANSI text is std::string holding Windows-1252 bytes (database values, record builders);
// wide text is std::u16string holding UTF-16 (documents, service parameters and results).
#pragma once

#include <string>
#include <string_view>

namespace fesko {

using AnsiString = std::string;
using WideString = std::u16string;

// Windows-1252 -> UTF-16. Every byte maps to one code unit; the five bytes the code page leaves
// undefined map to the control characters of the same number, as the platform converter does.
WideString AnsiToWide(std::string_view ansi);
// The same appended to `wide`, without a converted copy in between.
void AppendAnsiToWide(WideString& wide, std::string_view ansi);

// UTF-16 -> Windows-1252. A character the code page cannot hold becomes '?'.
AnsiString WideToAnsi(std::u16string_view wide);

// UTF-8 helpers for the edges (standard error, libxml2, libcurl). Malformed input is replaced
// with U+FFFD rather than dropped, so a message never silently loses text.
std::string WideToUtf8(std::u16string_view wide);
WideString Utf8ToWide(std::string_view utf8);

// The same coding a character at a time, for text written out in pieces: the character at `i`
// (a surrogate pair read as one, a lone surrogate as U+FFFD), moving `i` past it; and its UTF-8
// bytes written to `out`, which has room for kMaxUtf8Bytes, returning how many.
char32_t NextCharacter(std::u16string_view wide, std::size_t& i);
inline constexpr std::size_t kMaxUtf8Bytes = 4;
std::size_t EncodeUtf8(char32_t c, char* out);

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text);

// Shorthands used where ANSI text meets a UTF-8 edge.
inline std::string AnsiToUtf8(std::string_view ansi) {
  return WideToUtf8(AnsiToWide(ansi));
}
inline AnsiString Utf8ToAnsi(std::string_view utf8) {
  return WideToAnsi(Utf8ToWide(utf8));
}

}  // namespace fesko
