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
using testing::BoundPage;

// Configurations C0 and C1, the page showing C1; every slot "old", every control
// showing "shown". An empty first group comes before the fields.
std::unique_ptr<BoundPage> page() {
  auto p = std::make_unique<BoundPage>();
  p->doc->addConfiguration("C0");
  p->doc->addConfiguration("C1");
  p->group("Empty");
  p->group("G");
  p->text("T", "def");
  p->text("Blank");
  p->combo("Match", {{"X", ""}, {"def", "1"}, {"def", "2"}}, "def");
  p->combo("NoMatch", {{"A", ""}, {"B", ""}}, "Def");
  p->combo("NoDefault", {{"A", ""}, {"B", ""}});
  p->composite("Comp", {"T"});
  p->bind(true);
  p->s.currentConfig = 1;
  for (auto& f : p->s.bindings[1].fields) f.configValues = {"old", "old"};
  for (int f = 0; f < 6; ++f) {
    p->control(1, f).text = "shown";
    p->control(1, f).selection = -1;
  }
  p->host->faults->calls.clear();
  return p;
}

std::vector<std::string> currentSlots(BoundPage& p) {
  std::vector<std::string> slots;
  for (const auto& f : p.s.bindings[1].fields) slots.push_back(f.configValues.at(1));
  return slots;
}

std::vector<std::string> shown(BoundPage& p) {
  std::vector<std::string> texts;
  for (int f = 0; f < 6; ++f) texts.push_back(p.control(1, f).GetText());
  return texts;
}

TEST(ResetFields, ClearingEmptiesTextBoxesAndSelectsFirstEntries) {
  auto p = page();
  EXPECT_TRUE(resetFields(p->s, 0));
  EXPECT_THAT(currentSlots(*p), ElementsAre(" ", " ", "X", "A", "A", " "));
  EXPECT_THAT(shown(*p), ElementsAre("", "", "X", "A", "A", ""));
  for (const auto& f : p->s.bindings[1].fields) EXPECT_EQ(f.configValues[0], "old");
}

TEST(ResetFields, LoadingDefaultsTakesTheLastMatchingEntryOrTheFirst) {
  auto p = page();
  EXPECT_TRUE(resetFields(p->s, 1));
  EXPECT_THAT(currentSlots(*p), ElementsAre("def", "", "def", "A", "A", "<>"));
  EXPECT_EQ(p->control(1, 2).selection, 2);
  EXPECT_THAT(p->argsOf("set-current-selection"),
              ElementsAre(std::vector<std::string>{"2"}, std::vector<std::string>{"0"},
                          std::vector<std::string>{"0"}));
  for (const auto& f : p->s.bindings[1].fields) EXPECT_EQ(f.configValues[0], "old");
}

TEST(ResetFields, ThenTheCompositePassRebuildsFromTheResetFields) {
  auto p = page();
  ASSERT_TRUE(resetFields(p->s, 1));
  ASSERT_TRUE(buildComposites(p->s));
  EXPECT_EQ(p->control(1, 5).GetText(), "def");
  EXPECT_EQ(p->slot(1, 5, 1), "def");
}

TEST(ResetFields, AHostFailureAtEachCallStopsAtTheFieldBeingReset) {
  for (std::int16_t mode : {0, 1}) {
    auto clean = page();
    ASSERT_TRUE(resetFields(clean->s, mode));
    const auto ops = clean->hostCalls();
    // The call that finishes each field: text boxes end with set-text (clearing) or
    // get-text (defaults), combo boxes with item-text.
    std::vector<std::size_t> finishedBy;
    for (std::size_t i = 0; i < ops.size(); ++i)
      if (ops[i] == "item-text" || ops[i] == (mode == 0 ? "set-text" : "get-text")) finishedBy.push_back(i + 1);
    ASSERT_EQ(finishedBy.size(), 6u);
    for (std::size_t k = 1; k <= ops.size(); ++k) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", failing call " + std::to_string(k) + " " + ops[k - 1]);
      auto p = page();
      p->failHostCall(ops, k);
      EXPECT_FALSE(resetFields(p->s, mode));
      EXPECT_THAT(p->host->statusTexts, ElementsAre("Error resetting fields"));
      for (int f = 0; f < 6; ++f) {
        EXPECT_EQ(p->slot(1, f, 1), finishedBy[f] < k ? clean->slot(1, f, 1) : "old");
        const bool untouched = f > 0 && finishedBy[f - 1] >= k;
        if (untouched) {
          EXPECT_EQ(p->control(1, f).text, "shown");
        }
      }
    }
  }
}

}  // namespace
}  // namespace kelvane
