#include "script.h"

#include <gtest/gtest.h>

namespace kelvane::cli {
namespace {

using Kind = Command::Kind;

Command only(const std::string& line) {
  const auto commands = parseScript(line, "s");
  EXPECT_EQ(commands.size(), 1u) << line;
  return commands.empty() ? Command{} : commands.front();
}

TEST(Script, ReadsEveryCommand) {
  struct Case {
    const char* line;
    Kind kind;
    std::int32_t id;
    std::int32_t number;
    const char* text;
    const char* value;
  };
  const Case cases[] = {
      {"menu", Kind::Menu, 0, 0, "", ""},
      {"text 1000 A-100", Kind::Text, 1000, 0, "A-100", ""},
      {"select 1001 2", Kind::Select, 1001, 2, "", ""},
      {"check 10003 1", Kind::Check, 10003, 1, "", ""},
      {"check 10003 0", Kind::Check, 10003, 0, "", ""},
      {"press 20001", Kind::Press, 20001, 0, "", ""},
      {"help", Kind::Help, 0, 0, "", ""},
      {"close 3", Kind::Close, 0, 3, "", ""},
      {"close -1", Kind::Close, 0, -1, "", ""},
      {"ok", Kind::Close, 0, 1, "", ""},
      {"cancel", Kind::Close, 0, 2, "", ""},
      {"set Part Number = A-100", Kind::Set, 0, 0, "Part Number", "A-100"},
      {"set a = b = c", Kind::Set, 0, 0, "a", "b = c"},
      {"set Drawn By =", Kind::Set, 0, 0, "Drawn By", ""},
      {"set Drawn By =  two", Kind::Set, 0, 0, "Drawn By", " two"},
      {"fail get-text", Kind::Fail, 0, 1, "get-text", ""},
      {"fail item-text 3", Kind::Fail, 0, 3, "item-text", ""},
      {"show", Kind::Show, 0, 0, "", ""},
      {"dump", Kind::Dump, 0, 0, "", ""},
      {"disconnect", Kind::Disconnect, 0, 0, "", ""},
      {"  select\t1001   2  ", Kind::Select, 1001, 2, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const Command command = only(c.line);
    EXPECT_EQ(command.kind, c.kind);
    EXPECT_EQ(command.id, c.id);
    EXPECT_EQ(command.number, c.number);
    EXPECT_EQ(command.text, c.text);
    EXPECT_EQ(command.value, c.value);
  }
}

TEST(Script, KeepsTypedTextExactly) {
  EXPECT_EQ(only("text 5").text, "");
  EXPECT_EQ(only("text 5 ").text, "");
  EXPECT_EQ(only("text 5  ").text, " ");
  EXPECT_EQ(only("text 5   two blanks # and a hash").text, "  two blanks # and a hash");
  EXPECT_EQ(only("text 5 trailing \r").text, "trailing ");
}

TEST(Script, SkipsBlankAndCommentLinesAndCountsEveryLine) {
  const auto commands = parseScript("# opening\n\n   \n  # indented\r\nmenu\r\nok", "s");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].line, 5);
  EXPECT_EQ(commands[1].line, 6);
  EXPECT_TRUE(parseScript("", "s").empty());
}

TEST(Script, RefusesLinesThatAreNotCommands) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"menu\nfrobnicate 3", "edit.txt line 2: not a command: frobnicate 3"},
      {"Menu", "edit.txt line 1: not a command: Menu"},
      {"menu now", "edit.txt line 1: expected menu alone: menu now"},
      {"text", "edit.txt line 1: expected text ID TEXT: text"},
      {"text x y", "edit.txt line 1: expected text ID TEXT: text x y"},
      {"text 5x", "edit.txt line 1: expected text ID TEXT: text 5x"},
      {"text 99999999999 a", "edit.txt line 1: expected text ID TEXT: text 99999999999 a"},
      {"select 1001", "edit.txt line 1: expected select ID INDEX: select 1001"},
      {"select 1001 -1", "edit.txt line 1: INDEX must not be negative: select 1001 -1"},
      {"check 10003 yes", "edit.txt line 1: expected check ID 0|1: check 10003 yes"},
      {"press", "edit.txt line 1: expected press ID: press"},
      {"close", "edit.txt line 1: expected close REASON: close"},
      {"ok 1", "edit.txt line 1: expected ok alone: ok 1"},
      {"set Part Number", "edit.txt line 1: expected set CAPTION = VALUE: set Part Number"},
      {"set = x", "edit.txt line 1: expected set CAPTION = VALUE: set = x"},
      {"fail", "edit.txt line 1: expected fail OPERATION [N]: fail"},
      {"fail gettext", "edit.txt line 1: unknown host operation \"gettext\": fail gettext"},
      {"fail get-text 0", "edit.txt line 1: N must be 1 or more: fail get-text 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    try {
      parseScript(c.script, "edit.txt");
      ADD_FAILURE() << "accepted";
    } catch (const ScriptError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace kelvane::cli
