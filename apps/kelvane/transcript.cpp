#include "transcript.h"

namespace kelvane::cli {

std::string escapeControls(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

void printLine(std::ostream& out, std::string_view text) {
  bool plain = true;
  for (const char c : text) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
  if (plain) {
    out << text << '\n';
  } else {
    out << escapeControls(text) << '\n';
  }
}

}  // namespace kelvane::cli
