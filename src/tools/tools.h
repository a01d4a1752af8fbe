// The page tools: reset, composite fields, purge and editing Kelvane.ini.
#pragma once

#include <cstdint>

#include "state/state.h"

namespace kelvane {

// Mode 0 clears text boxes and selects every combo box's first entry; any other mode
// puts the defaults back. Only the current configuration's slot changes.
// Trapped: "Error resetting fields".
bool resetFields(State& s, std::int16_t mode);

// Rebuilds every composite field from the live controls and stores the result in the
// current slot. Trapped: "Composite fields construction failed".
bool buildComposites(State& s);

// Deletes every declared property at document level and in every configuration.
// False when a deletion answered false or a failure stopped the run.
// Trapped: "Purge Custom Properties failed".
bool purgeCP(State& s);

// Opens Kelvane.ini in the system editor without waiting. No error trap.
void editIni(State& s);

}  // namespace kelvane
