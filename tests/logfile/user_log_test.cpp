// Kelvane.log where the add-in's folder takes no new files (a per-machine install,
// for a user without administrator rights): each user keeps a log of their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logfile/logfile.h"
#include "support/bound_page.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::BoundPage;

constexpr const char* kSiteLog = "C:\\Kelvane\\Kelvane.log";
constexpr const char* kAnnFolder = "C:\\Users\\ann\\AppData\\Local\\Kelvane";
constexpr const char* kAnnLog = "C:\\Users\\ann\\AppData\\Local\\Kelvane\\Kelvane.log";

// One remembered field, "Drawn By", on the folder C:\Kelvane.
std::unique_ptr<BoundPage> page(bool folderWritable, const char* localAppData) {
  auto p = std::make_unique<BoundPage>();
  p->doc->addConfiguration("Default");
  p->group("Approval");
  p->text("Drawn By").remember = true;
  p->bind(false);
  if (!folderWritable) p->os.readOnlyFolders.push_back(p->os.moduleFolder);
  if (localAppData) p->os.environment["LOCALAPPDATA"] = localAppData;
  return p;
}

std::string drawnBy(BoundPage& p) { return std::string(p.s.model.groups[0].fields[0].defaultValue); }

// The value a close saves and the one the next opening reads back, with the files they
// leave.
TEST(UserLog, FollowsTheFolderThatTakesTheFile) {
  struct Case {
    const char* name;
    bool folderWritable;
    const char* localAppData;
    std::optional<std::string> userLog;  // a log of the user's own before the close
    std::string readBefore;              // what the opening reads with the site's log "Drawn By;site"
    std::string writtenTo;               // where "Drawn By;ann" goes
  };
  const std::vector<Case> cases = {
      {"a writable folder, as before", true, nullptr, std::nullopt, "site", kSiteLog},
      {"a writable folder, a user folder named", true, "C:\\Users\\ann\\AppData\\Local", std::nullopt, "site",
       kSiteLog},
      {"a read-only folder: the site's log until the user's own", false, "C:\\Users\\ann\\AppData\\Local",
       std::nullopt, "site", kAnnLog},
      {"a read-only folder, the user's log read first", false, "C:\\Users\\ann\\AppData\\Local", "Drawn By;own",
       "own", kAnnLog},
      {"once the user has a log, it stays theirs", true, "C:\\Users\\ann\\AppData\\Local", "Drawn By;own", "own",
       kAnnLog},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = page(c.folderWritable, c.localAppData);
    p->os.files[kSiteLog] = "Drawn By;site\r\n";
    if (c.userLog) {
      p->os.directories.push_back(kAnnFolder);
      p->os.files[kAnnLog] = *c.userLog + "\r\n";
    }
    EXPECT_TRUE(readLogFile(p->s));
    EXPECT_EQ(drawnBy(*p), c.readBefore);

    p->slot(0, 0) = "ann";
    EXPECT_TRUE(writeLogFile(p->s));
    EXPECT_THAT(p->host->statusTexts, IsEmpty());
    EXPECT_THAT(p->os.files[c.writtenTo], HasSubstr("\r\nDrawn By;ann\r\n"));
    if (c.writtenTo != kSiteLog) {
      EXPECT_EQ(p->os.files[kSiteLog], "Drawn By;site\r\n") << "the site's log stays";
    } else {
      EXPECT_FALSE(p->os.files.contains(kAnnLog)) << "no user's log appears";
    }

    EXPECT_TRUE(readLogFile(p->s));
    EXPECT_EQ(drawnBy(*p), "ann") << "the next opening reads what was saved";
  }
}

TEST(UserLog, EachUserOfAReadOnlyFolderRemembersTheirOwn) {
  std::map<std::string, std::string> disk;  // one machine's files, shared by both users
  for (const auto& [user, value] : {std::pair{"ann", "Ann"}, std::pair{"bob", "Bob"}}) {
    auto p = page(false, ("C:\\Users\\" + std::string(user) + "\\AppData\\Local").c_str());
    p->os.files = disk;
    p->slot(0, 0) = value;
    ASSERT_TRUE(writeLogFile(p->s));
    disk = p->os.files;
  }
  for (const auto& [user, value] : {std::pair{"ann", "Ann"}, std::pair{"bob", "Bob"}}) {
    auto p = page(false, ("C:\\Users\\" + std::string(user) + "\\AppData\\Local").c_str());
    p->os.files = disk;
    ASSERT_TRUE(readLogFile(p->s));
    EXPECT_EQ(drawnBy(*p), value);
  }
  EXPECT_FALSE(disk.contains(kSiteLog));
}

TEST(UserLog, AReadOnlyFolderWithoutAUserFolderOrAFailingOneKeepsTheError) {
  struct Case {
    const char* name;
    const char* localAppData;
    const char* failing;  // a platform operation that fails, or none
  };
  const Case cases[] = {
      {"no user folder named", nullptr, nullptr},
      {"an empty user folder name", "", nullptr},
      {"the user folder cannot be made", "C:\\Users\\ann\\AppData\\Local", "create-folder"},
      {"the user's log cannot be written", "C:\\Users\\ann\\AppData\\Local", "replace-file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = page(false, c.localAppData);
    p->os.files[kSiteLog] = "Drawn By;site\r\n";
    if (c.failing) p->os.failNext(c.failing);
    p->slot(0, 0) = "ann";
    EXPECT_FALSE(writeLogFile(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Error writing log file"));
    EXPECT_THAT(p->os.files, ElementsAre(::testing::Key(kSiteLog)));
  }
}

}  // namespace
}  // namespace kelvane
