#include "host/host.h"

namespace kelvane::host {

HostError::HostError(const std::string& operation, const std::string& detail)
    : std::runtime_error("host operation failed: " + operation + (detail.empty() ? "" : ": " + detail)),
      operation_(operation) {}

}  // namespace kelvane::host
