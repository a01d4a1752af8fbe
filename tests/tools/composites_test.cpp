#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/bound_page.h"
#include "tools/tools.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::BoundPage;

// PART_NO holds A-100; REV shows "Rev B" (code B); KIND shows "Plain", which has no code.
void addSources(BoundPage& p) {
  p.group("Sources");
  p.text("PART_NO");
  p.combo("REV", {{"Rev A", "A"}, {"Rev B", "B"}});
  p.combo("KIND", {{"Plain", ""}});
}

void fillSources(BoundPage& p) {
  p.control(0, 0).SetText("A-100");
  p.control(0, 1).SetCurrentSelection(1);
  p.control(0, 2).SetCurrentSelection(0);
  p.host->faults->calls.clear();
}

TEST(BuildComposites, BuildsEachFormulaFromTheLiveControls) {
  struct Case {
    const char* name;
    std::vector<std::string> parts;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"shown text of a combo box", {"PART_NO", "-", "REV"}, "A-100-Rev B"},
      {"marked part takes the code", {"PART_NO", "-", "^REV"}, "A-100-B"},
      {"marked text box and an unknown name", {"^PART_NO", "_", "rev"}, "A-100_rev"},
      {"no parts", {}, ""},
      {"literal with blanks", {"PART_NO", " / ", "REV"}, "A-100 / Rev B"},
      {"a blank before a caption is literal", {" REV"}, " REV"},
      {"marked unknown name loses its mark", {"^NOPE"}, "NOPE"},
      {"only the first mark counts", {"^^REV"}, "^REV"},
      {"entry without a code", {"^KIND", "|"}, "|"},
      {"empty part", {"PART_NO", "", "REV"}, "A-100Rev B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoundPage p;
    p.doc->addConfiguration("Default");
    addSources(p);
    p.group("Out");
    p.composite("NUMBER", c.parts);
    p.bind();
    fillSources(p);
    EXPECT_TRUE(buildComposites(p.s));
    EXPECT_EQ(p.control(1, 0).text, c.text);
    EXPECT_EQ(p.slot(1, 0), c.text);
    EXPECT_THAT(p.host->statusTexts, IsEmpty());
  }
}

TEST(BuildComposites, EveryFieldWithTheCaptionContributesInPageOrder) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  p.group("G");
  p.text("DUP");
  p.combo("MIX", {{"shown", "code"}});
  p.text("MIX");
  p.group("H");
  p.text("DUP");
  p.text("TXT");
  p.combo("TXT", {{"shown", "code"}});
  p.combo("^MIX", {{"also", "late"}});
  p.group("Out");
  p.composite("PLAIN", {"DUP"});
  p.composite("MARKED", {"^MIX"});
  p.composite("TEXT_FIRST", {"^TXT"});
  p.bind();
  p.control(0, 0).SetText("x");
  p.control(0, 1).SetCurrentSelection(0);
  p.control(0, 2).SetText("t");
  p.control(1, 0).SetText("y");
  p.control(1, 1).SetText("t");
  p.control(1, 2).SetCurrentSelection(0);
  p.control(1, 3).SetCurrentSelection(0);
  EXPECT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.slot(2, 0), "xy");
  // Once a marked part has matched a combo box, the rest of the page is compared with
  // the part as stored: the text box MIX is passed over, the combo box "^MIX" matches.
  EXPECT_EQ(p.slot(2, 1), "codelate");
  EXPECT_EQ(p.slot(2, 2), "tcode");
}

// Composites are built again until none reads another that changed since, at most one
// pass per composite: a chain declared backwards settles, a cycle ends.
TEST(BuildComposites, BuildsAgainUntilCompositesDeclaredBelowAreTakenIntoAccount) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.group("Out");
  p.composite("FIRST", {"SECOND", "/", "^REV"});
  p.composite("SECOND", {"THIRD", "-X"});
  p.composite("THIRD", {"PART_NO"});
  p.composite("SELF", {"SELF", "+"});
  p.bind();
  fillSources(p);
  for (int f = 0; f < 4; ++f) p.control(1, f).SetText("<>");  // as loaded, never built
  ASSERT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.slot(1, 0), "A-100-X/B");
  EXPECT_EQ(p.slot(1, 1), "A-100-X");
  EXPECT_EQ(p.slot(1, 2), "A-100");
  EXPECT_EQ(p.slot(1, 3), "++++");  // the mark reads as nothing; one "+" per pass
  p.control(0, 0).SetText("A-200");
  ASSERT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.slot(1, 0), "A-200-X/B");
  EXPECT_EQ(p.slot(1, 3), "++++++++");
}

TEST(BuildComposites, WithoutUsesOfLaterCompositesBuildsOnce) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.group("Out");
  p.composite("FIRST", {"PART_NO"});
  p.composite("SECOND", {"FIRST", "/", "REV"});
  p.bind();
  fillSources(p);
  ASSERT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.slot(1, 1), "A-100/Rev B");
  EXPECT_THAT(p.argsOf("set-text"), ElementsAre(std::vector<std::string>{"A-100"},
                                                std::vector<std::string>{"A-100/Rev B"}));
}

// A composite built from a value never read from the document is no value to save.
TEST(BuildComposites, ACompositeOfAnUnreadValueIsUnreadItself) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.group("Out");
  p.composite("USES_LATER", {"FROM_PART"});
  p.composite("FROM_PART", {"PART_NO"});
  p.composite("FROM_REV", {"^REV"});
  p.bind();
  fillSources(p);
  p.bound(0, 0).origins[0] = SlotOrigin::Unread;
  ASSERT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.bound(1, 0).origins[0], SlotOrigin::Unread);
  EXPECT_EQ(p.bound(1, 1).origins[0], SlotOrigin::Unread);
  EXPECT_EQ(p.bound(1, 2).origins[0], SlotOrigin::Document);
}

// An entry added for a document value that names no list entry has no code.
TEST(BuildComposites, AnEntryKeptForADocumentValueHasNoCode) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.group("Out");
  p.composite("NUMBER", {"PART_NO", "-", "^REV", "-", "REV"});
  p.bind();
  fillSources(p);
  p.control(0, 1).AddItems("Rev Z");
  p.bound(0, 1).extraItems = {"Rev Z"};
  p.control(0, 1).SetCurrentSelection(2);
  ASSERT_TRUE(buildComposites(p.s));
  EXPECT_EQ(p.slot(1, 0), "A-100--Rev Z");
}

TEST(BuildComposites, WritesOnlyTheCurrentSlotAndSkipsTargetsWithAList) {
  BoundPage p;
  for (std::string c : {"C0", "C1", "C2"}) p.doc->addConfiguration(c);
  addSources(p);
  p.group("Out");
  p.composite("NUMBER", {"PART_NO"});
  p.composite("LISTED", {"PART_NO"}).items = {{"entry", ""}};
  p.bind(true);
  fillSources(p);
  p.s.currentConfig = 1;
  p.bound(1, 1).configValues = {"k0", "k1", "k2"};
  EXPECT_TRUE(buildComposites(p.s));
  EXPECT_THAT(p.bound(1, 0).configValues, ElementsAre("", "A-100", ""));
  EXPECT_THAT(p.bound(1, 1).configValues, ElementsAre("k0", "k1", "k2"));
  EXPECT_EQ(p.control(1, 1).text, "");
}

TEST(BuildComposites, WithoutCompositesCallsNothing) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.bind();
  EXPECT_TRUE(buildComposites(p.s));
  EXPECT_THAT(p.hostCalls(), IsEmpty());
}

TEST(BuildComposites, AMarkedPartOnAComboWithoutSelectionFails) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  addSources(p);
  p.group("Out");
  p.composite("NUMBER", {"^REV"});
  p.bind();
  p.control(1, 0).SetText("before");
  p.slot(1, 0) = "before";
  EXPECT_FALSE(buildComposites(p.s));
  EXPECT_THAT(p.host->statusTexts, ElementsAre("Composite fields construction failed"));
  EXPECT_EQ(p.control(1, 0).text, "before");
  EXPECT_EQ(p.slot(1, 0), "before");
}

TEST(BuildComposites, AHostFailureAtEachCallKeepsTheEntriesBuiltBeforeIt) {
  auto make = [] {
    auto p = std::make_unique<BoundPage>();
    p->doc->addConfiguration("Default");
    addSources(*p);
    p->group("Out");
    p->composite("FIRST", {"PART_NO", "-", "REV"});
    p->composite("SECOND", {"^REV"});
    p->bind();
    fillSources(*p);
    for (int f = 0; f < 2; ++f) {
      p->control(1, f).text = "old text";
      p->slot(1, f) = "old value";
    }
    return p;
  };
  auto clean = make();
  ASSERT_TRUE(buildComposites(clean->s));
  const auto ops = clean->hostCalls();
  ASSERT_THAT(ops, ElementsAre("get-text", "get-current-selection", "item-text", "set-text", "get-text",
                               "get-current-selection", "set-text", "get-text"));
  // Calls 1-5 build FIRST (text assigned by call 4), calls 6-8 SECOND (assigned by 7).
  const std::vector<std::size_t> assignedBy = {4, 7}, finishedBy = {5, 8};
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = make();
    p->failHostCall(ops, k);
    EXPECT_FALSE(buildComposites(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Composite fields construction failed"));
    for (int f = 0; f < 2; ++f) {
      EXPECT_EQ(p->slot(1, f), finishedBy[f] < k ? clean->slot(1, f) : "old value");
      EXPECT_EQ(p->control(1, f).text, assignedBy[f] < k ? clean->control(1, f).text : "old text");
    }
  }
}

}  // namespace
}  // namespace kelvane
