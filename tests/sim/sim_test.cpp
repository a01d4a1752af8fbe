#include "sim/sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace kelvane::sim {
namespace {

using host::HostError;
using testing::ElementsAre;
using testing::Field;
using testing::IsEmpty;
using testing::ThrowsMessage;

// Records every handler call as text; `failing` names a method that throws.
class RecordingHandler : public host::PropertyManagerPage2Handler {
 public:
  std::vector<std::string> events;
  std::string failing;

  void PropertyManagerPage2Handler_OnClose(std::int32_t reason) override {
    record("OnClose(" + std::to_string(reason) + ")");
  }
  void PropertyManagerPage2Handler_AfterClose() override { record("AfterClose"); }
  bool PropertyManagerPage2Handler_OnHelp() override {
    record("OnHelp");
    return false;
  }
  void PropertyManagerPage2Handler_OnGroupExpand(std::int32_t, bool) override {}
  void PropertyManagerPage2Handler_OnGroupCheck(std::int32_t, bool) override {}
  void PropertyManagerPage2Handler_OnCheckboxCheck(std::int32_t id, bool checked) override {
    record("OnCheckboxCheck(" + std::to_string(id) + "," + (checked ? "true" : "false") + ")");
  }
  void PropertyManagerPage2Handler_OnOptionCheck(std::int32_t) override {}
  void PropertyManagerPage2Handler_OnButtonPress(std::int32_t id) override {
    record("OnButtonPress(" + std::to_string(id) + ")");
  }
  void PropertyManagerPage2Handler_OnTextboxChanged(std::int32_t id, const std::string& text) override {
    record("OnTextboxChanged(" + std::to_string(id) + "," + text + ")");
  }
  void PropertyManagerPage2Handler_OnNumberboxChanged(std::int32_t, double) override {}
  void PropertyManagerPage2Handler_OnComboboxSelectionChanged(std::int32_t id, std::int32_t item) override {
    record("OnComboboxSelectionChanged(" + std::to_string(id) + "," + std::to_string(item) + ")");
  }
  void PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t, std::int32_t) override {}
  void PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t) override {}
  void PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t, std::int32_t) override {}

 private:
  void record(const std::string& event) {
    events.push_back(event);
    if (event.starts_with(failing + "(") || (!failing.empty() && event == failing)) {
      throw std::runtime_error(failing + " broke");
    }
  }
};

// Answers the enable callback with `enabled` and records every call by name.
class RecordingTarget : public host::CallbackTarget {
 public:
  std::int32_t enabled = 1;
  std::vector<std::string> invoked;
  std::int32_t InvokeByName(const std::string& name) override {
    invoked.push_back(name);
    if (name == "DispPropMgr") return -1;
    if (name == "menuStatus") return enabled;
    throw HostError("invoke", name);
  }
};

// A host with one shown page: a text box 1000, a combo box 1001 with items A, B, A,
// a checkbox 10003 and a button 20001; ids repeat as they may on a real page.
class SimPageTest : public testing::Test {
 protected:
  void SetUp() override {
    host_.onEvent = [this](const std::string& kind, const std::string& text) {
      events_.push_back(kind + ":" + text);
    };
    host_.faults->logCalls();
    std::int32_t errors = -1;
    page_ = host_.CreatePropertyManagerPage("Kelvane 1.1", 7, handler_, errors);
    auto group = page_->AddGroupBox(1, "Part", 12);
    group->AddControl(1001, 1, "Label", 2, 1, "");
    group->AddControl(1000, 5, "Part Number", 2, 7, "tip");
    auto combo = group->AddControl(1001, 7, "Finish", 2, 7, "");
    for (const char* item : {"A", "B", "A"}) combo->AddItems(item);
    group->AddControl(10003, 2, "Use Configurations", 2, 7, "");
    group->AddControl(20001, 3, "Reset All Fields", 2, 7, "");
    page_->Show();
    host_.faults->calls.clear();
  }

  SimPage& page() { return *host_.page; }

  SimHost host_;
  std::shared_ptr<RecordingHandler> handler_ = std::make_shared<RecordingHandler>();
  std::shared_ptr<host::Page> page_;
  std::vector<std::string> events_;
};

TEST(PropertySet, NamesMatchIgnoringCaseAndKeepTheirSpelling) {
  PropertySet set;
  EXPECT_TRUE(set.add("PartNo", "1"));
  EXPECT_FALSE(set.add("PARTNO", "2"));
  EXPECT_EQ(set.get("partno"), "1");
  set.set("PARTNO", "3");
  set.set("Finish", "4");
  EXPECT_THAT(set.all(), ElementsAre(Field(&PropertySet::Property::name, "PartNo"),
                                     Field(&PropertySet::Property::name, "Finish")));
  EXPECT_EQ(set.get("partNo"), "3");
  EXPECT_EQ(set.get("Missing"), std::nullopt);
  EXPECT_TRUE(set.remove("partno"));
  EXPECT_FALSE(set.remove("PartNo"));
  EXPECT_THAT(set.all(), ElementsAre(Field(&PropertySet::Property::name, "Finish")));
}

// Each step: "+name" adds, "-name" removes; the list afterwards, in order.
TEST(PropertySet, RemovalsKeepTheOrderOfTheOthers) {
  const struct {
    std::vector<std::string> steps;
    std::string names;
  } cases[] = {
      {{"+a", "+b", "+c", "-b"}, "a c"},
      {{"+a", "+b", "+c", "-a", "-c"}, "b"},
      {{"+a", "+b", "+c", "-b", "+B"}, "a c B"},
      {{"+a", "+b", "-a", "-b", "+c", "+A"}, "c A"},
      {{"+a", "+b", "+c", "+d", "-a", "-b", "-c", "+e", "+f"}, "d e f"},
  };
  for (const auto& c : cases) {
    PropertySet set;
    std::string names;
    for (const auto& step : c.steps) {
      const std::string name = step.substr(1);
      EXPECT_TRUE(step[0] == '+' ? set.add(name, step) : set.remove(name)) << step;
    }
    for (const auto& p : set.all()) names += (names.empty() ? "" : " ") + p.name;
    EXPECT_EQ(names, c.names);
    for (const auto& p : set.all()) EXPECT_EQ(set.get(p.name), "+" + p.name);
  }
}

TEST(PropertySet, ManyRemovalsAndAdditionsKeepEveryNameFindable) {
  PropertySet set;
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) set.add("Name" + std::to_string(i), std::to_string(i));
  for (int i = 0; i < 300; i += 3) EXPECT_TRUE(set.remove("NAME" + std::to_string(i)));
  for (int i = 0; i < 300; i += 6) EXPECT_TRUE(set.add("name" + std::to_string(i), "again"));
  for (int i = 0; i < 300; ++i) {
    if (i % 3 != 0) expected.push_back("Name" + std::to_string(i));
  }
  for (int i = 0; i < 300; i += 6) expected.push_back("name" + std::to_string(i));
  std::vector<std::string> names;
  for (const auto& p : set.all()) names.push_back(p.name);
  EXPECT_EQ(names, expected);
  for (int i = 0; i < 300; ++i) {
    const auto value = set.get("nAmE" + std::to_string(i));
    EXPECT_EQ(value, i % 6 == 0 ? std::optional<std::string>("again")
                     : i % 3 == 0 ? std::nullopt : std::optional<std::string>(std::to_string(i)))
        << i;
  }
}

TEST(SimDocument, CustomPropertiesPerScope) {
  SimHost host;
  auto doc = host.newDocument();
  doc->addConfiguration("Default");
  EXPECT_TRUE(doc->AddCustomInfo3("", "PartNo", 30, "doc"));
  EXPECT_FALSE(doc->AddCustomInfo3("", "partno", 30, "again"));
  EXPECT_TRUE(doc->AddCustomInfo3("Default", "PartNo", 30, "config"));
  EXPECT_EQ(doc->GetCustomInfo2("", "PARTNO"), "doc");
  EXPECT_EQ(doc->GetCustomInfo2("Default", "PartNo"), "config");
  EXPECT_EQ(doc->GetCustomInfo2("", "Missing"), "");
  doc->SetCustomInfo2("Default", "Finish", "new");
  EXPECT_EQ(doc->configurationProperties["Default"].get("Finish"), "new");
  EXPECT_TRUE(doc->DeleteCustomInfo2("", "partNO"));
  EXPECT_FALSE(doc->DeleteCustomInfo2("", "PartNo"));
  EXPECT_EQ(doc->GetCustomInfo2("Default", "PartNo"), "config");
  doc->configurationProperties.erase("Default");  // the host's index of scopes starts over
  doc->configurationProperties["Default"].set("PartNo", "fresh");
  EXPECT_EQ(doc->GetCustomInfo2("Default", "PartNo"), "fresh");
}

TEST(SimDocument, UnknownConfigurationFailsTheOperation) {
  SimHost host;
  auto doc = host.newDocument();
  doc->addConfiguration("Default");
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"add-custom-property", [&] { doc->AddCustomInfo3("default", "P", 30, "v"); }},
      {"get-custom-property", [&] { doc->GetCustomInfo2("Other", "P"); }},
      {"set-custom-property", [&] { doc->SetCustomInfo2("Other", "P", "v"); }},
      {"delete-custom-property", [&] { doc->DeleteCustomInfo2("Other", "P"); }},
  };
  for (const auto& [operation, call] : cases) {
    try {
      call();
      ADD_FAILURE() << operation << " did not fail";
    } catch (const HostError& e) {
      EXPECT_EQ(e.operation(), operation);
    }
  }
}

TEST(SimDocument, ConfigurationsTitleAndDensity) {
  SimHost host;
  auto doc = host.newDocument();
  doc->title = "Bracket.SLDPRT";
  doc->density = 7850;
  EXPECT_EQ(doc->GetActiveConfiguration(), nullptr);
  EXPECT_EQ(doc->GetConfigurationCount(), 0);
  doc->addConfiguration("Default");
  doc->addConfiguration("Long");
  doc->activeConfiguration = 1;
  EXPECT_EQ(doc->GetConfigurationCount(), 2);
  EXPECT_THAT(doc->GetConfigurationNames(), ElementsAre("Default", "Long"));
  EXPECT_EQ(doc->GetActiveConfiguration()->Name(), "Long");
  EXPECT_EQ(doc->GetTitle(), "Bracket.SLDPRT");
  EXPECT_EQ(doc->GetUserPreferenceDoubleValue(7), 7850);
  EXPECT_EQ(doc->GetUserPreferenceDoubleValue(8), 0);
}

TEST(Faults, TheNthNextCallFailsOnce) {
  SimHost host;
  host.faults->logCalls();
  auto doc = host.newDocument();
  host.faults->failNext("get-title", 3);
  EXPECT_NO_THROW(doc->GetTitle());
  EXPECT_NO_THROW(doc->GetTitle());
  EXPECT_THAT([&] { doc->GetTitle(); }, ThrowsMessage<HostError>("host operation failed: get-title"));
  EXPECT_NO_THROW(doc->GetTitle());
  EXPECT_EQ(host.faults->calls.size(), 4u) << "failing calls are recorded too";

  host.faults->failNext("get-title");
  host.faults->clear();
  EXPECT_NO_THROW(doc->GetTitle());
}

TEST(Faults, KnowsEveryOperationAndRejectsOthers) {
  const auto& names = Faults::operations();
  EXPECT_EQ(names.size(), 30u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_TRUE(Faults::isOperation("set-text"));
  Faults faults;
  EXPECT_THROW(faults.failNext("get-txt"), std::invalid_argument);
  EXPECT_THROW(faults.failNext("get-text", 0), std::invalid_argument);
}

TEST(Faults, CallLogIsOffUntilAskedForAndKeepsArgumentsAsText) {
  SimHost host;
  host.GetFrame();
  EXPECT_THAT(host.faults->calls, IsEmpty());
  EXPECT_EQ(host.faults->callCount(), 1u);
  host.faults->logCalls();
  auto doc = host.newDocument();
  std::int32_t errors = -1;
  auto page = host.CreatePropertyManagerPage("Kelvane 1.1", 7, nullptr, errors);
  auto group = page->AddGroupBox(1, "Part", 12);
  auto box = group->AddControl(1000, 5, "Part Number", 2, 7, "tip");
  box->SetEnabled(false);
  doc->AddCustomInfo3("", "PartNo", 30, "A-100");
  const auto& calls = host.faults->calls;
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].operation, "create-page");
  EXPECT_THAT(calls[0].args, ElementsAre("Kelvane 1.1", "7"));
  EXPECT_THAT(calls[1].args, ElementsAre("1", "Part", "12"));
  EXPECT_EQ(calls[2].operation, "add-control");
  EXPECT_THAT(calls[2].args, ElementsAre("1000", "5", "Part Number", "2", "7", "tip"));
  EXPECT_THAT(calls[3].args, ElementsAre("false"));
  EXPECT_THAT(calls[4].args, ElementsAre("", "PartNo", "30", "A-100"));
}

TEST(SimHost, FrameShowsStatusTexts) {
  SimHost host;
  std::vector<std::string> seen;
  host.onEvent = [&](const std::string& kind, const std::string& text) { seen.push_back(kind + ":" + text); };
  host.GetFrame()->SetStatusBarText("Thank you for using Kelvane");
  EXPECT_THAT(host.statusTexts, ElementsAre("Thank you for using Kelvane"));
  EXPECT_THAT(seen, ElementsAre("status:Thank you for using Kelvane"));
  EXPECT_EQ(host.ActiveDoc(), nullptr);
}

TEST(SimHost, MenuItemsAreReplacedByPathAndRemovedByCallback) {
  SimHost host;
  EXPECT_EQ(host.GetLocalizedMenuName(4), "Tools");
  host.AddMenuItem2(1, 5, "Kelvane 1.1@Tools", 0, "DispPropMgr", "menuStatus", "Edit Custom Properties");
  host.AddMenuItem2(2, 5, "Kelvane 1.1@Tools", 0, "DispPropMgr", "menuStatus", "Edit Custom Properties");
  host.AddMenuItem2(1, 5, "Kelvane 1.1@Tools", 0, "DispPropMgr", "swAddIn.menuStatus",
                    "Edit Custom Properties");
  ASSERT_EQ(host.menu.size(), 2u);
  EXPECT_EQ(host.menu[0].enableCallback, "swAddIn.menuStatus");
  EXPECT_FALSE(host.RemoveMenu(1, "Kelvane 1.1@Tools", "Other"));
  EXPECT_TRUE(host.RemoveMenu(1, "Kelvane 1.1@Tools", "DispPropMgr"));
  EXPECT_FALSE(host.RemoveMenu(1, "Kelvane 1.1@Tools", "DispPropMgr"));
  ASSERT_EQ(host.menu.size(), 1u);
  EXPECT_EQ(host.menu[0].docType, 2);
}

TEST(SimHost, PickMenuAsksTheEnableCallbackFirst) {
  SimHost host;
  RecordingTarget target;
  EXPECT_EQ(host.pickMenu(), SimHost::MenuResult::Unavailable);
  host.AddMenuItem2(1, 5, "Kelvane 1.1@Tools", 0, "DispPropMgr", "menuStatus", "Edit Custom Properties");
  EXPECT_EQ(host.pickMenu(), SimHost::MenuResult::Unavailable) << "no callback object yet";
  host.SetAddinCallbackInfo(1, target, 5);
  EXPECT_EQ(host.menuStatusNow(), 1);
  EXPECT_EQ(host.pickMenu(), SimHost::MenuResult::Ran);
  target.enabled = 0;
  EXPECT_EQ(host.pickMenu(), SimHost::MenuResult::Unavailable);
  EXPECT_THAT(target.invoked, ElementsAre("menuStatus", "menuStatus", "DispPropMgr", "menuStatus"));
  host.AddMenuItem2(1, 5, "Kelvane 1.1@Tools", 0, "DispPropMgr", "swAddIn.nothing", "");
  EXPECT_THROW(host.pickMenu(), HostError);
}

TEST_F(SimPageTest, CloseOnAShownPageRunsTheHandlerAndDiscardsControls) {
  for (const bool okay : {true, false}) {
    SetUp();
    page_->Close(okay);
    EXPECT_THAT(handler_->events, ElementsAre(okay ? "OnClose(1)" : "OnClose(2)", "AfterClose"));
    EXPECT_FALSE(page().shown);
    EXPECT_THAT(page().groups, IsEmpty());
    handler_->events.clear();
  }
}

TEST_F(SimPageTest, CloseOnAHiddenPageDoesNothingButIsRecorded) {
  page_->Close(true);
  handler_->events.clear();
  page_->Close(true);
  EXPECT_THAT(handler_->events, IsEmpty());
  ASSERT_EQ(host_.faults->calls.size(), 2u);
  EXPECT_EQ(host_.faults->calls[1].operation, "close-page");
  EXPECT_THAT(host_.faults->calls[1].args, ElementsAre("true"));
}

TEST_F(SimPageTest, HandlerFailuresDuringCloseAreReportedAndTheCloseGoesOn) {
  for (const char* failing : {"OnClose", "AfterClose"}) {
    SetUp();
    handler_->failing = failing;
    events_.clear();
    EXPECT_TRUE(host_.closePage(3));
    EXPECT_THAT(handler_->events, ElementsAre("OnClose(3)", "AfterClose"));
    EXPECT_THAT(events_, ElementsAre(std::string("error:") + failing + ": " + failing + " broke"));
    EXPECT_FALSE(page().shown);
    handler_->events.clear();
  }
}

TEST_F(SimPageTest, UserActionsChangeControlsThenCallTheHandler) {
  EXPECT_TRUE(host_.typeText(1000, "A-100"));
  EXPECT_TRUE(host_.selectItem(1001, 1));
  EXPECT_TRUE(host_.checkBox(10003, true));
  EXPECT_TRUE(host_.pressButton(20001));
  EXPECT_TRUE(host_.help());
  EXPECT_THAT(handler_->events,
              ElementsAre("OnTextboxChanged(1000,A-100)", "OnComboboxSelectionChanged(1001,1)",
                          "OnCheckboxCheck(10003,true)", "OnButtonPress(20001)", "OnHelp"));
  EXPECT_EQ(page().findControl(1000, 5)->text, "A-100");
  EXPECT_EQ(page().findControl(1001, 7)->selection, 1);
  EXPECT_TRUE(page().findControl(10003, 2)->checked);
  EXPECT_THAT(host_.faults->calls, IsEmpty()) << "the user's side is not a host call";
}

TEST_F(SimPageTest, UserActionsAPersonCannotDoAreRefusedWithTheReason) {
  auto group = page().groups.front();
  group->AddControl(20004, 3, "Edit Kelvane.ini file", 2, 0, "");
  group->AddControl(1003, 5, "", 2, 5, "");
  group->AddControl(1004, 7, "", 2, 6, "");
  group->AddControl(1005, 2, "", 2, 1, "");
  page().findControl(20001, 3)->SetEnabled(false);
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { host_.typeText(1001, "x"); }, "the page has no text box 1001"},
      {[&] { host_.selectItem(1001, 3); }, "combo box 1001 has no entry 3"},
      {[&] { host_.selectItem(1001, -1); }, "combo box 1001 has no entry -1"},
      {[&] { host_.checkBox(10002, true); }, "the page has no checkbox 10002"},
      {[&] { host_.pressButton(1000); }, "the page has no button 1000"},
      {[&] { host_.pressButton(20004); }, "button 20004 is hidden"},
      {[&] { host_.pressButton(20001); }, "button 20001 is disabled"},
      {[&] { host_.typeText(1003, "x"); }, "text box 1003 is read-only"},
      {[&] { host_.selectItem(1004, 0); }, "combo box 1004 is hidden"},
      {[&] { host_.checkBox(1005, true); }, "checkbox 1005 is disabled"},
  };
  for (const auto& [action, reason] : cases) {
    EXPECT_THAT(action, ThrowsMessage<UserError>(reason));
  }
  EXPECT_THAT(handler_->events, IsEmpty());
  EXPECT_EQ(page().findControl(1003, 5)->text, "");
  page_->Close(false);
  handler_->events.clear();
  for (const auto& action : std::vector<std::function<void()>>{
           [&] { host_.typeText(1000, "x"); }, [&] { host_.help(); }, [&] { host_.closePage(1); }}) {
    EXPECT_THAT(action, ThrowsMessage<UserError>("no page is shown"));
  }
  EXPECT_THAT(handler_->events, IsEmpty());
}

TEST_F(SimPageTest, ComboBoxShowsItsSelectedEntry) {
  SimControl& combo = *page().findControl(1001, 7);
  EXPECT_EQ(combo.GetCurrentSelection(), -1);
  combo.SetCurrentSelection(2);
  EXPECT_EQ(combo.GetText(), "A");
  EXPECT_EQ(combo.ItemText(1), "B");
  EXPECT_EQ(combo.ItemText(3), "");
  EXPECT_EQ(combo.ItemText(-1), "");
  combo.SetCurrentSelection(3);
  EXPECT_EQ(combo.GetCurrentSelection(), -1);
  EXPECT_EQ(combo.GetText(), "");
  combo.SetText("B");
  EXPECT_EQ(combo.GetCurrentSelection(), 1);
}

TEST_F(SimPageTest, FindControlTakesTheFirstOfAnIdAndKind) {
  EXPECT_EQ(page().findControl(1001)->kind, 1);
  EXPECT_EQ(page().findControl(1001, 7)->caption, "Finish");
  EXPECT_EQ(page().findControl(1001, 5), nullptr);
}

}  // namespace
}  // namespace kelvane::sim
