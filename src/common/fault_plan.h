// "The Nth next call of X fails": the fault plan of the in-memory stand-ins (the
// simulated host, the fake platform). Each side keeps its own list of operation names,
// refers to its operations by their position in that list, and throws its own error
// when a call is due.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

class FaultPlan {
 public:
  // `names` must outlive the plan; `what` names them in errors ("host operation").
  FaultPlan(const std::vector<std::string>& names, std::string what)
      : names_(&names), what_(std::move(what)), pending_(names.size()) {}

  const std::vector<std::string>& names() const { return *names_; }

  // The position of `name`, or names().size() when it is no operation.
  std::size_t find(std::string_view name) const {
    return static_cast<std::size_t>(std::find(names_->begin(), names_->end(), name) - names_->begin());
  }
  bool contains(std::string_view name) const { return find(name) < names_->size(); }

  // The `nth` next call (1 = the very next) of `name` fails. Throws
  // std::invalid_argument for an unknown name or nth < 1.
  void failNext(std::string_view name, int nth = 1) {
    const std::size_t op = find(name);
    if (op == names_->size()) throw std::invalid_argument("unknown " + what_ + ": " + std::string(name));
    if (nth < 1) throw std::invalid_argument("nth must be at least 1");
    pending_[op].push_back(nth);
    ++waiting_;
  }

  // Removes every pending fault.
  void clear() {
    for (auto& countdowns : pending_) countdowns.clear();
    waiting_ = 0;
  }

  // Counts one call of operation `op` (a position in names()); true when it fails.
  // Several faults due on the same call fail it once.
  bool due(std::size_t op) {
    if (waiting_ == 0) return false;  // the usual case costs one comparison
    auto& countdowns = pending_[op];
    if (countdowns.empty()) return false;
    bool fails = false;
    for (int& left : countdowns) fails |= --left == 0;
    waiting_ -= static_cast<std::size_t>(std::erase(countdowns, 0));
    return fails;
  }

 private:
  const std::vector<std::string>* names_;
  std::string what_;
  std::vector<std::vector<int>> pending_;  // by operation: calls left until each fault
  std::size_t waiting_ = 0;                // faults pending over all operations
};

}  // namespace kelvane
