#include "common/text.h"

#include <algorithm>
#include <cstdint>

namespace kelvane::text {

std::string trimLeftSpaces(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return std::string(s.substr(b));
}

std::string trimRightSpaces(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return std::string(s.substr(0, e));
}

std::string trimSpaces(std::string_view s) { return trimLeftSpaces(trimRightSpaces(s)); }

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = s.find(sep, start);
    if (at == std::string_view::npos) {
      pieces.emplace_back(s.substr(start));
      return pieces;
    }
    pieces.emplace_back(s.substr(start, at - start));
    start = at + 1;
  }
}

namespace {

// Length of the UTF-8 sequence that starts with byte `b`; a stray byte counts as one.
std::size_t seqLen(unsigned char b) {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

// Lower/upper case of ASCII and of the Latin-1 letters U+00C0..U+00FE (not U+00D7, U+00F7).
char32_t toUpper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  return c;
}
char32_t toLower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

}  // namespace

std::string_view firstChar(std::string_view s) {
  if (s.empty()) return s;
  return s.substr(0, std::min(seqLen(static_cast<unsigned char>(s[0])), s.size()));
}

std::size_t charCount(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += seqLen(static_cast<unsigned char>(s[i]))) ++n;
  return n;
}

std::string properCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool startOfWord = true;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t len = std::min(seqLen(b), s.size() - i);
    char32_t c = 0;
    if (len == 1) {
      c = b;
    } else if (len == 2 && b >= 0xC2 && b <= 0xC3) {
      c = ((b & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
    } else {
      // Letters outside Latin-1 are left as they are.
      out.append(s.substr(i, len));
      startOfWord = false;
      i += len;
      continue;
    }
    if (c == ' ') {
      startOfWord = true;
    } else {
      c = startOfWord ? toUpper(c) : toLower(c);
      startOfWord = false;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    i += len;
  }
  return out;
}

std::string replaceAll(std::string_view s, char from, char to) {
  std::string out(s);
  for (char& c : out)
    if (c == from) c = to;
  return out;
}

}  // namespace kelvane::text
