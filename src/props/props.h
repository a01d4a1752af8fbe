// The document's custom properties and the fields' value slots.
//
// Slot convention: with useConfigs true, slot k of a field's configValues holds the
// value in configuration k (named configNames[k]); with useConfigs false only slot 0
// is used and holds the document-wide value (configuration name "").
#pragma once

#include <cstdint>
#include <string>

#include "state/state.h"
#include "host/host.h"

namespace kelvane {

// Writes a text property (type 30). True when it was created, false when it existed
// and was overwritten. No error trap: host errors reach the caller.
bool setCP(host::Document& doc, std::string_view config, std::string_view name,
           std::string_view value);

// Reads a property, blanks trimmed; "" when absent. No error trap.
std::string getCP(host::Document& doc, std::string_view config, std::string_view name);

// Fills every field's slots from the active document. Trapped: "Error in readCP".
bool readCP(State& s);

// Shows slot `cfg` of every field in its control, defaults for empty slots; combo
// boxes write the selected entry back into the slot. Trapped: "Error in loadCP".
bool loadCP(State& s, std::int16_t cfg);

// Writes every slot, then "USE_CONFIGS". Trapped: "Error in saveCP".
bool saveCP(State& s);

}  // namespace kelvane
