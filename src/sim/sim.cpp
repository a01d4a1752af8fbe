#include "sim/sim.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace kelvane::sim {

namespace {

char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool inList(const std::vector<std::string>& items, long long index) {
  return index >= 0 && index < static_cast<long long>(items.size());
}

// Runs one call of the host into the add-in whose failure the host swallows.
template <typename Call>
void swallowing(SimHost& host, const char* method, Call&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    host.reportError(std::string(method) + ": " + e.what());
  } catch (...) {
    host.reportError(std::string(method) + ": unknown error");
  }
}

class SimFrame : public host::Frame {
 public:
  explicit SimFrame(SimHost& host) : host_(host) {}

  void SetStatusBarText(std::string_view statusText) override {
    host_.faults->hit(Op::SetStatusBarText, statusText);
    host_.statusTexts.emplace_back(statusText);
    if (host_.onEvent) host_.onEvent("status", std::string(statusText));
  }

 private:
  SimHost& host_;
};

}  // namespace

// ---- Faults ----

const std::vector<std::string>& Faults::operations() {
  static const std::vector<std::string> names = {
      "active-document",
      "frame",
      "set-status-bar-text",
      "remove-menu-item",
      "menu-name",
      "register-callbacks",
      "add-menu-item",
      "create-page",
      "add-custom-property",
      "get-custom-property",
      "set-custom-property",
      "delete-custom-property",
      "get-configuration-count",
      "get-configuration-names",
      "get-active-configuration",
      "configuration-name",
      "get-title",
      "get-user-preference-double",
      "add-group",
      "show-page",
      "close-page",
      "add-control",
      "set-checked",
      "set-enabled",
      "add-items",
      "get-current-selection",
      "set-current-selection",
      "item-text",
      "get-text",
      "set-text",
  };
  return names;
}

bool Faults::isOperation(const std::string& name) {
  const auto& names = operations();
  return std::find(names.begin(), names.end(), name) != names.end();
}

// ---- PropertySet ----

std::uint32_t PropertySet::hashOf(std::string_view name) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (char c : name) {
    h ^= static_cast<unsigned char>(foldCase(c));
    h *= 16777619u;
  }
  return h;
}

bool PropertySet::sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return foldCase(x) == foldCase(y); });
}

std::size_t PropertySet::probe(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.pos == kFree || (slot.hash == hash && sameName(props_[slot.pos].name, name))) return i;
  }
}

std::optional<std::size_t> PropertySet::find(std::string_view name) const {
  std::size_t at = next_;
  if (removed_ != 0 || at >= props_.size() || !sameName(props_[at].name, name)) {
    if (slots_.empty()) return std::nullopt;
    const Slot& slot = slots_[probe(name, hashOf(name))];
    if (slot.pos == kFree) return std::nullopt;
    at = slot.pos;
  }
  next_ = at + 1;
  // The guess for the next lookup, fetched while the caller works elsewhere.
  if (next_ < props_.size()) {
    const char* entry = reinterpret_cast<const char*>(&props_[next_]);
    __builtin_prefetch(entry);
    __builtin_prefetch(entry + sizeof(Property) - 1);  // an entry may straddle two lines
  }
  return at;
}

void PropertySet::grow() {
  std::vector<Slot> old(std::max<std::size_t>(16, slots_.size() * 2), Slot{kFree, 0});
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.pos == kFree) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].pos != kFree) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

// Backward-shift deletion: later slots of the same run move up, so that no probe
// stops early at the freed slot.
void PropertySet::freeSlot(std::size_t at) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t j = (at + 1) & mask; slots_[j].pos != kFree; j = (j + 1) & mask) {
    const std::size_t home = slots_[j].hash & mask;
    const bool staysPut = at <= j ? (at < home && home <= j) : (at < home || home <= j);
    if (staysPut) continue;
    slots_[at] = slots_[j];
    at = j;
  }
  slots_[at].pos = kFree;
}

void PropertySet::compact() const {
  if (removed_ == 0) return;
  std::vector<std::uint32_t> moved(props_.size(), kFree);
  for (const Slot& slot : slots_) {
    if (slot.pos != kFree) moved[slot.pos] = 0;
  }
  std::uint32_t kept = 0;
  for (std::size_t i = 0; i < props_.size(); ++i) {
    if (moved[i] == kFree) continue;
    if (kept != i) props_[kept] = std::move(props_[i]);
    moved[i] = kept++;
  }
  props_.resize(kept);
  for (Slot& slot : slots_) {
    if (slot.pos != kFree) slot.pos = moved[slot.pos];
  }
  removed_ = 0;
  next_ = 0;
}

const std::vector<PropertySet::Property>& PropertySet::all() const {
  compact();
  return props_;
}

bool PropertySet::add(std::string_view name, std::string_view value) {
  if (removed_ > props_.size() / 2) compact();  // keeps the list within twice the live entries
  if (find(name)) return false;
  if (4 * (live_ + 1) > 3 * slots_.size()) grow();
  const std::uint32_t hash = hashOf(name);
  slots_[probe(name, hash)] = Slot{static_cast<std::uint32_t>(props_.size()), hash};
  props_.push_back({std::string(name), std::string(value)});
  ++live_;
  return true;
}

std::optional<std::string> PropertySet::get(std::string_view name) const {
  if (auto at = find(name)) return props_[*at].value;
  return std::nullopt;
}

void PropertySet::set(std::string_view name, std::string_view value) {
  if (auto at = find(name)) {
    props_[*at].value = value;
    return;
  }
  add(name, value);
}

bool PropertySet::remove(std::string_view name) {
  if (slots_.empty()) return false;
  const std::size_t at = probe(name, hashOf(name));
  if (slots_[at].pos == kFree) return false;
  freeSlot(at);
  --live_;
  ++removed_;
  return true;
}

// ---- SimConfiguration ----

SimConfiguration::SimConfiguration(std::shared_ptr<Faults> faults, std::string name)
    : faults_(std::move(faults)), name_(std::move(name)) {}

std::string SimConfiguration::Name() {
  faults_->hit(Op::ConfigurationName);
  return name_;
}

// ---- SimDocument ----

SimDocument::SimDocument(std::shared_ptr<Faults> faults) : faults_(std::move(faults)) {}

void SimDocument::addConfiguration(const std::string& name) {
  configurations.push_back(name);
  configurationProperties[name];
}

PropertySet* SimDocument::findScope(std::string_view config) {
  if (config.empty()) return &properties;
  if (scopes_.of != &configurationProperties || scopes_.generation != configurationProperties.generation()) {
    scopes_.byName.clear();
    scopes_.of = &configurationProperties;
    scopes_.generation = configurationProperties.generation();
  }
  if (auto known = scopes_.byName.find(config); known != scopes_.byName.end()) return known->second;
  auto entry = configurationProperties.find(config);
  // Every listed configuration gets its entry in the map when added; the list is only
  // searched for one that was listed by hand.
  if (entry == configurationProperties.end()) {
    if (std::find(configurations.begin(), configurations.end(), config) == configurations.end()) return nullptr;
    entry = configurationProperties.try_emplace(std::string(config)).first;
  }
  scopes_.byName.emplace(entry->first, &entry->second);
  return &entry->second;
}

PropertySet& SimDocument::scope(std::string_view config, const std::string& operation) {
  PropertySet* found = findScope(config);
  if (!found) throw host::HostError(operation, "no configuration named '" + std::string(config) + "'");
  return *found;
}

PropertySet& SimDocument::scope(std::string_view config, Op operation) {
  PropertySet* found = findScope(config);
  if (!found) return scope(config, Faults::operations()[static_cast<std::size_t>(operation)]);
  return *found;
}

bool SimDocument::AddCustomInfo3(std::string_view config, std::string_view name, std::int32_t type,
                                 std::string_view value) {
  faults_->hit(Op::AddCustomProperty, config, name, type, value);
  return scope(config, Op::AddCustomProperty).add(name, value);
}

std::string SimDocument::GetCustomInfo2(std::string_view config, std::string_view name) {
  faults_->hit(Op::GetCustomProperty, config, name);
  return scope(config, Op::GetCustomProperty).get(name).value_or("");
}

void SimDocument::SetCustomInfo2(std::string_view config, std::string_view name, std::string_view value) {
  faults_->hit(Op::SetCustomProperty, config, name, value);
  scope(config, Op::SetCustomProperty).set(name, value);
}

bool SimDocument::DeleteCustomInfo2(std::string_view config, std::string_view name) {
  faults_->hit(Op::DeleteCustomProperty, config, name);
  return scope(config, Op::DeleteCustomProperty).remove(name);
}

std::int32_t SimDocument::GetConfigurationCount() {
  faults_->hit(Op::GetConfigurationCount);
  return static_cast<std::int32_t>(configurations.size());
}

std::vector<std::string> SimDocument::GetConfigurationNames() {
  faults_->hit(Op::GetConfigurationNames);
  return configurations;
}

std::shared_ptr<host::Configuration> SimDocument::GetActiveConfiguration() {
  faults_->hit(Op::GetActiveConfiguration);
  if (configurations.empty()) return nullptr;
  if (!inList(configurations, activeConfiguration)) {
    throw host::HostError("get-active-configuration", "active configuration out of range");
  }
  return std::make_shared<SimConfiguration>(faults_, configurations[activeConfiguration]);
}

std::string SimDocument::GetTitle() {
  faults_->hit(Op::GetTitle);
  return title;
}

double SimDocument::GetUserPreferenceDoubleValue(std::int32_t preference) {
  faults_->hit(Op::GetUserPreferenceDouble, preference);
  return preference == host::code::kPreferenceDensity ? density : 0;
}

// ---- SimControl ----

SimControl::SimControl(std::shared_ptr<Faults> faults, std::int16_t id, std::int16_t kind,
                       std::string caption, std::int16_t align, std::int32_t options, std::string tip)
    : id(id),
      kind(kind),
      caption(std::move(caption)),
      align(align),
      options(options),
      tip(std::move(tip)),
      faults_(std::move(faults)) {}

void SimControl::SetChecked(bool value) {
  faults_->hit(Op::SetChecked, value);
  checked = value;
}

void SimControl::SetEnabled(bool value) {
  faults_->hit(Op::SetEnabled, value);
  enabled = value;
}

void SimControl::AddItems(std::string_view item) {
  faults_->hit(Op::AddItems, item);
  items.emplace_back(item);
}

std::int16_t SimControl::GetCurrentSelection() {
  faults_->hit(Op::GetCurrentSelection);
  return selection;
}

void SimControl::SetCurrentSelection(std::int16_t index) {
  faults_->hit(Op::SetCurrentSelection, index);
  if (inList(items, index)) {
    selection = index;
    text = items[index];
  } else {
    selection = -1;
    if (kind == host::code::kKindCombobox) text.clear();
  }
}

std::string SimControl::ItemText(std::int16_t index) {
  faults_->hit(Op::ItemText, index);
  return inList(items, index) ? items[index] : "";
}

std::string SimControl::GetText() {
  faults_->hit(Op::GetText);
  if (kind == host::code::kKindCombobox && inList(items, selection)) return items[selection];
  return text;
}

void SimControl::SetText(std::string_view value) {
  faults_->hit(Op::SetText, value);
  text = value;
  if (kind == host::code::kKindCombobox) {
    // A combo box shows an entry of its list: the text selects the first equal entry.
    const auto found = std::find(items.begin(), items.end(), value);
    selection = found == items.end() ? -1 : static_cast<std::int16_t>(found - items.begin());
  }
}

std::string SimControl::kindName(int kind) {
  switch (kind) {
    case host::code::kKindLabel: return "label";
    case host::code::kKindCheckbox: return "checkbox";
    case host::code::kKindButton: return "button";
    case host::code::kKindTextbox: return "text box";
    case host::code::kKindCombobox: return "combo box";
    default: return "control of kind " + std::to_string(kind);
  }
}

// ---- SimGroup ----

SimGroup::SimGroup(std::shared_ptr<Faults> faults, std::int16_t id, std::string caption, std::int32_t options)
    : id(id), caption(std::move(caption)), options(options), faults_(std::move(faults)) {}

std::shared_ptr<host::Control> SimGroup::AddControl(std::int16_t controlId, std::int16_t kind,
                                                    std::string_view controlCaption, std::int16_t align,
                                                    std::int32_t controlOptions, std::string_view tip) {
  faults_->hit(Op::AddControl, controlId, kind, controlCaption, align, controlOptions, tip);
  auto control =
      std::make_shared<SimControl>(faults_, controlId, kind, std::string(controlCaption), align,
                                   controlOptions, std::string(tip));
  controls.push_back(control);
  return control;
}

// ---- SimPage ----

SimPage::SimPage(SimHost& host, std::string title, std::int32_t options,
                 std::shared_ptr<host::PropertyManagerPage2Handler> handler)
    : title(std::move(title)), options(options), handler(std::move(handler)), host_(host) {}

SimControl* SimPage::findControl(int id, int kind) const {
  for (const auto& group : groups) {
    for (const auto& control : group->controls) {
      if (control->id == id && (kind == 0 || control->kind == kind)) return control.get();
    }
  }
  return nullptr;
}

std::shared_ptr<host::Group> SimPage::AddGroupBox(std::int16_t id, std::string_view caption,
                                                  std::int32_t groupOptions) {
  host_.faults->hit(Op::AddGroup, id, caption, groupOptions);
  auto group = std::make_shared<SimGroup>(host_.faults, id, std::string(caption), groupOptions);
  groups.push_back(group);
  return group;
}

std::int32_t SimPage::Show() {
  host_.faults->hit(Op::ShowPage);
  shown = true;
  return 1;
}

void SimPage::Close(bool okay) {
  host_.faults->hit(Op::ClosePage, okay);
  if (shown) closeWith(okay ? host::code::kCloseOkay : host::code::kCloseCancel);
}

void SimPage::closeWith(std::int32_t reason) {
  // The handler may let go of this page; keep what is needed until the close is over.
  const auto keep = handler;
  if (keep) {
    swallowing(host_, "OnClose", [&] { keep->PropertyManagerPage2Handler_OnClose(reason); });
  }
  shown = false;
  groups.clear();
  if (keep) {
    swallowing(host_, "AfterClose", [&] { keep->PropertyManagerPage2Handler_AfterClose(); });
  }
}

// ---- SimHost ----

SimHost::SimHost() : faults(std::make_shared<Faults>()), frame_(std::make_shared<SimFrame>(*this)) {}

std::shared_ptr<SimDocument> SimHost::newDocument() { return std::make_shared<SimDocument>(faults); }

std::string SimHost::menuName(std::int32_t menuId) {
  switch (menuId) {
    case 1:
      return "File";
    case 2:
      return "Edit";
    case 3:
      return "View";
    case 4:
      return "Tools";
    case 5:
      return "Window";
    case 6:
      return "Help";
    default:
      return "Menu " + std::to_string(menuId);
  }
}

std::shared_ptr<host::Document> SimHost::ActiveDoc() {
  faults->hit(Op::ActiveDocument);
  return activeDocument;
}

std::shared_ptr<host::Frame> SimHost::GetFrame() {
  faults->hit(Op::Frame);
  return frame_;
}

bool SimHost::RemoveMenu(std::int32_t docType, const std::string& menuItem, const std::string& callback) {
  faults->hit(Op::RemoveMenuItem, docType, menuItem, callback);
  return std::erase_if(menu, [&](const MenuItem& item) {
           return item.docType == docType && item.path == menuItem && item.callback == callback;
         }) > 0;
}

std::string SimHost::GetLocalizedMenuName(std::int32_t menuId) {
  faults->hit(Op::MenuName, menuId);
  return menuName(menuId);
}

bool SimHost::SetAddinCallbackInfo(std::uintptr_t moduleHandle, host::CallbackTarget& target,
                                   std::int32_t cookie) {
  // The callback object has no text form; the log keeps the handle and the cookie.
  faults->hit(Op::RegisterCallbacks, moduleHandle, cookie);
  callbacks = Callbacks{moduleHandle, &target, cookie};
  return true;
}

bool SimHost::AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                           std::int32_t position, const std::string& menuCallback,
                           const std::string& menuEnableMethod, const std::string& hint) {
  faults->hit(Op::AddMenuItem, docType, cookie, menuItem, position, menuCallback, menuEnableMethod, hint);
  MenuItem item{docType, cookie, menuItem, position, menuCallback, menuEnableMethod, hint};
  const auto same = std::find_if(menu.begin(), menu.end(), [&](const MenuItem& old) {
    return old.docType == docType && old.path == menuItem;
  });
  if (same != menu.end()) {
    *same = std::move(item);
  } else {
    menu.push_back(std::move(item));
  }
  return true;
}

std::shared_ptr<host::Page> SimHost::CreatePropertyManagerPage(
    const std::string& title, std::int32_t options,
    std::shared_ptr<host::PropertyManagerPage2Handler> handler, std::int32_t& errors) {
  faults->hit(Op::CreatePage, title, options);
  page = std::make_shared<SimPage>(*this, title, options, std::move(handler));
  errors = 0;
  return page;
}

// ---- The user's side ----

SimPage* SimHost::shownPage() const { return page && page->shown && page->handler ? page.get() : nullptr; }

SimHost::MenuResult SimHost::pickMenu() {
  if (menu.empty() || !callbacks || !callbacks->target) return MenuResult::Unavailable;
  const MenuItem item = menu.front();  // the add-in may re-register the item meanwhile
  if (callbacks->target->InvokeByName(item.enableCallback) != 1) return MenuResult::Unavailable;
  callbacks->target->InvokeByName(item.callback);
  return MenuResult::Ran;
}

std::optional<std::int32_t> SimHost::menuStatusNow() {
  if (menu.empty() || !callbacks || !callbacks->target) return std::nullopt;
  return callbacks->target->InvokeByName(menu.front().enableCallback);
}

std::shared_ptr<host::PropertyManagerPage2Handler> SimHost::handlerOfShownPage() const {
  return page->handler;
}

SimPage& SimHost::pageInUse() const {
  SimPage* shown = shownPage();
  if (!shown) throw UserError("no page is shown");
  return *shown;
}

SimControl& SimHost::usableControl(int id, int kind) const {
  const std::string name = SimControl::kindName(kind) + " " + std::to_string(id);
  SimControl* control = pageInUse().findControl(id, kind);
  if (!control) throw UserError("the page has no " + name);
  if (!control->visible()) throw UserError(name + " is hidden");
  if (!control->usable()) {
    const bool readOnly = kind == host::code::kKindTextbox && (control->options & SimControl::kEnabled) == 0;
    throw UserError(name + (readOnly ? " is read-only" : " is disabled"));
  }
  return *control;
}

bool SimHost::typeText(int id, const std::string& newText) {
  SimControl& box = usableControl(id, host::code::kKindTextbox);
  box.text = newText;
  handlerOfShownPage()->PropertyManagerPage2Handler_OnTextboxChanged(id, newText);
  return true;
}

bool SimHost::selectItem(int id, int index) {
  SimControl& combo = usableControl(id, host::code::kKindCombobox);
  if (!inList(combo.items, index)) {
    throw UserError("combo box " + std::to_string(id) + " has no entry " + std::to_string(index));
  }
  combo.selection = static_cast<std::int16_t>(index);
  combo.text = combo.items[index];
  handlerOfShownPage()->PropertyManagerPage2Handler_OnComboboxSelectionChanged(id, index);
  return true;
}

bool SimHost::checkBox(int id, bool checked) {
  SimControl& box = usableControl(id, host::code::kKindCheckbox);
  box.checked = checked;
  handlerOfShownPage()->PropertyManagerPage2Handler_OnCheckboxCheck(id, checked);
  return true;
}

bool SimHost::pressButton(int id) {
  usableControl(id, host::code::kKindButton);
  handlerOfShownPage()->PropertyManagerPage2Handler_OnButtonPress(id);
  return true;
}

bool SimHost::help() {
  pageInUse();
  handlerOfShownPage()->PropertyManagerPage2Handler_OnHelp();
  return true;
}

bool SimHost::closePage(int reason) {
  pageInUse().closeWith(reason);
  return true;
}

void SimHost::reportError(const std::string& errorText) {
  if (onEvent) onEvent("error", errorText);
}

}  // namespace kelvane::sim
