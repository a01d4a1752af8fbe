// DispPropMgr: builds the page for the active document and shows it.
#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/checked.h"
#include "logfile/logfile.h"
#include "page/page.h"
#include "pagedef/parser.h"
#include "props/props.h"
#include "tools/tools.h"

namespace kelvane {
namespace {

constexpr int kGroupOptions = 12;
constexpr int kCollapsedGroupOptions = 4;
constexpr int kLabelOptions = 3;
constexpr int kInputOptions = 7;
constexpr int kCompositeOptions = 5;
constexpr int kButtonOptions = 3;
constexpr int kDisabledButtonOptions = 0;

std::shared_ptr<host::Control> addControl(host::Group& group, int id, int kind,
                                          std::string_view caption, int options,
                                          std::string_view tip) {
  return required(group.AddControl(checked16(id, "control id"), static_cast<std::int16_t>(kind),
                                   caption, host::code::kAlignDefault, options, tip),
                  "add-control");
}

std::shared_ptr<host::Group> addGroup(host::Page& page, int id, std::string_view caption,
                                      int options) {
  return required(page.AddGroupBox(checked16(id, "group id"), caption, options), "add-group");
}

// How far construction got, for the clean-up after a failure.
struct Progress {
  bool menuUnavailable = false;
  bool shown = false;
};

void addConfigurationControls(State& s, host::Page& page) {
  const std::string current = "Current Configuration";
  const std::string use = "Use Configurations";
  s.configGroup = addGroup(page, ids::kConfigGroup, "Configurations", kGroupOptions);
  s.configLabel = addControl(*s.configGroup, ids::kConfigLabel, host::code::kKindLabel, current,
                             kLabelOptions, current);
  s.configCombo = addControl(*s.configGroup, ids::kConfigCombo, host::code::kKindCombobox, current,
                             kInputOptions, current);
  s.currentConfig = 0;
  s.useConfigsCheck = addControl(*s.configGroup, ids::kUseConfigsCheck, host::code::kKindCheckbox,
                                 use, kInputOptions, use);
}

void listConfigurations(State& s) {
  s.configCount = checked16(activeDocument(s)->GetConfigurationCount(), "configuration count");
  s.configNames = activeDocument(s)->GetConfigurationNames();
  const auto active = activeDocument(s)->GetActiveConfiguration();
  for (std::int16_t k = 0; k < s.configCount; ++k) {
    const std::string& name = s.configNames.at(k);
    s.configCombo->AddItems(name);
    // Every name is compared, so a later equal name wins.
    if (name == required(active, "get-active-configuration")->Name()) s.currentConfig = k;
  }
}

void addFieldControls(State& s, int g, const pagedef::GroupDef& group, GroupBinding& bound) {
  for (int f = 0; f < static_cast<int>(group.fields.size()); ++f) {
    const pagedef::FieldDef& field = group.fields[f];
    FieldBinding& binding = bound.fields[f];
    // Slot 0 holds the document-wide value, so it exists even for a document that
    // reports no configuration at all.
    binding.configValues.assign(std::max<int>(s.configCount, 1), "");
    binding.origins.assign(binding.configValues.size(), SlotOrigin::Unread);
    binding.label = addControl(*bound.pageGroup, g * 1000 + 2 * f + 1, host::code::kKindLabel,
                               field.caption, kLabelOptions, field.caption);
    const int kind = field.isTextBox() ? host::code::kKindTextbox : host::code::kKindCombobox;
    const int options = field.isTextBox() && field.defaultValue == pagedef::kCompositeMark
                            ? kCompositeOptions
                            : kInputOptions;
    binding.control = addControl(*bound.pageGroup, g * 1000 + f, kind, "", options, field.caption);
    for (const pagedef::ListItem& item : field.items) binding.control->AddItems(item.text);
  }
}

void addDefinedGroups(State& s, host::Page& page) {
  const auto& groups = s.model.groups;
  if (groups.empty()) throw std::out_of_range("upper bound of an empty table");
  s.lastGroup = checked16(static_cast<long long>(groups.size()) - 1, "last group");
  // Shaped like the model first: a field not reached yet has no control and no slot.
  s.bindings.assign(groups.size(), {});
  for (std::size_t g = 0; g < groups.size(); ++g) s.bindings[g].fields.resize(groups[g].fields.size());
  for (int g = 0; g <= s.lastGroup; ++g) {
    const pagedef::GroupDef& group = groups[g];
    GroupBinding& bound = s.bindings[g];
    bound.pageGroup = addGroup(page, g, group.name,
                               group.expanded ? kGroupOptions : kCollapsedGroupOptions);
    addFieldControls(s, g, group, bound);
  }
}

void addTools(State& s, host::Page& page) {
  struct Button {
    int id;
    std::string caption;
    int options;
    const char* tip;
  };
  const Button buttons[] = {
      {ids::kResetButton, "Reset All Fields", kButtonOptions,
       "Clear text fields and reset lists for selected configuration"},
      {ids::kDefaultsButton, "Load Default Values", kButtonOptions,
       "Load available default values for selected configuration"},
      {ids::kPurgeButton, "Purge Doc CP Fields", kButtonOptions,
       "Remove all document custom property fields for all configurations"},
      {ids::kEditButton, std::string("Edit ") + pagedef::kIniFileName + " file",
       s.model.enableIniEdit ? kButtonOptions : kDisabledButtonOptions,
       "SORRY: Not yet implemented, please edit ini file manually with a text editor"},
  };
  s.toolsGroup = addGroup(page, ids::kToolsGroup, "Tools...", kGroupOptions);
  for (std::size_t i = 0; i < s.toolButtons.size(); ++i) {
    const Button& b = buttons[i];
    s.toolButtons[i] =
        addControl(*s.toolsGroup, b.id, host::code::kKindButton, b.caption, b.options, b.tip);
  }
}

// The document's own "USE_CONFIGS" wins over the definition file, but only when it
// says exactly "True" or "False".
void settleUseConfigs(State& s) {
  const std::string stored = getCP(*activeDocument(s), "", "USE_CONFIGS");
  if (stored == "True") {
    s.model.useConfigs = true;
  } else if (stored == "False") {
    s.model.useConfigs = false;
  }
}

void buildAndShow(State& s, Progress& progress) {
  if (!s.propPage) throw host::HostError("add-group", "no page");
  host::Page& page = *s.propPage;

  addConfigurationControls(s, page);
  listConfigurations(s);
  addDefinedGroups(s, page);
  addTools(s, page);

  // The command stays unavailable while the page is open.
  progress.menuUnavailable = true;
  removeMenuItems(s);
  s.menuEnableCallback = "menuStatus";
  s.menuEnabled = 0;
  addMenuItems(s);

  settleUseConfigs(s);
  s.callStatus = readCP(s);
  if (!s.model.useConfigs) s.currentConfig = 0;
  s.configCombo->SetCurrentSelection(s.currentConfig);
  s.configCombo->SetEnabled(s.model.useConfigs);
  s.useConfigsCheck->SetChecked(s.model.useConfigs);
  // The mode may only be switched while configuration 0 is shown.
  s.useConfigsCheck->SetEnabled(s.currentConfig == 0);

  s.callStatus = readLogFile(s);
  s.callStatus = loadCP(s, s.currentConfig);
  s.callStatus = buildComposites(s);

  s.callStatus = page.Show() != 0;
  progress.shown = s.callStatus;
  showStatus(s, std::string(kProgramTitle) + " " + kCopyrightNotice);
}

// Without a shown page no AfterClose will come to offer the command again, so do it
// here and let the user retry once the cause is fixed. This is still the opening's
// failure: an error here is trapped like the one that led here. menuStatus answers 1
// first, so the command is offered even when the host keeps the old registration.
void offerCommandAgain(State& s) {
  s.menuEnabled = 1;
  try {
    removeMenuItems(s);
    addMenuItems(s);
  } catch (const std::exception& e) {
    noteFailure(s.onFailure, "DispPropMgr", e);
  }
}

}  // namespace

bool DispPropMgr(State& s) {
  // Whatever an earlier page that failed to show left bound goes with its model.
  s.emptyModel();
  if (!pagedef::readPageDefinition(s.model, s.platform, s.ThisSW.get(), s.onFailure)) {
    showStatus(s, status::kIniReadError);
    return false;
  }

  Progress progress;
  try {
    buildAndShow(s, progress);
    return true;
  } catch (const std::exception& e) {
    noteFailure(s.onFailure, "DispPropMgr", e);
  }
  if (progress.menuUnavailable && !progress.shown) offerCommandAgain(s);
  showStatus(s, status::kExitOnError);
  return false;
}

}  // namespace kelvane
