// The page of the simulated host as a person reads it (show) and as a program reads
// it (the page and menu members of dump).
#pragma once

#include <ostream>
#include <vector>

#include "document_file.h"
#include "sim/sim.h"

namespace kelvane::cli {

// Groups, and for each control its id, kind, caption and state. `page` may be null.
void showPage(std::ostream& out, const sim::SimPage* page);

// {"shown", "groups": [{"id", "caption", "options", "controls": [...]}]}
Json pageJson(const sim::SimPage& page);
// One control of pageJson: {"id", "kind", "caption", "alignment", "options", "tip",
// "text", "items", "selection", "enabled", "checked"}.
Json controlJson(const sim::SimControl& c);
// Whether the two controls have the same controlJson, without building it.
bool sameControl(const sim::SimControl& a, const sim::SimControl& b);
// One group of pageJson, without its controls: {"id", "caption", "options"}.
Json groupJson(const sim::SimGroup& group);

// [{"docType", "cookie", "path", "position", "callback", "enableCallback", "text"}]
Json menuJson(const std::vector<sim::MenuItem>& menu);

}  // namespace kelvane::cli
