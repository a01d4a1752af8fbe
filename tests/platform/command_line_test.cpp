#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace kelvane::platform {
namespace {

TEST(SplitCommandLine, TakesTheProgramByWindowsRuleAndTheRestAsOneArgument) {
  struct Case {
    std::string line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"\\system32\\notepad C:\\My Add-ins\\Kelvane.ini", {"\\system32\\notepad", "C:\\My Add-ins\\Kelvane.ini"}},
      {"notepad", {"notepad"}},
      {"notepad \t ", {"notepad"}},
      {"\"C:\\Program Files\\ed.exe\" a  \"b\" ", {"C:\\Program Files\\ed.exe", "a  \"b\" "}},
      {"\"unclosed name", {"unclosed name"}},
      {"ed\t$(rm x); `y`", {"ed", "$(rm x); `y`"}},
      {"", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.words) << c.line;
}

}  // namespace
}  // namespace kelvane::platform
