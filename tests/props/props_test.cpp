#include "props/props.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/bound_page.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::BoundPage;
using Args = std::vector<std::string>;

std::vector<std::string> statusOnly(const std::string& text) { return {text}; }

// Every property of the document as "scope/name=value", scopes in name order.
std::vector<std::string> contents(const sim::SimDocument& doc) {
  std::vector<std::string> all;
  for (const auto& prop : doc.properties.all()) all.push_back("/" + prop.name + "=" + prop.value);
  for (const auto& [config, set] : doc.configurationProperties)
    for (const auto& prop : set.all()) all.push_back(config + "/" + prop.name + "=" + prop.value);
  return all;
}

// ---- setCP, getCP ----

TEST(SetCP, CreatesAMissingPropertyAsTextWithoutOverwriting) {
  BoundPage p;
  EXPECT_TRUE(setCP(*p.doc, "", "PartNo", "A-100"));
  EXPECT_THAT(p.hostCalls(), ElementsAre("add-custom-property"));
  EXPECT_THAT(p.argsOf("add-custom-property"), ElementsAre(Args{"", "PartNo", "30", "A-100"}));
  EXPECT_EQ(p.doc->properties.get("PartNo"), "A-100");
}

TEST(SetCP, OverwritesAnExistingPropertyAndAnswersFalse) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  p.doc->configurationProperties["Default"].add("PartNo", "old");
  EXPECT_FALSE(setCP(*p.doc, "Default", "PartNo", "new"));
  EXPECT_THAT(p.hostCalls(), ElementsAre("add-custom-property", "set-custom-property"));
  EXPECT_THAT(p.argsOf("set-custom-property"), ElementsAre(Args{"Default", "PartNo", "new"}));
  EXPECT_EQ(p.doc->configurationProperties["Default"].get("PartNo"), "new");
  EXPECT_FALSE(p.doc->properties.get("PartNo"));
}

TEST(GetCP, TrimsBlanksAndReadsMissingAsEmpty) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  p.doc->properties.add("Padded", "  a b  ");
  p.doc->properties.add("Mark", " ");
  p.doc->configurationProperties["Default"].add("Scoped", "per config");
  EXPECT_EQ(getCP(*p.doc, "", "Padded"), "a b");
  EXPECT_EQ(getCP(*p.doc, "", "Mark"), "");
  EXPECT_EQ(getCP(*p.doc, "", "Missing"), "");
  EXPECT_EQ(getCP(*p.doc, "", "Scoped"), "");  // document-wide, not the configuration's
  EXPECT_EQ(getCP(*p.doc, "Default", "Scoped"), "per config");
}

TEST(SetCPAndGetCP, HostFailuresReachTheCallerWithoutAStatusText) {
  BoundPage p;
  p.doc->properties.add("P", "x");
  p.host->faults->failNext("get-custom-property");
  EXPECT_THAT([&] { getCP(*p.doc, "", "P"); },
              ::testing::ThrowsMessage<host::HostError>(::testing::HasSubstr("get-custom-property")));
  p.host->faults->failNext("set-custom-property");
  EXPECT_THAT([&] { setCP(*p.doc, "", "P", "y"); },
              ::testing::ThrowsMessage<host::HostError>(::testing::HasSubstr("set-custom-property")));
  EXPECT_EQ(p.doc->properties.get("P"), "x");
  EXPECT_THAT(p.host->statusTexts, IsEmpty());
}

// ---- readCP ----

// Three configurations C0..C2, one group with fields A and B, every slot "old", and
// in the document "<field><config>" padded with blanks.
std::unique_ptr<BoundPage> threeConfigPage(bool useConfigs) {
  auto p = std::make_unique<BoundPage>();
  for (std::string c : {"C0", "C1", "C2"}) p->doc->addConfiguration(c);
  p->group("G");
  p->text("A");
  p->text("B");
  p->bind(useConfigs);
  for (std::string f : {"A", "B"}) {
    p->doc->properties.add(f, " " + f + "-doc ");
    for (std::string c : {"C0", "C1", "C2"}) p->doc->configurationProperties[c].add(f, " " + f + c + " ");
  }
  for (int f = 0; f < 2; ++f)
    for (int k = 0; k < 3; ++k) p->slot(0, f, k) = "old";
  return p;
}

TEST(ReadCP, ReadsEveryConfigurationInOrderAndTrims) {
  auto p = threeConfigPage(true);
  EXPECT_TRUE(readCP(p->s));
  EXPECT_THAT(p->argsOf("get-custom-property"),
              ElementsAre(Args{"C0", "A"}, Args{"C1", "A"}, Args{"C2", "A"}, Args{"C0", "B"},
                          Args{"C1", "B"}, Args{"C2", "B"}));
  // The document is fetched anew before every read.
  EXPECT_EQ(p->hostCalls().size(), 12u);
  EXPECT_EQ(p->hostCalls()[0], "active-document");
  EXPECT_THAT(p->bound(0, 0).configValues, ElementsAre("AC0", "AC1", "AC2"));
  EXPECT_THAT(p->bound(0, 1).configValues, ElementsAre("BC0", "BC1", "BC2"));
}

TEST(ReadCP, WithoutConfigurationsReadsSlotZeroOnlyFromTheDocument) {
  auto p = threeConfigPage(false);
  p->doc->properties.remove("B");
  EXPECT_TRUE(readCP(p->s));
  EXPECT_THAT(p->argsOf("get-custom-property"), ElementsAre(Args{"", "A"}, Args{"", "B"}));
  EXPECT_THAT(p->bound(0, 0).configValues, ElementsAre("A-doc", "old", "old"));
  EXPECT_THAT(p->bound(0, 1).configValues, ElementsAre("", "old", "old"));
}

TEST(ReadCP, ConfigurationNamesShorterThanTheCountStopItThere) {
  auto p = threeConfigPage(true);
  p->s.configNames.pop_back();
  EXPECT_FALSE(readCP(p->s));
  EXPECT_EQ(p->host->statusTexts, statusOnly("Error in readCP"));
  EXPECT_THAT(p->bound(0, 0).configValues, ElementsAre("AC0", "AC1", "old"));
  EXPECT_THAT(p->bound(0, 1).configValues, ElementsAre("old", "old", "old"));
}

TEST(ReadCP, AFieldWithoutSlotsStopsIt) {
  auto p = threeConfigPage(false);
  p->bound(0, 1).configValues.clear();
  EXPECT_FALSE(readCP(p->s));
  EXPECT_EQ(p->host->statusTexts, statusOnly("Error in readCP"));
  EXPECT_EQ(p->slot(0, 0), "A-doc");
}

TEST(ReadCP, AHostFailureAtEachCallKeepsTheSlotsReadBeforeItAndMarksTheRestUnread) {
  auto clean = threeConfigPage(true);
  ASSERT_TRUE(readCP(clean->s));
  const auto ops = clean->hostCalls();
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = threeConfigPage(true);
    p->failHostCall(ops, k);
    EXPECT_FALSE(readCP(p->s));
    EXPECT_EQ(p->host->statusTexts, statusOnly("Error in readCP"));
    const auto done = std::count(ops.begin(), ops.begin() + (k - 1), "get-custom-property");
    int visited = 0;
    for (int f = 0; f < 2; ++f)
      for (int c = 0; c < 3; ++c, ++visited) {
        EXPECT_EQ(p->slot(0, f, c), visited < done ? clean->slot(0, f, c) : "old");
        EXPECT_EQ(p->bound(0, f).origins[c], visited < done ? SlotOrigin::Document : SlotOrigin::Unread);
      }
  }
}

// ---- loadCP ----

TEST(LoadCP, ShowsSlotsOrDefaultsAndNormalisesComboSlots) {
  struct Case {
    const char* name;
    std::vector<pagedef::ListItem> items;  // empty: text box
    std::string defaultValue, slot;
    std::string shown, slotAfter;
    int selection;  // combo boxes only
  };
  const std::vector<Case> cases = {
      {"text, value", {}, "def", "typed", "typed", "typed", -1},
      {"text, empty slot takes the default", {}, "def", "", "def", "def", -1},
      {"text, empty slot and empty default", {}, "", "", "", "", -1},
      {"composite shows its mark", {}, "<>", "", "<>", "<>", -1},
      {"combo, empty slot and empty default", {{"A", ""}, {"B", ""}}, "", "", "A", "A", 0},
      {"combo, empty slot takes the default", {{"A", ""}, {"B", ""}}, "B", "", "B", "B", 1},
      {"combo, value twice", {{"X", "1"}, {"B", "2"}, {"X", "3"}}, "", "X", "X", "X", 2},
      // A document value that names no entry is kept, in an entry of its own.
      {"combo, value in no entry", {{"A", ""}, {"B", ""}}, "B", "Z", "Z", "Z", 2},
      {"combo, case differs", {{"A", ""}, {"rev b", ""}}, "", "Rev B", "Rev B", "Rev B", 2},
      {"combo, inner blanks differ", {{"A", ""}, {"Rev B", ""}}, "", "Rev  B", "Rev  B", "Rev  B", 2},
      {"combo, default in no entry", {{"A", ""}, {"B", ""}}, "Z", "", "A", "A", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoundPage p;
    p.doc->addConfiguration("Default");
    p.group("G");
    if (c.items.empty()) p.text("F", c.defaultValue);
    else p.combo("F", c.items, c.defaultValue);
    p.bind();
    p.slot(0, 0) = c.slot;
    EXPECT_TRUE(loadCP(p.s, 0));
    EXPECT_EQ(p.control(0, 0).GetText(), c.shown);
    EXPECT_EQ(p.slot(0, 0), c.slotAfter);
    if (!c.items.empty()) {
      EXPECT_EQ(p.control(0, 0).selection, c.selection);
    }
  }
}

TEST(LoadCP, KeepsADocumentValueInNoEntryInOneEntryAddedForAllConfigurations) {
  BoundPage p;
  for (std::string c : {"C0", "C1", "C2"}) p.doc->addConfiguration(c);
  p.group("G");
  p.combo("L", {{"A", "a"}, {"B", "b"}});
  p.bind(true);
  p.bound(0, 0).configValues = {"Anodized", "B", "Anodized"};
  p.bound(0, 0).origins[2] = SlotOrigin::Unread;  // shown, but not the document's
  for (std::int16_t k : {0, 1, 2, 0}) ASSERT_TRUE(loadCP(p.s, k));
  EXPECT_THAT(p.control(0, 0).items, ElementsAre("A", "B", "Anodized"));
  EXPECT_EQ(p.control(0, 0).selection, 2);
  EXPECT_THAT(p.bound(0, 0).configValues, ElementsAre("Anodized", "B", "A"));
  EXPECT_THAT(p.bound(0, 0).extraItems, ElementsAre("Anodized"));
}

TEST(LoadCP, TouchesOnlyTheSlotOfTheConfigurationLoaded) {
  BoundPage p;
  for (std::string c : {"C0", "C1", "C2", "C3"}) p.doc->addConfiguration(c);
  p.group("G");
  p.text("T", "def");
  p.combo("L", {{"A", ""}, {"B", ""}});
  p.bind(true);
  p.bound(0, 0).configValues = {"", "", "", ""};
  p.bound(0, 1).configValues = {"Z", "Z", "B", "Z"};
  EXPECT_TRUE(loadCP(p.s, 2));
  EXPECT_THAT(p.bound(0, 0).configValues, ElementsAre("", "", "def", ""));
  EXPECT_THAT(p.bound(0, 1).configValues, ElementsAre("Z", "Z", "B", "Z"));
  EXPECT_EQ(p.control(0, 1).GetText(), "B");
}

TEST(LoadCP, ASlotOutsideTheTableStopsIt) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  p.group("G");
  p.text("T", "def");
  p.bind();
  EXPECT_FALSE(loadCP(p.s, 1));
  EXPECT_EQ(p.host->statusTexts, statusOnly("Error in loadCP"));
  EXPECT_THAT(p.hostCalls(), ElementsAre("frame", "set-status-bar-text"));
}

TEST(LoadCP, AHostFailureAtEachCallKeepsTheFieldsLoadedBeforeIt) {
  auto make = [] {
    auto p = std::make_unique<BoundPage>();
    p->doc->addConfiguration("Default");
    p->group("G");
    p->text("T1", "d1");
    p->combo("L", {{"A", ""}, {"B", ""}}, "B");
    p->group("H");
    p->text("T2", "d2");
    p->bind();
    p->control(0, 0).text = p->control(1, 0).text = "before";
    return p;
  };
  auto clean = make();
  ASSERT_TRUE(loadCP(clean->s, 0));
  const auto ops = clean->hostCalls();
  ASSERT_THAT(ops, ElementsAre("set-text", "set-current-selection", "item-text", "set-text"));
  // Fields finished by each call, in visit order: T1 after call 1, L after 3, T2 after 4.
  const std::vector<std::size_t> finishedAt = {1, 3, 4};
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = make();
    p->failHostCall(ops, k);
    EXPECT_FALSE(loadCP(p->s, 0));
    EXPECT_EQ(p->host->statusTexts, statusOnly("Error in loadCP"));
    EXPECT_EQ(p->slot(0, 0), finishedAt[0] < k ? "d1" : "");
    EXPECT_EQ(p->slot(0, 1), finishedAt[1] < k ? "B" : "");
    EXPECT_EQ(p->slot(1, 0), finishedAt[2] < k ? "d2" : "");
    EXPECT_EQ(p->control(0, 0).text, finishedAt[0] < k ? "d1" : "before");
    EXPECT_EQ(p->control(1, 0).text, "before");
  }
}

// ---- saveCP ----

TEST(SaveCP, WritesEveryConfigurationInOrderThenUseConfigs) {
  BoundPage p;
  p.doc->addConfiguration("C0");
  p.doc->addConfiguration("C1");
  p.group("G");
  p.text("A", "", "Prop_A");
  p.combo("B", {{"x", ""}});
  p.bind(true);
  p.bound(0, 0).configValues = {"a0", "a1"};
  p.bound(0, 1).configValues = {"x", "x"};
  EXPECT_TRUE(saveCP(p.s));
  EXPECT_THAT(p.argsOf("add-custom-property"),
              ElementsAre(Args{"C0", "Prop_A", "30", "a0"}, Args{"C1", "Prop_A", "30", "a1"},
                          Args{"C0", "B", "30", "x"}, Args{"C1", "B", "30", "x"},
                          Args{"", "USE_CONFIGS", "30", "True"}));
  const auto ops = p.hostCalls();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "active-document"), 5);
}

TEST(SaveCP, NormalisesSlotsAsItWritesThem) {
  struct Case {
    std::string slot, written, readBack;
  };
  const std::vector<Case> cases = {
      {"", " ", ""}, {" ", "", ""}, {"   ", "", ""}, {"  a b  ", "a b", "a b"}, {"x", "x", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("slot '" + c.slot + "'");
    BoundPage p;
    p.doc->addConfiguration("Default");
    p.group("G");
    p.text("F");
    p.bind();
    p.slot(0, 0) = c.slot;
    EXPECT_TRUE(saveCP(p.s));
    EXPECT_EQ(p.doc->properties.get("F"), c.written);
    EXPECT_EQ(p.slot(0, 0), c.written);
    EXPECT_EQ(getCP(*p.doc, "", "F"), c.readBack);
  }
}

TEST(SaveCP, WithoutConfigurationsWritesSlotZeroDocumentWide) {
  BoundPage p;
  p.doc->addConfiguration("C0");
  p.doc->addConfiguration("C1");
  p.doc->configurationProperties["C1"].add("A", "kept");
  p.doc->properties.add("A", "old");
  p.doc->properties.add("USE_CONFIGS", "True");
  p.group("G");
  p.text("A");
  p.bind(false);
  p.bound(0, 0).configValues = {" new ", " other "};
  EXPECT_TRUE(saveCP(p.s));
  EXPECT_EQ(p.doc->properties.get("A"), "new");
  EXPECT_EQ(p.doc->properties.get("USE_CONFIGS"), "False");
  EXPECT_EQ(p.doc->configurationProperties["C1"].get("A"), "kept");
  EXPECT_FALSE(p.doc->configurationProperties["C0"].get("A"));
  EXPECT_THAT(p.bound(0, 0).configValues, ElementsAre("new", " other "));
  EXPECT_THAT(p.argsOf("set-custom-property"),
              ElementsAre(Args{"", "A", "new"}, Args{"", "USE_CONFIGS", "False"}));
}

TEST(SaveCP, ConfigurationNamesShorterThanTheCountFailOnlyTheirWrites) {
  BoundPage p;
  p.doc->addConfiguration("C0");
  p.doc->addConfiguration("C1");
  p.group("G");
  p.text("A");
  p.bind(true);
  p.bound(0, 0).configValues = {" a ", " b "};
  p.s.configNames.pop_back();
  EXPECT_FALSE(saveCP(p.s));
  EXPECT_EQ(p.host->statusTexts, statusOnly("Error in saveCP"));
  EXPECT_EQ(p.doc->configurationProperties["C0"].get("A"), "a");
  EXPECT_FALSE(p.doc->configurationProperties["C1"].get("A"));
  EXPECT_EQ(p.doc->properties.get("USE_CONFIGS"), "True");
  EXPECT_THAT(p.bound(0, 0).configValues, ElementsAre("a", "b"));  // normalised before the write
}

TEST(SaveCP, LeavesSlotsNeverReadAndCompositesNeverBuiltAsTheDocumentHasThem) {
  BoundPage p;
  p.doc->addConfiguration("C0");
  p.doc->addConfiguration("C1");
  for (std::string c : {"C0", "C1"}) {
    p.doc->configurationProperties[c].add("A", "doc-" + c);
    p.doc->configurationProperties[c].add("Code", "code-" + c);
  }
  p.group("G");
  p.text("A");
  p.composite("Code", {"A"});
  p.bind(true);
  p.bound(0, 0).configValues = {"typed", "default"};
  p.bound(0, 0).origins = {SlotOrigin::User, SlotOrigin::Unread};
  p.bound(0, 1).configValues = {"<>", "<>"};
  EXPECT_TRUE(saveCP(p.s));
  EXPECT_EQ(p.doc->configurationProperties["C0"].get("A"), "typed");
  EXPECT_EQ(p.doc->configurationProperties["C1"].get("A"), "doc-C1");
  EXPECT_EQ(p.doc->configurationProperties["C0"].get("Code"), "code-C0");
  EXPECT_EQ(p.doc->configurationProperties["C1"].get("Code"), "code-C1");
}

TEST(SaveCP, AHostFailureAtEachCallCostsOnlyTheWriteItBelongsTo) {
  // Two fields in two configurations; B already exists in C1, so one write overwrites.
  auto make = [] {
    auto p = std::make_unique<BoundPage>();
    p->doc->addConfiguration("C0");
    p->doc->addConfiguration("C1");
    p->doc->configurationProperties["C1"].add("B", "old");
    p->group("G");
    p->text("A");
    p->text("B");
    p->bind(true);
    p->bound(0, 0).configValues = {" a0 ", " a1 "};
    p->bound(0, 1).configValues = {" b0 ", " b1 "};
    return p;
  };
  auto clean = make();
  ASSERT_TRUE(saveCP(clean->s));
  const auto cleanCalls = clean->host->faults->calls;
  const auto ops = clean->hostCalls();
  // Each write starts by fetching the document: the write each call belongs to.
  std::vector<int> writeOf;
  int write = -1;
  for (const auto& op : ops) writeOf.push_back(write += op == "active-document");
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = make();
    auto expected = make();
    for (std::size_t i = 0; i < cleanCalls.size(); ++i) {
      const auto& call = cleanCalls[i];
      if (writeOf[i] == writeOf[k - 1]) continue;
      if (call.operation == "add-custom-property")
        expected->doc->scope(call.args[0], "").add(call.args[1], call.args[3]);
      if (call.operation == "set-custom-property")
        expected->doc->scope(call.args[0], "").set(call.args[1], call.args[2]);
    }
    p->failHostCall(ops, k);
    EXPECT_FALSE(saveCP(p->s));
    EXPECT_EQ(p->host->statusTexts, statusOnly("Error in saveCP"));
    EXPECT_EQ(contents(*p->doc), contents(*expected->doc));
    for (int v = 0; v < 4; ++v) EXPECT_EQ(p->slot(0, v / 2, v % 2), clean->slot(0, v / 2, v % 2));
  }
}

}  // namespace
}  // namespace kelvane
