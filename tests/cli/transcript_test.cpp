#include "transcript.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kelvane::cli {
namespace {

TEST(Transcript, KeepsEachEventOnOneLine) {
  struct Case {
    std::string text;
    const char* line;
  };
  const Case cases[] = {
      {"status: plain text", "status: plain text\n"},
      {"message: A;ok\r\nB;forged", "message: A;ok\\r\\nB;forged\n"},
      {std::string("x\0y\ty\x1b\x7f", 7), "x\\x00y\\x09y\\x1B\\x7F\n"},
      {"caf\xc3\xa9 C:\\path", "caf\xc3\xa9 C:\\path\n"},  // other bytes and backslashes as they are
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::ostringstream out;
    printLine(out, c.text);
    EXPECT_EQ(out.str(), c.line);
  }
}

}  // namespace
}  // namespace kelvane::cli
