#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/bound_page.h"
#include "tools/tools.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::BoundPage;

TEST(EditIni, StartsNotepadOnTheDefinitionFileWithoutQuotes) {
  struct Case {
    std::string windir, folder, separator, commandLine;
  };
  const Case cases[] = {
      {"C:\\Windows", "C:\\Program Files\\Kelvane", "\\",
       "C:\\Windows\\system32\\notepad C:\\Program Files\\Kelvane\\Kelvane.ini"},
      {"", "C:\\Kelvane", "\\", "\\system32\\notepad C:\\Kelvane\\Kelvane.ini"},
      {"C:\\Windows", "/opt/kelvane", "/", "C:\\Windows\\system32\\notepad /opt/kelvane\\Kelvane.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine);
    BoundPage p;
    if (!c.windir.empty()) p.os.environment["WINDIR"] = c.windir;
    p.os.moduleFolder = c.folder;
    p.os.separator = c.separator;
    editIni(p.s);
    EXPECT_THAT(p.os.processes, ElementsAre(c.commandLine));
  }
}

TEST(EditIni, AFailureToStartTheEditorReachesTheCaller) {
  BoundPage p;
  p.os.failNext("start-process");
  EXPECT_THAT([&] { editIni(p.s); },
              ::testing::ThrowsMessage<platform::PlatformError>(::testing::HasSubstr("start-process")));
  EXPECT_THAT(p.host->statusTexts, IsEmpty());
}

}  // namespace
}  // namespace kelvane
