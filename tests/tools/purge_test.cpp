#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
using Args = std::vector<std::string>;

// Fields A (group G) and B (group H, a composite) declared; every scope holds A, B and
// the undeclared Other.
std::unique_ptr<BoundPage> page(std::vector<std::string> configs, bool useConfigs) {
  auto p = std::make_unique<BoundPage>();
  for (const auto& c : configs) p->doc->addConfiguration(c);
  p->group("G");
  p->text("A").remember = true;
  p->group("H");
  p->composite("B", {"A"});
  p->bind(useConfigs);
  for (std::string name : {"A", "B", "Other"}) {
    p->doc->properties.add(name, "v");
    for (const auto& c : configs) p->doc->configurationProperties[c].add(name, "v");
  }
  return p;
}

TEST(PurgeCP, DeletesDeclaredPropertiesEverywhereWhateverUseConfigsSays) {
  for (bool useConfigs : {true, false}) {
    SCOPED_TRACE(useConfigs ? "per configuration" : "document-wide");
    auto p = page({"C0", "C1"}, useConfigs);
    p->slot(0, 0) = "kept";
    EXPECT_TRUE(purgeCP(p->s));
    EXPECT_THAT(p->argsOf("delete-custom-property"),
                ElementsAre(Args{"", "A"}, Args{"C0", "A"}, Args{"C1", "A"}, Args{"", "B"},
                            Args{"C0", "B"}, Args{"C1", "B"}));
    const auto ops = p->hostCalls();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "active-document"), 6);
    for (auto* scope : {&p->doc->properties, &p->doc->configurationProperties["C0"],
                        &p->doc->configurationProperties["C1"]}) {
      ASSERT_EQ(scope->all().size(), 1u);
      EXPECT_EQ(scope->all()[0].name, "Other");
    }
    EXPECT_EQ(p->slot(0, 0), "kept");
    EXPECT_THAT(p->host->statusTexts, IsEmpty());
  }
}

TEST(PurgeCP, WithoutConfigurationsDeletesAtDocumentLevelOnly) {
  auto p = page({}, false);
  EXPECT_TRUE(purgeCP(p->s));
  EXPECT_THAT(p->argsOf("delete-custom-property"), ElementsAre(Args{"", "A"}, Args{"", "B"}));
}

TEST(PurgeCP, AMissingPropertyMakesItFalseWithoutStoppingIt) {
  auto p = page({"C0", "C1"}, true);
  p->doc->configurationProperties["C0"].remove("A");
  EXPECT_FALSE(purgeCP(p->s));
  EXPECT_EQ(p->argsOf("delete-custom-property").size(), 6u);
  EXPECT_FALSE(p->doc->configurationProperties["C1"].get("B"));
  EXPECT_THAT(p->host->statusTexts, IsEmpty());
}

TEST(PurgeCP, ConfigurationNamesShorterThanTheCountStopIt) {
  auto p = page({"C0", "C1"}, true);
  p->s.configNames.pop_back();
  EXPECT_FALSE(purgeCP(p->s));
  EXPECT_THAT(p->host->statusTexts, ElementsAre("Purge Custom Properties failed"));
  EXPECT_THAT(p->argsOf("delete-custom-property"), ElementsAre(Args{"", "A"}, Args{"C0", "A"}));
  EXPECT_TRUE(p->doc->properties.get("B"));
}

TEST(PurgeCP, AHostFailureAtEachCallKeepsTheDeletionsBeforeIt) {
  auto clean = page({"C0", "C1"}, true);
  ASSERT_TRUE(purgeCP(clean->s));
  const auto cleanCalls = clean->host->faults->calls;
  const auto ops = clean->hostCalls();
  ASSERT_EQ(ops.size(), 12u);
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = page({"C0", "C1"}, true);
    p->failHostCall(ops, k);
    EXPECT_FALSE(purgeCP(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Purge Custom Properties failed"));
    for (std::size_t i = 0; i < cleanCalls.size(); ++i) {
      if (cleanCalls[i].operation != "delete-custom-property") continue;
      const std::string& config = cleanCalls[i].args[0];
      const std::string& name = cleanCalls[i].args[1];
      EXPECT_EQ(p->doc->scope(config, "").get(name).has_value(), i + 1 >= k) << config << "/" << name;
    }
  }
}

}  // namespace
}  // namespace kelvane
