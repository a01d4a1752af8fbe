// A page bound to its model, as page construction leaves it, on the simulated host:
// the model is built in code, every group gets a group box and every field a text box
// (kind 5) or a combo box (kind 7, entries added) with id g * 1000 + f, and every
// field one empty value slot per configuration of the document, counted as read from
// it, all in s.bindings.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "state/state.h"
#include "pagedef/model.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

namespace kelvane::testing {

// Which occurrence of its operation call k (1-based) of `ops` is.
inline int occurrence(const std::vector<std::string>& ops, std::size_t k) {
  int nth = 0;
  for (std::size_t i = 0; i < k; ++i) nth += ops[i] == ops[k - 1];
  return nth;
}

class BoundPage {
 public:
  platform::FakePlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc = host->newDocument();
  State s{os};

  BoundPage() {
    s.ThisSW = host;
    host->faults->logCalls();
    host->activeDocument = doc;
  }

  // ---- The model, before bind() ----

  pagedef::GroupDef& group(const std::string& name) {
    return s.model.addGroup(name);
  }

  // A text box field in the last group; the property name is the caption unless given.
  pagedef::FieldDef& text(const std::string& caption, const std::string& defaultValue = "",
                          const std::string& propName = "") {
    auto& f = s.model.addField(static_cast<std::int16_t>(s.model.groups.size() - 1), caption);
    f.propName = s.model.keep(propName.empty() ? caption : propName);
    f.defaultValue = s.model.keep(defaultValue);
    return f;
  }

  // A combo box field; entries are (text, code).
  pagedef::FieldDef& combo(const std::string& caption, std::vector<pagedef::ListItem> items,
                           const std::string& defaultValue = "") {
    auto& f = text(caption, defaultValue);
    for (auto& item : items) item = {s.model.keep(item.text), s.model.keep(item.code)};
    f.items = std::move(items);
    return f;
  }

  // A composite text box field whose formula has `parts`.
  pagedef::FieldDef& composite(const std::string& caption, std::vector<std::string> parts) {
    auto& f = text(caption, pagedef::kCompositeMark);
    pagedef::CompositeDef& c = s.model.composites.emplace_back();
    c.groupIndex = static_cast<std::int16_t>(s.model.groups.size() - 1);
    c.fieldIndex = static_cast<std::int16_t>(s.model.groups.back().fields.size() - 1);
    std::vector<std::string_view> kept;
    for (const auto& part : parts) kept.push_back(s.model.keep(part));
    c.parts = s.model.keep(kept);
    f.composite = s.model.lastComposite();
    return f;
  }

  // ---- Binding ----

  void bind(bool useConfigs = false) {
    s.model.useConfigs = useConfigs;
    s.lastGroup = static_cast<std::int16_t>(s.model.groups.size() - 1);
    s.configNames = doc->configurations;
    s.configCount = static_cast<std::int16_t>(s.configNames.size());
    s.currentConfig = 0;
    std::int32_t error = 0;
    auto created = host->CreatePropertyManagerPage(kProgramTitle, host::code::kPageOptions, nullptr, error);
    page = host->page;
    s.bindings.assign(s.model.groups.size(), {});
    for (std::size_t g = 0; g < s.model.groups.size(); ++g) {
      const auto& group = s.model.groups[g];
      auto& boundGroup = s.bindings[g];
      boundGroup.pageGroup = created->AddGroupBox(static_cast<std::int16_t>(g), group.name, 0);
      boundGroup.fields.resize(group.fields.size());
      for (std::size_t f = 0; f < group.fields.size(); ++f) {
        const auto& field = group.fields[f];
        auto& bound = boundGroup.fields[f];
        const auto kind = field.isTextBox() ? host::code::kKindTextbox : host::code::kKindCombobox;
        bound.control = boundGroup.pageGroup->AddControl(static_cast<std::int16_t>(g * 1000 + f), kind,
                                                         field.caption, host::code::kAlignDefault, 0, field.caption);
        for (const auto& item : field.items) bound.control->AddItems(item.text);
        bound.configValues.assign(s.configNames.size(), "");
        bound.origins.assign(s.configNames.size(), SlotOrigin::Document);  // as if read
      }
    }
    host->faults->calls.clear();
    os.calls.clear();
  }

  // ---- Looking at it ----

  pagedef::FieldDef& field(int g, int f) { return s.model.groups.at(g).fields.at(f); }
  FieldBinding& bound(int g, int f) { return s.binding(g, f); }
  sim::SimControl& control(int g, int f) { return *page->findControl(g * 1000 + f); }
  std::string& slot(int g, int f, int k = 0) { return bound(g, f).configValues.at(k); }

  // Operation names of the host calls made since bind(), in order.
  std::vector<std::string> hostCalls() const {
    std::vector<std::string> ops;
    for (const auto& call : host->faults->calls) ops.push_back(call.operation);
    return ops;
  }
  // The host calls of `operation`, with their arguments.
  std::vector<std::vector<std::string>> argsOf(const std::string& operation) const {
    std::vector<std::vector<std::string>> args;
    for (const auto& call : host->faults->calls)
      if (call.operation == operation) args.push_back(call.args);
    return args;
  }

  // Makes call k (1-based) of a recorded host call list fail when the calls run again.
  void failHostCall(const std::vector<std::string>& ops, std::size_t k) {
    host->faults->failNext(ops[k - 1], occurrence(ops, k));
  }
  // The same for a recorded list of platform calls.
  void failPlatformCall(const std::vector<std::string>& ops, std::size_t k) {
    os.failNext(ops[k - 1], occurrence(ops, k));
  }

  std::shared_ptr<sim::SimPage> page;
};

}  // namespace kelvane::testing
