// The input control of a bound field, for the tools.
#pragma once

#include "host/host.h"
#include "pagedef/model.h"

namespace kelvane {

// A field that was never bound is an error of the procedure, not a crash.
inline host::Control& controlOf(const pagedef::FieldDef& f) {
  if (!f.control) throw host::HostError("control", "field " + f.caption + " has no control");
  return *f.control;
}

}  // namespace kelvane
