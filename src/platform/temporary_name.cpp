#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace kelvane::platform {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kLetters = 6;

bool isLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

// The same pattern as mkstemp's "XXXXXX", so that every platform recognises the
// leftovers of every other.
bool isTemporaryNameOf(const std::string& fileName, const std::string& candidate) {
  const std::size_t stem = fileName.size() + 2;
  if (candidate.size() != stem + kLetters || candidate[0] != '.' ||
      candidate.compare(1, fileName.size(), fileName) != 0 || candidate[stem - 1] != '.') {
    return false;
  }
  for (std::size_t i = stem; i < candidate.size(); ++i) {
    if (!isLetterOrDigit(candidate[i])) return false;
  }
  return true;
}

std::string temporaryNameOf(const std::string& fileName, std::uint64_t random) {
  std::string name = "." + fileName + ".";
  for (std::size_t i = 0; i < kLetters; ++i) {
    name += kAlphabet[random % (sizeof kAlphabet - 1)];
    random /= sizeof kAlphabet - 1;
  }
  return name;
}

}  // namespace kelvane::platform
