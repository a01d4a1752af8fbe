// The scratch folder's name, the same on POSIX and Windows.
#include <algorithm>

#include "scratch_folder.h"

namespace kelvane::cli {

namespace {

constexpr std::string_view kPrefix = "kelvane-preview-";

// Numbers as this program writes them: another spelling could name another process.
bool isNumber(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         (s == "0" || s.front() != '0');
}

}  // namespace

std::optional<std::pair<std::string, std::string>> ScratchFolder::ownerOf(std::string_view name) {
  if (name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  const std::size_t a = name.find('-');
  const std::size_t b = a == std::string_view::npos ? a : name.find('-', a + 1);
  if (b == std::string_view::npos || name.size() - b - 1 != 6) return std::nullopt;
  const std::string_view pid = name.substr(0, a), start = name.substr(a + 1, b - a - 1);
  if (!isNumber(pid) || !isNumber(start)) return std::nullopt;
  return std::pair{std::string(pid), std::string(start)};
}

std::string ScratchFolder::stemOf(const std::string& pid, const std::string& start) {
  return start.empty() ? std::string(kPrefix) : std::string(kPrefix) + pid + "-" + start + "-";
}

}  // namespace kelvane::cli
