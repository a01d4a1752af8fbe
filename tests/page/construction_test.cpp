#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string_view>
#include <string>
#include <vector>

#include "page/session.h"

namespace kelvane::testing {
namespace {

// The page as a person would list it: group boxes and their controls in page order.
std::string describePage(const sim::SimPage& page) {
  std::ostringstream out;
  for (const auto& group : page.groups) {
    out << "group " << group->id << " '" << group->caption << "' options " << group->options << "\n";
    for (const auto& c : group->controls) {
      out << "  " << c->id << " kind " << c->kind << " '" << c->caption << "' align " << c->align
          << " options " << c->options << " tip '" << c->tip << "'";
      if (!c->items.empty()) {
        out << " items ";
        for (std::size_t i = 0; i < c->items.size(); ++i) out << (i ? "|" : "") << c->items[i];
      }
      out << "\n";
    }
  }
  return out.str();
}

std::size_t firstIndexOf(const std::vector<std::string>& ops, const std::string& op) {
  return std::find(ops.begin(), ops.end(), op) - ops.begin();
}

std::size_t lastIndexOf(const std::vector<std::string>& ops, const std::string& op) {
  auto found = std::find(ops.rbegin(), ops.rend(), op);
  return found == ops.rend() ? ops.size() : ops.rend() - found - 1;
}

// A definition of `groups` groups named G0.., the last holding `lastFields` text fields.
std::string manyGroups(int groups, int lastFields) {
  std::string ini = "[Groups]\n";
  for (int g = 0; g < groups; ++g) ini += "G" + std::to_string(g) + "\n";
  ini += "[G" + std::to_string(groups - 1) + "]\n";
  for (int f = 0; f < lastFields; ++f) ini += "F" + std::to_string(f) + "\n";
  return ini;
}

TEST(DispPropMgr, AddsEveryControlWithItsIdKindOptionsCaptionAndTip) {
  Session session(
      "[Groups]\nMain\nEmpty -\nSecond -\n"
      "[Main]\nName\nKind\nCode;;<Name>\n"
      "[Second]\nSize;Size_Prop;M\n"
      "[Kind]\nA\nB\n",
      {"Default", "Large"});
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());

  EXPECT_EQ(describePage(*session.host->page),
            "group 10000 'Configurations' options 12\n"
            "  10001 kind 1 'Current Configuration' align 2 options 3 tip 'Current Configuration'\n"
            "  10002 kind 7 'Current Configuration' align 2 options 7 tip 'Current Configuration' items Default|Large\n"
            "  10003 kind 2 'Use Configurations' align 2 options 7 tip 'Use Configurations'\n"
            "group 0 'Main' options 12\n"
            "  1 kind 1 'Name' align 2 options 3 tip 'Name'\n"
            "  0 kind 5 '' align 2 options 7 tip 'Name'\n"
            "  3 kind 1 'Kind' align 2 options 3 tip 'Kind'\n"
            "  1 kind 7 '' align 2 options 7 tip 'Kind' items A|B\n"
            "  5 kind 1 'Code' align 2 options 3 tip 'Code'\n"
            "  2 kind 5 '' align 2 options 5 tip 'Code'\n"
            "group 1 'Empty' options 4\n"
            "group 2 'Second' options 4\n"
            "  2001 kind 1 'Size' align 2 options 3 tip 'Size'\n"
            "  2000 kind 5 '' align 2 options 7 tip 'Size'\n"
            "group 20000 'Tools...' options 12\n"
            "  20001 kind 3 'Reset All Fields' align 2 options 3 tip 'Clear text fields and reset lists for selected configuration'\n"
            "  20002 kind 3 'Load Default Values' align 2 options 3 tip 'Load available default values for selected configuration'\n"
            "  20003 kind 3 'Purge Doc CP Fields' align 2 options 3 tip 'Remove all document custom property fields for all configurations'\n"
            "  20004 kind 3 'Edit Kelvane.ini file' align 2 options 0 tip 'SORRY: Not yet implemented, please edit ini file manually with a text editor'\n");
  EXPECT_EQ(session.lastStatus(), std::string("Kelvane 1.1 ") + kCopyrightNotice);
}

TEST(DispPropMgr, OffersTheEditButtonOnlyWhenTheDefinitionEnablesIt) {
  for (const auto& [option, expected] : {std::pair{"", 0}, std::pair{":ENABLE_INI_EDIT=Yes\n", 3},
                                         std::pair{":ENABLE_INI_EDIT=no\n", 0}}) {
    Session session(std::string(option) + "[Groups]\nMain\n");
    ASSERT_TRUE(session.connect());
    ASSERT_TRUE(session.open());
    EXPECT_EQ(session.control(20004, host::code::kKindButton).options, expected) << option;
  }
}

TEST(DispPropMgr, MakesTheCommandUnavailableAfterTheControlsAndBeforeReadingTheDocument) {
  Session session;
  ASSERT_TRUE(session.connect());
  const std::size_t from = session.host->faults->calls.size();
  ASSERT_TRUE(session.open());

  const auto ops = session.operationsSince(from);
  const std::size_t remove = firstIndexOf(ops, "remove-menu-item");
  EXPECT_LT(lastIndexOf(ops, "add-control"), remove);
  EXPECT_LT(lastIndexOf(ops, "add-menu-item"), firstIndexOf(ops, "get-custom-property"));
  EXPECT_LT(lastIndexOf(ops, "set-text"), firstIndexOf(ops, "show-page"));
  EXPECT_EQ(lastIndexOf(ops, "set-status-bar-text"), ops.size() - 1);
  EXPECT_EQ(session.countSince(from, "remove-menu-item"), 2u);
  EXPECT_EQ(session.countSince(from, "add-menu-item"), 2u);
  EXPECT_EQ(session.state().menuEnabled, 0);
  EXPECT_EQ(session.host->menuStatusNow(), 0);
  for (const auto& item : session.host->menu) EXPECT_EQ(item.enableCallback, "menuStatus");
}

struct UseConfigsCase {
  const char* fileOption;
  std::optional<std::string> stored;  // the document's "USE_CONFIGS"; nullopt: absent
  bool expected;
};

TEST(DispPropMgr, LetsTheDocumentOverrideUseConfigsOnlyWithExactlyTrueOrFalse) {
  const UseConfigsCase cases[] = {
      {"", std::nullopt, false},     {":USE_CONFIGS=Yes\n", std::nullopt, true},
      {"", "True", true},            {":USE_CONFIGS=Yes\n", "False", false},
      {":USE_CONFIGS=Yes\n", "true", true}, {"", "TRUE", false},
      {":USE_CONFIGS=Yes\n", "Yes", true},  {"", "", false},
      {":USE_CONFIGS=Yes\n", "0", true},    {":USE_CONFIGS=Yes\n", " False ", false},
  };
  for (const auto& c : cases) {
    Session session(std::string(c.fileOption) + "[Groups]\nMain\n[Main]\nName\n", {"Default", "Large"});
    if (c.stored) session.doc->properties.set("USE_CONFIGS", *c.stored);
    ASSERT_TRUE(session.connect());
    ASSERT_TRUE(session.open());
    const std::string label = std::string(c.fileOption) + " / " + c.stored.value_or("<absent>");
    EXPECT_EQ(session.state().model.useConfigs, c.expected) << label;
    EXPECT_EQ(session.checkbox().checked, c.expected) << label;
    EXPECT_EQ(session.comboBox(10002).enabled, c.expected) << label;
  }
}

struct ActiveConfigCase {
  std::vector<std::string> configurations;
  int active;
  bool useConfigs;
  int selection;
  bool checkboxEnabled;
  const char* shown;  // the text box's text
};

TEST(DispPropMgr, ShowsTheActiveConfigurationOnlyWhenValuesArePerConfiguration) {
  const ActiveConfigCase cases[] = {
      {{"Default", "Large", "Small"}, 0, true, 0, true, "v0"},
      {{"Default", "Large", "Small"}, 2, true, 2, false, "v2"},
      {{"Default", "Large", "Small"}, 2, false, 0, true, "document"},
      {{"A", "B", "A"}, 0, true, 2, false, "v2"},  // a later equal name wins
  };
  for (const auto& c : cases) {
    Session session("[Groups]\nMain\n[Main]\nName\n", c.configurations);
    session.doc->activeConfiguration = c.active;
    session.doc->properties.set("USE_CONFIGS", c.useConfigs ? "True" : "False");
    for (std::size_t k = 0; k < c.configurations.size(); ++k)
      session.doc->configurationProperties[c.configurations[k]].set("Name", "v" + std::to_string(k));
    session.doc->properties.set("Name", "document");
    ASSERT_TRUE(session.connect());
    ASSERT_TRUE(session.open());

    const std::string label = "active " + std::to_string(c.active) + (c.useConfigs ? " per configuration" : "");
    EXPECT_EQ(session.comboBox(10002).selection, c.selection) << label;
    EXPECT_EQ(session.checkbox().enabled, c.checkboxEnabled) << label;
    EXPECT_EQ(session.textBox(0).text, c.shown) << label;
  }
}

TEST(DispPropMgr, EditsAndSavesTheDocumentWideValueOfADocumentWithoutConfigurations) {
  for (const bool perConfiguration : {false, true}) {
    Session session("[Groups]\nMain\n[Main]\nName;;fallback\n", {});
    session.doc->properties.set("USE_CONFIGS", perConfiguration ? "True" : "False");
    ASSERT_TRUE(session.connect());
    ASSERT_TRUE(session.open());
    EXPECT_EQ(session.textBox(0).text, "fallback");

    ASSERT_TRUE(session.host->typeText(0, "typed"));
    ASSERT_TRUE(session.host->closePage(1));

    // Nothing may fail on the way: no error text on the status bar.
    for (const auto& text : session.host->statusTexts) EXPECT_EQ(text.rfind("Error", 0), std::string::npos) << text;
    // Without configurations to keep values in, the one slot is the document-wide value
    // in either mode, and the next opening shows it again.
    const std::string expected = std::string("USE_CONFIGS=") + (perConfiguration ? "True" : "False") + "\nName=typed\n";
    EXPECT_EQ(listed(session.doc->properties), expected) << perConfiguration;
    ASSERT_TRUE(session.open());
    EXPECT_EQ(session.textBox(0).text, "typed") << perConfiguration;
  }
}

TEST(DispPropMgr, DecodesTextBoxesOfGroupsTenAndTwentyDespiteTheirIdsMatchingFixedControls) {
  std::string ini = "[Groups]\n";
  for (int g = 0; g <= 20; ++g) ini += "G" + std::to_string(g) + "\n";
  ini += "[G10]\nT0\nT1\nPick\nT3\n[Pick]\none\ntwo\n[G20]\nU0\nU1\n";
  Session session(ini, {"Default", "Large"});
  session.doc->properties.set("USE_CONFIGS", "True");
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  auto& groups = session.state().bindings;

  // 10003 is also the checkbox, 20001 also the reset button: the text boxes still
  // reach their own fields.
  ASSERT_TRUE(session.host->typeText(10003, "ten-three"));
  ASSERT_TRUE(session.host->typeText(20001, "twenty-one"));
  EXPECT_EQ(groups[10].fields[3].configValues[0], "ten-three");
  EXPECT_EQ(groups[20].fields[1].configValues[0], "twenty-one");
  ASSERT_TRUE(session.host->pressButton(20001));
  EXPECT_EQ(groups[20].fields[1].configValues[0], " ");

  // A selection in the combo box 10002 of group 10 is taken for the configuration combo box.
  session.addin.handler()->PropertyManagerPage2Handler_OnComboboxSelectionChanged(10002, 1);
  EXPECT_EQ(session.state().currentConfig, 1);
  EXPECT_FALSE(session.checkbox().enabled);
  EXPECT_EQ(groups[10].fields[2].configValues[0], "one");
}

struct OverflowCase {
  int groups;
  int lastFields;
  bool shown;
};

TEST(DispPropMgr, StopsWithExitOnErrorWhenAControlIdOverflowsSixteenBits) {
  const OverflowCase cases[] = {
      {33, 384, true},   // group 32: last label id 32767
      {33, 385, false},  // group 32, field 384: label id 32769
      {34, 0, true},     // group 33 without fields: its group box id fits
      {34, 1, false},    // group 33, field 0: label id 33001
  };
  for (const auto& c : cases) {
    Session session(manyGroups(c.groups, c.lastFields));
    ASSERT_TRUE(session.connect());
    session.host->pickMenu();
    const std::string label = std::to_string(c.groups) + " groups, " + std::to_string(c.lastFields) + " fields";
    EXPECT_EQ(session.host->page->shown, c.shown) << label;
    EXPECT_EQ(session.lastStatus(), c.shown ? std::string("Kelvane 1.1 ") + kCopyrightNotice : "Exit on error")
        << label;
    EXPECT_EQ(session.host->menuStatusNow(), c.shown ? 0 : 1) << label;
  }
}

TEST(DispPropMgr, StopsAfterTheConfigurationControlsWhenTheDefinitionHasNoGroups) {
  Session session;
  session.os.files.clear();
  ASSERT_TRUE(session.connect());
  const std::size_t from = session.host->faults->calls.size();

  EXPECT_FALSE(session.addin.DispPropMgr());

  EXPECT_EQ(session.lastStatus(), "Exit on error");
  ASSERT_EQ(session.host->page->groups.size(), 1u);
  EXPECT_EQ(session.host->page->groups[0]->id, 10000);
  EXPECT_EQ(session.host->page->groups[0]->controls.size(), 3u);
  EXPECT_EQ(session.countSince(from, "remove-menu-item"), 0u);
  EXPECT_EQ(session.countSince(from, "show-page"), 0u);
  EXPECT_EQ(session.host->menuStatusNow(), 1);
}

TEST(DispPropMgr, QuitsBeforeTouchingThePageWhenTheDefinitionDoesNotParse) {
  Session session("[Groups]\n[Unknown]\n");
  ASSERT_TRUE(session.connect());
  const std::size_t from = session.host->faults->calls.size();

  EXPECT_FALSE(session.addin.DispPropMgr());

  EXPECT_EQ(session.lastStatus(), "Kelvane.ini read error; Quitting");
  EXPECT_EQ(session.os.messages, std::vector<std::string>{"Error caused by line 1 of Kelvane.ini"});
  EXPECT_EQ(session.countSince(from, "add-group"), 0u);
  EXPECT_EQ(session.countSince(from, "remove-menu-item"), 0u);
  EXPECT_EQ(session.host->menuStatusNow(), 1);
}

TEST(DispPropMgr, LetsAFailingFileTestReachTheHost) {
  Session session;
  ASSERT_TRUE(session.connect());
  session.os.failNext("file-exists");
  EXPECT_THROW(session.host->pickMenu(), platform::PlatformError);
}

struct FailureCase {
  const char* operation;
  int nth;
  bool shown;
  int menuStatus;  // what the command answers right after the failure
  std::size_t menuRemovals;
};

TEST(DispPropMgr, OffersTheCommandAgainAfterAFailureUnlessThePageIsShown) {
  const FailureCase cases[] = {
      {"add-control", 5, false, 1, 0},          // before the command was made unavailable
      {"get-custom-property", 1, false, 1, 4},  // "USE_CONFIGS", right after
      {"show-page", 1, false, 1, 4},
      {"set-status-bar-text", 1, true, 0, 2},   // the banner, with the page shown
  };
  for (const auto& c : cases) {
    Session session;
    ASSERT_TRUE(session.connect());
    const std::size_t from = session.host->faults->calls.size();
    session.host->faults->failNext(c.operation, c.nth);

    EXPECT_FALSE(session.addin.DispPropMgr()) << c.operation;

    EXPECT_EQ(session.lastStatus(), "Exit on error") << c.operation;
    EXPECT_EQ(session.host->page->shown, c.shown) << c.operation;
    EXPECT_EQ(session.host->menuStatusNow(), c.menuStatus) << c.operation;
    EXPECT_EQ(session.countSince(from, "remove-menu-item"), c.menuRemovals) << c.operation;
    ASSERT_EQ(session.host->menu.size(), 2u);
    for (const auto& item : session.host->menu) EXPECT_EQ(item.enableCallback, "menuStatus");
    if (c.shown) {
      ASSERT_TRUE(session.host->closePage(2));
    }
    EXPECT_TRUE(session.open()) << c.operation << ": the user can retry";
  }
}

// A page that failed to show keeps its model until the next opening parses anew; the
// composite fields must follow the new file even when its counts did not change.
TEST(DispPropMgr, BuildsCompositesFromTheReparsedFileAfterAFailedShow) {
  Session session("[Groups]\nG\n[G]\nX;;x\nY;;y\nC;;<X>\n");
  ASSERT_TRUE(session.connect());
  session.host->faults->failNext("show-page");
  ASSERT_FALSE(session.addin.DispPropMgr());

  session.os.setFileText(pagedef::kIniFileName, "[Groups]\nG\n[G]\nY;;y\nX;;x\nC;;<X>\n");
  ASSERT_TRUE(session.open());
  ASSERT_TRUE(session.host->closePage(host::code::kCloseOkay));
  EXPECT_EQ(session.property("", "C"), "x");
}

TEST(DispPropMgr, FailedReOfferAfterAFailedOpeningStillEndsInExitOnError) {
  struct Case {
    const char* operation;
    int nth;  // counted from the opening's own re-registration
    bool offered;
  };
  const Case cases[] = {
      {"remove-menu-item", 3, true},  // the old registration stays, and menuStatus answers 1
      {"remove-menu-item", 4, true},  // type 2 keeps its registration
      {"add-menu-item", 3, false},    // both removed, none added: the host has no command
      {"add-menu-item", 4, true},
  };
  for (const Case& c : cases) {
    Session session;
    ASSERT_TRUE(session.connect());
    std::vector<std::string> failures;
    session.state().onFailure = [&](std::string_view procedure, const std::exception& e) {
      failures.push_back(std::string(procedure) + ": " + e.what());
    };
    session.host->faults->failNext("show-page");
    session.host->faults->failNext(c.operation, c.nth);

    EXPECT_FALSE(session.addin.DispPropMgr()) << c.operation << c.nth;
    EXPECT_EQ(session.host->statusTexts.back(), "Exit on error");
    EXPECT_EQ(failures, (std::vector<std::string>{
                            "DispPropMgr: host operation failed: show-page",
                            std::string("DispPropMgr: host operation failed: ") + c.operation}));
    EXPECT_EQ(session.state().menuEnabled, 1);
    const bool ran = session.host->pickMenu() == sim::SimHost::MenuResult::Ran;
    EXPECT_EQ(ran, c.offered) << c.operation << c.nth;
    if (ran) {
      EXPECT_TRUE(session.host->page->shown) << "the retry opens the page";
    }
  }
}

}  // namespace
}  // namespace kelvane::testing
