// Case-insensitive comparison and trimming of text, the few ways the program needs them.
#pragma once

#include <string>
#include <string_view>

namespace fesko {

// The blanks the program trims, every set named here. A parameter-block line is blank only when
// it holds spaces; a date, a time or a number read from one line may have tabs round it; the
// lines of text files and of protocols may also carry their line ends.
inline constexpr std::string_view kSpaceOnly = " ";
inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kBlanksAndLineEnds = " \t\r\n";

// ASCII letters only: every other byte stands for itself, whatever the process's locale.
char LowerAscii(char c);
std::string LowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// Windows-1252 case: the ASCII letters, the accented letters of Latin-1 and the pairs the code
// page adds (Š, Œ, Ž, Ÿ). No letter changes length.
char UpperAnsi(char c);
char LowerAnsi(char c);

// Blanks and control characters (everything up to the space) off both ends.
std::string_view Trim(std::string_view text);
std::u16string_view Trim(std::u16string_view text);
// Only the characters of `blanks`, off both ends or off the end.
std::string_view Trim(std::string_view text, std::string_view blanks);
std::string_view TrimRight(std::string_view text, std::string_view blanks);

}  // namespace fesko
