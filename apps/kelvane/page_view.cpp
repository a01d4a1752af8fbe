#include "page_view.h"

#include <iomanip>
#include <sstream>
#include <string>

#include "transcript.h"

namespace kelvane::cli {

namespace {

// Group boxes are expanded when their option bit 8 is set; what the control bits mean
// is the simulated host's (SimControl::visible and usable).
constexpr int kGroupExpanded = 8;

bool selectionInList(const sim::SimControl& c) {
  return c.selection >= 0 && c.selection < static_cast<int>(c.items.size());
}

// What the control shows, as the host answers its Text.
std::string shownText(const sim::SimControl& c) {
  if (c.kind == host::code::kKindCombobox && selectionInList(c)) return c.items[c.selection];
  return c.text;
}

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

// Each line goes out through printLine, which escapes the line breaks a caption or
// a typed text may hold.
void showControl(std::ostream& to, const sim::SimControl& c) {
  // Input controls have no caption of their own: their label and tip carry it.
  const std::string& caption = c.caption.empty() ? c.tip : c.caption;
  std::ostringstream out;
  out << "    " << std::setw(6) << c.id << "  " << std::left << std::setw(11) << sim::SimControl::kindName(c.kind) << std::right
      << caption;
  if (c.kind == host::code::kKindTextbox || c.kind == host::code::kKindCombobox) {
    out << " = " << inQuotes(shownText(c));
  } else if (c.kind == host::code::kKindCheckbox) {
    out << " = " << (c.checked ? "[x]" : "[ ]");
  }
  if (c.kind == host::code::kKindCombobox) {
    out << "  {";
    for (std::size_t i = 0; i < c.items.size(); ++i) out << (i ? " | " : "") << c.items[i];
    out << "}";
  }
  if (!c.visible()) out << "  hidden";
  if (!(c.options & sim::SimControl::kEnabled) && c.kind != host::code::kKindLabel) out << "  read-only";
  if (!c.enabled) out << "  disabled";
  printLine(to, out.str());
}

}  // namespace

void showPage(std::ostream& out, const sim::SimPage* page) {
  if (!page) {
    printLine(out, "no page");
    return;
  }
  printLine(out, "page " + inQuotes(page->title) + (page->shown ? " (shown)" : " (not shown)"));
  for (const auto& group : page->groups) {
    printLine(out, "  group " + std::to_string(group->id) + ' ' + inQuotes(group->caption) +
                       (group->options & kGroupExpanded ? "" : " (collapsed)"));
    for (const auto& control : group->controls) showControl(out, *control);
  }
}

Json controlJson(const sim::SimControl& c) {
  return {{"id", c.id},
          {"kind", c.kind},
          {"caption", c.caption},
          {"alignment", c.align},
          {"options", c.options},
          {"tip", c.tip},
          {"text", shownText(c)},
          {"items", c.items},
          {"selection", c.selection},
          {"enabled", c.enabled},
          {"checked", c.checked}};
}

bool sameControl(const sim::SimControl& a, const sim::SimControl& b) {
  return a.id == b.id && a.kind == b.kind && a.caption == b.caption && a.align == b.align && a.options == b.options &&
         a.tip == b.tip && shownText(a) == shownText(b) && a.items == b.items && a.selection == b.selection &&
         a.enabled == b.enabled && a.checked == b.checked;
}

Json groupJson(const sim::SimGroup& group) {
  return {{"id", group.id}, {"caption", group.caption}, {"options", group.options}};
}

Json pageJson(const sim::SimPage& page) {
  Json groups = Json::array();
  for (const auto& group : page.groups) {
    Json controls = Json::array();
    for (const auto& c : group->controls) controls.push_back(controlJson(*c));
    Json g = groupJson(*group);
    g["controls"] = std::move(controls);
    groups.push_back(std::move(g));
  }
  return {{"shown", page.shown}, {"groups", std::move(groups)}};
}

Json menuJson(const std::vector<sim::MenuItem>& menu) {
  Json items = Json::array();
  for (const auto& m : menu) {
    items.push_back({{"docType", m.docType},
                     {"cookie", m.cookie},
                     {"path", m.path},
                     {"position", m.position},
                     {"callback", m.callback},
                     {"enableCallback", m.enableCallback},
                     {"text", m.text}});
  }
  return items;
}

}  // namespace kelvane::cli
