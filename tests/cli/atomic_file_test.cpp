#include "atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelvane::cli {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct TempFolder {
  TempFolder() : path(fs::temp_directory_path() / ("kelvane-atomic-test-" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() { fs::remove_all(path); }
  fs::path path;
};

TEST(AtomicWrite, ReplacesTheFileAndLeavesNothingElse) {
  TempFolder folder;
  const fs::path path = folder.path / "doc.json";
  std::ofstream(path) << "old";
  ::chmod(path.c_str(), 0640);
  writeFileAtomically(path.string(), "new\n");
  EXPECT_EQ(readFile(path), "new\n");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
}

TEST(AtomicWrite, CreatesAMissingFile) {
  TempFolder folder;
  writeFileAtomically((folder.path / "new.json").string(), "{}\n");
  EXPECT_EQ(readFile(folder.path / "new.json"), "{}\n");
}

TEST(AtomicWrite, WritesThroughASymbolicLink) {
  TempFolder folder;
  std::ofstream(folder.path / "real.json") << "old";
  fs::create_symlink("real.json", folder.path / "link.json");
  writeFileAtomically((folder.path / "link.json").string(), "new");
  EXPECT_TRUE(fs::is_symlink(folder.path / "link.json"));
  EXPECT_EQ(readFile(folder.path / "real.json"), "new");
}

TEST(AtomicWrite, FailsWithTheFileNamedWhenTheFolderIsMissing) {
  TempFolder folder;
  const std::string path = (folder.path / "no" / "doc.json").string();
  try {
    writeFileAtomically(path, "x");
    ADD_FAILURE() << "written";
  } catch (const WriteError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with(path + ": cannot create a temporary file")) << e.what();
  }
}

TEST(AtomicWrite, LeavesAnythingButARegularFileAlone) {
  TempFolder folder;
  ::mkfifo((folder.path / "fifo").c_str(), 0600);
  fs::create_directory(folder.path / "folder");
  std::ofstream(folder.path / "locked.json") << "old";
  ::chmod((folder.path / "locked.json").c_str(), 0444);
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
      {"/dev/null", "not a regular file"},
      {(folder.path / "fifo").string(), "not a regular file"},
      {(folder.path / "folder").string(), "not a regular file"},
      {(folder.path / "locked.json").string(), "the file is read-only"},
  };
  for (const auto& c : cases) {
    try {
      writeFileAtomically(c.path, "x");
      ADD_FAILURE() << "written: " << c.path;
    } catch (const WriteError& e) {
      EXPECT_EQ(std::string(e.what()), c.path + ": " + c.reason + ", left alone");
    }
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_fifo(folder.path / "fifo"));
  EXPECT_EQ(readFile(folder.path / "locked.json"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace kelvane::cli
