// Eight bytes at a time: short texts (lines, names) are searched and compared a word
// at a time rather than through a library call per question.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kelvane::words {

inline std::uint64_t load64(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline std::uint64_t load32(const char* p) {
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The bytes of `word` equal to `c`, as their high bits (exact: no carries between bytes).
inline std::uint64_t bytesEqual(std::uint64_t word, unsigned char c) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t x = word ^ (0x0101010101010101ull * c);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Where a word's bytes lie in memory order, so that the lowest set bit is the first byte.
inline constexpr bool kInReadingOrder = std::endian::native == std::endian::little;

// The position of the first `c` in `s`, or npos.
inline std::size_t find(std::string_view s, char c) {
  std::size_t i = 0;
  if constexpr (kInReadingOrder) {
    for (; i + 8 <= s.size(); i += 8) {
      if (const std::uint64_t hits = bytesEqual(load64(s.data() + i), static_cast<unsigned char>(c)))
        return i + std::countr_zero(hits) / 8;
    }
  }
  for (; i < s.size(); ++i)
    if (s[i] == c) return i;
  return std::string_view::npos;
}

// a == b, for short texts without a call.
inline bool equal(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8)
      if (load64(a.data() + i) != load64(b.data() + i)) return false;
    return load64(a.data() + n - 8) == load64(b.data() + n - 8);
  }
  if (n >= 4) {
    return load32(a.data()) == load32(b.data()) && load32(a.data() + n - 4) == load32(b.data() + n - 4);
  }
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace kelvane::words
