// Kelvane.log: the remembered fields' values, written at a saving close and read
// back as the fields' defaults at the next opening.
#pragma once

#include "state/state.h"

namespace kelvane {

inline constexpr int kMaxLogEntries = 32768;

// Writes the log beside the add-in. Trapped: "Error writing log file".
bool writeLogFile(State& s);

// Reads the log and applies it to the fields' defaults. False when the file does not
// exist (silently) or on failure ("Error reading log file").
bool readLogFile(State& s);

}  // namespace kelvane
