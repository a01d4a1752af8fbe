#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/platform.h"

namespace kelvane::platform {
namespace {

struct CodePageCase {
  std::string bytes;  // Windows-1252
  std::string utf8;
};

const CodePageCase kBothWays[] = {
    {"", ""},
    {"Part-100 ~", "Part-100 ~"},
    {"\x80", "\u20AC"},  // euro sign
    {"\x8A\x9A\x8E\x9E\x9F", "\u0160\u0161\u017D\u017E\u0178"},
    {"\x93quoted\x94", "\u201Cquoted\u201D"},
    {"\x96\x97\x85\x99", "\u2013\u2014\u2026\u2122"},
    {"caf\xE9 \xC4\xD6\xDC\xDF", "caf\u00E9 \u00C4\u00D6\u00DC\u00DF"},
    {"\xA0\xB0\xFF", "\u00A0\u00B0\u00FF"},
    // Long ASCII runs around the other bytes, as in a real file.
    {"Finish;caf\xE9 and cr\xE8me br\xFBl\xE9" "e\x85 (16 chars)\x80", "Finish;caf\u00E9 and cr\u00E8me br\u00FBl\u00E9e\u2026 (16 chars)\u20AC"},
    // Bytes the code page leaves undefined keep their value as C1 controls.
    {"\x81", "\xC2\x81"},
    {"\x8D", "\xC2\x8D"},
    {"\x8F", "\xC2\x8F"},
    {"\x90", "\xC2\x90"},
    {"\x9D", "\xC2\x9D"},
};

TEST(CodePage, DecodesAndEncodesEveryCaseBothWays) {
  for (const auto& c : kBothWays) {
    EXPECT_EQ(decodeCp1252(c.bytes), c.utf8) << c.utf8;
    EXPECT_EQ(encodeCp1252(c.utf8), c.bytes) << c.utf8;
    EXPECT_EQ(firstUnmappableCp1252(c.utf8), std::nullopt) << c.utf8;
  }
  EXPECT_EQ(firstUnmappableCp1252("what? ?"), std::nullopt);  // a question mark of its own
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(encodeCp1252(decodeCp1252(all)), all);
}

TEST(CodePage, WritesQuestionMarkForWhatItCannotHold) {
  const CodePageCase cases[] = {
      {"?", "\u65E5"},          // CJK
      {"a?b", "a\U0001F600b"},  // outside the BMP: one mark per character
      {"?", "\xC2\x80"},        // a C1 control whose byte means the euro sign
      {"?", "\u2603"},
      // Invalid UTF-8: one mark per broken sequence or stray byte.
      {"?", "\xC3"},
      {"a?", "a\xC3"},
      {"?x", "\xE2\x82x"},
      {"?", "\xF0\x9F\x98"},
      {"??", "\xC0\xAF"},       // overlong
      {"???", "\xED\xA0\x80"},  // surrogate
      {"???", "\xF4\x90\x80"},  // would be above U+10FFFF: no valid prefix
      {"?", "\x80"},
      {"?", "\xFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodeCp1252(c.utf8), c.bytes) << c.utf8;
    // Where the first mark goes, counted in the UTF-8 text.
    const std::size_t before = c.bytes.find('?');
    EXPECT_EQ(firstUnmappableCp1252(c.utf8), before) << c.utf8;
  }
}

struct SplitCase {
  std::string text;
  std::vector<std::string> lines;
};

const SplitCase kSplits[] = {
    {"", {}},
    {"a", {"a"}},
    {"a\r\nb\r\n", {"a", "b"}},
    {"a\nb", {"a", "b"}},
    {"a\r\nb", {"a", "b"}},
    {"\n", {""}},
    {"\r\n\r\n", {"", ""}},
    {"a\n\nb\n", {"a", "", "b"}},
    {"a\rb\r\n", {"a\rb"}},  // a lone CR stays in the line
    {"a\r", {"a\r"}},
    {"a\r\r\n", {"a\r"}},
    {"\r", {"\r"}},
    {"[Part]\r\nFinish;caf\xE9 cr\xE8me\r\n\x80", {"[Part]", "Finish;caf\u00E9 cr\u00E8me", "\u20AC"}},
};

TEST(SplitLines, FollowsTheLineReaderRules) {
  for (const auto& c : kSplits) {
    EXPECT_EQ(splitLines(decodeCp1252(c.text)), c.lines) << testing::PrintToString(c.text);
  }
}

TEST(Cp1252Lines, TakesTheSameLinesOneAtATime) {
  for (const auto& c : kSplits) {
    Cp1252Lines lines(c.text);
    std::vector<std::string> taken;
    while (!lines.atEnd()) taken.emplace_back(lines.take());
    EXPECT_EQ(taken, c.lines) << testing::PrintToString(c.text);
  }
}

}  // namespace
}  // namespace kelvane::platform
