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

// Splits at every occurrence of `sep`; "" gives one empty piece, "a;" gives "a" and "".
std::vector<std::string> split(std::string_view s, char sep);

// The first character (one UTF-8 sequence) of `s`, "" for an empty string.
std::string_view firstChar(std::string_view s);

// Number of characters (code points) in `s`.
std::size_t charCount(std::string_view s);

// Upper-cases the first letter of every blank-separated word and lower-cases the
// rest (ASCII and Latin-1 letters).
std::string properCase(std::string_view s);

// Replaces every `from` by `to`.
std::string replaceAll(std::string_view s, char from, char to);

}  // namespace kelvane::text
