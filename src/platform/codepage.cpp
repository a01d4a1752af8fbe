#include "platform/codepage.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "common/words.h"
#include "platform/platform.h"

namespace kelvane::platform {

namespace {

// Code points of bytes 0x80..0x9F. The five bytes Windows-1252 leaves undefined map to
// the C1 control of the same value, as Windows itself does, so that every byte
// survives a read and a write.
constexpr std::array<char32_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The byte holding `c`, or '?' when the code page has none.
char toCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < kHighTable.size(); ++i) {
    if (kHighTable[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Length of the run of ASCII bytes that starts `s`. Files are mostly ASCII, so the
// run is measured eight bytes at a time and copied in one piece.
std::size_t asciiPrefix(std::string_view s) {
  std::size_t n = 0;
  for (; n + 8 <= s.size(); n += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + n, sizeof word);
    if (word & 0x8080808080808080u) break;
  }
  while (n < s.size() && static_cast<unsigned char>(s[n]) < 0x80) ++n;
  return n;
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the UTF-8 sequence at s[i] and advances i past it. A broken sequence gives
// kInvalid and is skipped up to the first byte that cannot continue it, so that it
// becomes a single '?'.

char32_t nextCodePoint(const std::string& s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = 0;
  char32_t c = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    ++i;
    return kInvalid;
  }
  std::size_t k = i + 1;
  for (int n = 1; n < length; ++n, ++k) {
    const unsigned char lo = n == 1 ? low : 0x80;
    const unsigned char hi = n == 1 ? high : 0xBF;
    if (k >= s.size() || byte(k) < lo || byte(k) > hi) {
      i = k;
      return kInvalid;
    }
    c = (c << 6) | (byte(k) & 0x3F);
  }
  i = k;
  return c;
}

}  // namespace

void appendDecodedCp1252(std::string_view bytes, std::string& out) {
  out.reserve(out.size() + bytes.size());
  while (!bytes.empty()) {
    const std::size_t ascii = asciiPrefix(bytes);
    out.append(bytes.data(), ascii);
    if (ascii == bytes.size()) return;
    const auto b = static_cast<unsigned char>(bytes[ascii]);
    appendUtf8(out, b < 0xA0 ? kHighTable[b - 0x80] : b);
    bytes.remove_prefix(ascii + 1);
  }
}

std::string decodeCp1252(const std::string& bytes) {
  std::string out;
  appendDecodedCp1252(bytes, out);
  return out;
}

std::string encodeCp1252(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = nextCodePoint(utf8, i);
    out += c == kInvalid ? '?' : toCp1252(c);
  }
  return out;
}

std::optional<std::size_t> firstUnmappableCp1252(const std::string& utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const char32_t c = nextCodePoint(utf8, i);
    if (c == kInvalid || (c != '?' && toCp1252(c) == '?')) return start;
  }
  return std::nullopt;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    const std::size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
    lines.push_back(text.substr(start, end - start));
    start = lf + 1;
  }
  return lines;
}

Cp1252Lines::Cp1252Lines(std::string bytes) {
  if (asciiPrefix(bytes) == bytes.size()) {
    text_ = std::move(bytes);
  } else {
    text_.reserve(bytes.size() + bytes.size() / 2);
    appendDecodedCp1252(bytes, text_);
  }
}

std::string_view Cp1252Lines::take() {
  const std::string_view rest = std::string_view(text_).substr(next_);
  const std::size_t lf = words::find(rest, '\n');
  std::string_view line = rest.substr(0, lf);
  if (lf == std::string_view::npos) {
    next_ = text_.size();
  } else {
    next_ += lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // CR LF ends the line
  }
  return line;
}

}  // namespace kelvane::platform
