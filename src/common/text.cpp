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

std::string trimSpaces(std::string_view s) { return std::string(trimmedView(s)); }

void splitViews(std::string_view s, char sep, std::vector<std::string_view>& pieces) {
  pieces.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t at = s.find(sep, start);
    if (at == std::string_view::npos) {
      pieces.push_back(s.substr(start));
      return;
    }
    pieces.push_back(s.substr(start, at - start));
    start = at + 1;
  }
}

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string_view> views;
  splitViews(s, sep, views);
  return std::vector<std::string>(views.begin(), views.end());
}

namespace {

// Length of the UTF-8 sequence that starts with byte `b`; a stray byte counts as one.
std::size_t seqLen(unsigned char b) {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

// Case pairs of the letters of Windows-1252 (the code page of Kelvane.ini) that lie
// outside ASCII: Latin-1 U+00C0..U+00FE (not the signs U+00D7, U+00F7) plus the
// few that the code page places in 0x80..0x9F.
char32_t toUpper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  switch (c) {
    case 0xFF: return 0x178;   // ÿ Ÿ
    case 0x153: return 0x152;  // œ Œ
    case 0x161: return 0x160;  // š Š
    case 0x17E: return 0x17D;  // ž Ž
    default: return c;
  }
}
char32_t toLower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  switch (c) {
    case 0x178: return 0xFF;
    case 0x152: return 0x153;
    case 0x160: return 0x161;
    case 0x17D: return 0x17E;
    default: return c;
  }
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

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
  std::string out(s);
  properCaseInPlace(out.data(), out.size());
  return out;
}

// Through a plain pointer: a store through a string's operator[] could alias the
// string's own size, which would then be reloaded for every byte.
void properCaseInPlace(char* const p, const std::size_t n) {
  bool startOfWord = true;
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b < 0x80) {
      if (b == ' ') {
        startOfWord = true;
      } else {
        if (startOfWord && b >= 'a' && b <= 'z') p[i] = static_cast<char>(b - 32);
        if (!startOfWord && b >= 'A' && b <= 'Z') p[i] = static_cast<char>(b + 32);
        startOfWord = false;
      }
      ++i;
    } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n &&
               isContinuation(static_cast<unsigned char>(p[i + 1]))) {
      char32_t c = ((b & 0x1F) << 6) | (static_cast<unsigned char>(p[i + 1]) & 0x3F);
      c = startOfWord ? toUpper(c) : toLower(c);
      p[i] = static_cast<char>(0xC0 | (c >> 6));
      p[i + 1] = static_cast<char>(0x80 | (c & 0x3F));
      startOfWord = false;
      i += 2;
    } else {
      // Longer sequences hold no letter with a case in the code page; broken bytes
      // are kept as they are.
      std::size_t len = 1;
      while (len < seqLen(b) && i + len < n &&
             isContinuation(static_cast<unsigned char>(p[i + len])))
        ++len;
      startOfWord = false;
      i += len;
    }
  }
}

std::string replaceAll(std::string_view s, char from, char to) {
  std::string out(s);
  for (char& c : out)
    if (c == from) c = to;
  return out;
}

}  // namespace kelvane::text
