// The session's transcript: one line per thing a person would see. Text from the
// document, the page or the add-in may hold line breaks; they are escaped here so
// that one line is always one event.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace kelvane::cli {

// `text` with CR as \r, LF as \n and other control characters as \xNN.
std::string escapeControls(std::string_view text);

// Writes `text`, escaped, and the line break that ends it.
void printLine(std::ostream& out, std::string_view text);

}  // namespace kelvane::cli
