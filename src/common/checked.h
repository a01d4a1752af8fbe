// 16-bit counts, indexes and ids. The add-in keeps the host's 16-bit limits:
// a value that does not fit is an error, never a silent wrap.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kelvane {

class OverflowError : public std::overflow_error {
 public:
  using std::overflow_error::overflow_error;
};

// Apart from the check, so that the check inlines to a compare where it runs per line.
[[noreturn]] inline void throwOverflow16(long long value, const char* what) {
  throw OverflowError(std::string("16-bit overflow: ") + what + " " + std::to_string(value));
}

// Returns `value` as a 16-bit signed integer, or throws OverflowError naming `what`.
inline std::int16_t checked16(long long value, const char* what) {
  if (value < INT16_MIN || value > INT16_MAX) throwOverflow16(value, what);
  return static_cast<std::int16_t>(value);
}

}  // namespace kelvane
