// Small text helpers shared by the core. All text is UTF-8; "character" means a
// code point, so the rules about first characters and lengths count characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::text {

// Removes leading and trailing ' ' only (not tabs).
std::string trimSpaces(std::string_view s);
std::string trimLeftSpaces(std::string_view s);
std::string trimRightSpaces(std::string_view s);
// The same without a copy: a view into `s`. Inline: parsers call it for every column.
inline std::string_view trimmedView(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return s.substr(0, 0);
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Splits at every occurrence of `sep`; "" gives one empty piece, "a;" gives "a" and "".
std::vector<std::string> split(std::string_view s, char sep);
// The same into `pieces` (cleared first), as views into `s`; lets a caller reuse one
// vector for many lines.
void splitViews(std::string_view s, char sep, std::vector<std::string_view>& pieces);

// The first character (one UTF-8 sequence) of `s`, "" for an empty string.
std::string_view firstChar(std::string_view s);

// Number of characters (code points) in `s`.
std::size_t charCount(std::string_view s);

// Upper-cases the first letter of every blank-separated word and lower-cases the
// rest (ASCII, Latin-1 and the other letters of Windows-1252). Bytes that are not
// valid UTF-8 pass through unchanged.
std::string properCase(std::string_view s);
// The same on `n` bytes in place: every case pair has the same UTF-8 length.
void properCaseInPlace(char* p, std::size_t n);

// Replaces every `from` by `to`.
std::string replaceAll(std::string_view s, char from, char to);

}  // namespace kelvane::text
