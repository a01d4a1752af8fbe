#include "common/fault_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

using testing::ElementsAreArray;

const std::vector<std::string> kNames = {"read", "write"};

// Which of the calls fail, "r" a read and "w" a write, for faults planned up front.
TEST(FaultPlan, TheNthNextCallOfAnOperationFailsOnce) {
  const struct {
    std::vector<std::pair<std::string, int>> faults;
    std::string calls;
    std::vector<bool> fails;
  } cases[] = {
      {{}, "rwr", {false, false, false}},
      {{{"read", 1}}, "rr", {true, false}},
      {{{"read", 2}}, "wrwr", {false, false, false, true}},
      {{{"read", 1}, {"read", 1}}, "rr", {true, false}},    // two faults due together fail one call
      {{{"read", 1}, {"read", 2}}, "rrr", {true, true, false}},
      {{{"write", 1}, {"read", 3}}, "rwrr", {false, true, false, true}},
  };
  for (const auto& c : cases) {
    FaultPlan plan(kNames, "test operation");
    for (const auto& [name, nth] : c.faults) plan.failNext(name, nth);
    std::vector<bool> fails;
    for (char call : c.calls) fails.push_back(plan.due(call == 'r' ? 0 : 1));
    EXPECT_THAT(fails, ElementsAreArray(c.fails)) << c.calls;
  }
}

TEST(FaultPlan, ClearDropsPendingFaults) {
  FaultPlan plan(kNames, "test operation");
  plan.failNext("write", 2);
  plan.clear();
  EXPECT_FALSE(plan.due(1));
  EXPECT_FALSE(plan.due(1));
}

TEST(FaultPlan, RejectsUnknownNamesAndCountsBelowOne) {
  FaultPlan plan(kNames, "test operation");
  EXPECT_THAT([&] { plan.failNext("delete"); },
              testing::ThrowsMessage<std::invalid_argument>("unknown test operation: delete"));
  EXPECT_THAT([&] { plan.failNext("read", 0); },
              testing::ThrowsMessage<std::invalid_argument>("nth must be at least 1"));
  EXPECT_TRUE(plan.contains("write"));
  EXPECT_EQ(plan.find("write"), 1u);
  EXPECT_EQ(plan.find("delete"), kNames.size());
}

}  // namespace
}  // namespace kelvane
