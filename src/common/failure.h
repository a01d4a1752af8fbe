// What a trap stopped: the procedure's name and the exception. The user sees only a
// fixed status text; a hook lets a caller keep the cause for diagnostics.
#pragma once

#include <exception>
#include <functional>
#include <string_view>

namespace kelvane {

using FailureHook = std::function<void(std::string_view procedure, const std::exception& error)>;

// Hands `error` to `hook` when there is one. A failing hook changes nothing: the trap
// that called it behaves the same with or without it.
inline void noteFailure(const FailureHook& hook, std::string_view procedure, const std::exception& error) noexcept {
  if (!hook) return;
  try {
    hook(procedure, error);
  } catch (...) {
  }
}

}  // namespace kelvane
