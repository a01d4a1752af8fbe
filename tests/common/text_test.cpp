#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane::text {
namespace {

TEST(Text, ProperCaseUpperCasesEachBlankSeparatedWord) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"my part no", "My Part No"},
      {"PART NUMBER", "Part Number"},
      {"  two  blanks ", "  Two  Blanks "},
      {"o'neil-smith x2", "O'neil-smith X2"},
      {"", ""},
      {"\xC3\xBC" "ber gr\xC3\x96\xC3\x9F" "e", "\xC3\x9C" "ber Gr\xC3\xB6\xC3\x9F" "e"},  // über grÖße
      {"\xC3\xBF \xC5\xA0" "A", "\xC5\xB8 \xC5\xA0" "a"},  // ÿ ŠA -> Ÿ Ša
      {"\xC3\x97x \xC3\xB7X", "\xC3\x97x \xC3\xB7x"},      // × and ÷ have no case
      {"\xE2\x82\xAC" "uro", "\xE2\x82\xAC" "uro"},        // € starts the word
      {"a\x80" "b \xC3", "A\x80" "b \xC3"},                // broken bytes pass through
  };
  for (const auto& c : cases) EXPECT_EQ(properCase(c.in), c.out) << c.in;
}

TEST(Text, SplitKeepsEveryPiece) {
  const struct {
    std::string in;
    std::vector<std::string> out;
  } cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a;", {"a", ""}},
      {";;", {"", "", ""}},
      {" a ; b ", {" a ", " b "}},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.in, ';'), c.out) << c.in;
  std::vector<std::string_view> views{"stale"};
  splitViews("x;y", ';', views);
  EXPECT_EQ(views, (std::vector<std::string_view>{"x", "y"}));
}

TEST(Text, TrimRemovesBlanksButNotTabs) {
  EXPECT_EQ(trimSpaces("  a b  "), "a b");
  EXPECT_EQ(trimSpaces("\ta\t"), "\ta\t");
  EXPECT_EQ(trimSpaces("   "), "");
  EXPECT_EQ(trimLeftSpaces("  a "), "a ");
  EXPECT_EQ(trimRightSpaces("  a "), "  a");
  EXPECT_EQ(trimmedView(" x "), "x");
}

TEST(Text, FirstCharAndCountFollowUtf8Sequences) {
  const struct {
    std::string in, first;
    std::size_t count;
  } cases[] = {
      {"", "", 0},
      {"[Groups]", "[", 8},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9", 3},        // été
      {"\xE2\x82\xAC" "5", "\xE2\x82\xAC", 2},     // €5
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", 1},
      {"\xE2\x82", "\xE2\x82", 1},                 // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(firstChar(c.in), c.first) << c.in;
    EXPECT_EQ(charCount(c.in), c.count) << c.in;
  }
}

TEST(Text, ReplaceAllReplacesEveryOccurrence) {
  EXPECT_EQ(replaceAll(" a b ", ' ', '_'), "_a_b_");
}

}  // namespace
}  // namespace kelvane::text
