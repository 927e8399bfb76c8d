#include "hostfs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "d88builder.h"
#include "runtool.h"

namespace {

std::string hostNameOf(const std::string& stored) {
  char host[32];
  std::memset(host, 'Z', sizeof host); // a missing terminator shows up as trailing Z bytes
  hostFileName(stored.c_str(), host);
  return std::string(host, strnlen(host, sizeof host));
}

struct HostNameCase {
  const char* stored;
  const char* host;
  const char* why;
};

TEST(HostFsTest, SlashesBecomeUnderscoresAndNothingElseChanges) {
  const HostNameCase cases[] = {
      {"README.TXT", "README.TXT", "a plain name"},
      {"../X", ".._X", "no step out of the folder"},
      {"/ETC/X", "_ETC_X", "no absolute path"},
      {"A//B.C/D", "A__B.C_D", "every slash, not only the first"},
      {"/", "_", "a slash alone"},
      {"..", "..", "dots are left alone: creating such a name fails instead"},
      {"A\\B", "A\\B", "a backslash is a plain byte on POSIX hosts"},
      {"\x83Q\x81[\x83\x80.DAT", "\x83Q\x81[\x83\x80.DAT", "ゲーム.DAT: Shift-JIS unchanged"},
      {"\x83\x5C", "\x83\x5C", "ソ: a 0x5C trail byte unchanged"},
      {"a b", "a b", "blanks and case unchanged"},
      {"", "", "the empty name stays empty"},
  };
  for (const HostNameCase& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(hostNameOf(c.stored), c.host);
  }
}

// Runs each test inside a fresh folder and returns to where it started afterwards, as the
// folder calls change the test process's own current directory.
class HostFsFolderTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(::getcwd(started, sizeof started), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(::chdir(started), 0); }

  static std::string currentFolder() {
    char here[PATH_MAX];
    return ::getcwd(here, sizeof here) != nullptr ? here : "";
  }

  TempDir dir;
  char started[PATH_MAX] = {};
};

TEST_F(HostFsFolderTest, EntersAndLeavesAFolder) {
  makeFolder("000");
  ASSERT_TRUE(enterFolder("000"));
  EXPECT_EQ(currentFolder(), dir / "000");
  ASSERT_TRUE(leaveFolder());
  EXPECT_EQ(currentFolder(), dir.path());
}

TEST_F(HostFsFolderTest, MakingAnExistingFolderKeepsItAndItsFiles) {
  makeFolder("000");
  ASSERT_TRUE(writeBytesToFile("000/OLD", {1, 2}));
  makeFolder("000");
  const auto tree = readTree(dir.path());
  ASSERT_EQ(tree.count("000/OLD"), 1u) << treeListing(tree);
  EXPECT_EQ(tree.at("000/OLD").bytes, std::string("\x01\x02", 2));
}

TEST_F(HostFsFolderTest, APlainFileOrAMissingFolderCannotBeEntered) {
  ASSERT_TRUE(writeBytesToFile("001", {7}));
  makeFolder("001"); // the file stays a file
  EXPECT_FALSE(enterFolder("001"));
  EXPECT_FALSE(enterFolder("002"));
  EXPECT_EQ(currentFolder(), dir.path());
  const auto tree = readTree(dir.path());
  ASSERT_EQ(tree.count("001"), 1u);
  EXPECT_FALSE(tree.at("001").directory);
  EXPECT_EQ(tree.at("001").bytes, "\x07");
}

TEST_F(HostFsFolderTest, AFolderWithoutPermissionCannotBeEntered) {
  if (::geteuid() == 0) GTEST_SKIP() << "root enters any folder";
  makeFolder("000");
  ASSERT_EQ(::chmod("000", 0), 0);
  EXPECT_FALSE(enterFolder("000"));
  EXPECT_EQ(currentFolder(), dir.path());
}

TEST_F(HostFsFolderTest, WritesReplacesAndEmptiesFiles) {
  const std::uint8_t data[] = {'N', 'E', 'W'};
  ASSERT_TRUE(writeBytesToFile("FILE", Bytes(5000, 0xAA)));
  EXPECT_TRUE(writeWholeFile("FILE", data, sizeof data));
  EXPECT_TRUE(writeWholeFile("EMPTY", data, 0));
  const auto tree = readTree(dir.path());
  EXPECT_EQ(tree.at("FILE").bytes, "NEW"); // truncated, not overwritten in place
  ASSERT_EQ(tree.count("EMPTY"), 1u);
  EXPECT_EQ(tree.at("EMPTY").bytes, "");
}

TEST_F(HostFsFolderTest, ReportsFilesThatCannotBeWritten) {
  const std::uint8_t data[] = {1, 2, 3};
  makeFolder("FOLDER");
  EXPECT_FALSE(writeWholeFile("", data, sizeof data)) << "empty name";
  EXPECT_FALSE(writeWholeFile("..", data, sizeof data)) << "a folder's name";
  EXPECT_FALSE(writeWholeFile("FOLDER", data, sizeof data)) << "an existing folder";
  EXPECT_FALSE(writeWholeFile("MISSING/FILE", data, sizeof data)) << "no such folder";
  const auto tree = readTree(dir.path());
  EXPECT_EQ(treeListing(tree), "FOLDER/\n");
}

TEST_F(HostFsFolderTest, ReportsAWriteThatCannotReachTheDevice) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Bytes small(10, 1);
  const Bytes large(1 << 20, 1);
  // A small write stays in the stream's buffer: the failure shows when the file is closed.
  EXPECT_FALSE(writeWholeFile("/dev/full", small.data(), small.size()));
  EXPECT_FALSE(writeWholeFile("/dev/full", large.data(), large.size()));
  OutputFile* file = createFile("/dev/full");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(writeBytes(file, large.data(), large.size()));
  (void)closeFile(file);
}

TEST_F(HostFsFolderTest, SetsBothTimesUnlessTheStampFailed) {
  ASSERT_TRUE(writeBytesToFile("FILE", {1}));
  setFileTimes("FILE", 616415400);
  struct stat info;
  ASSERT_EQ(::stat("FILE", &info), 0);
  EXPECT_EQ(info.st_mtime, 616415400);
  EXPECT_EQ(info.st_atime, 616415400);
  setFileTimes("FILE", static_cast<std::time_t>(-1));
  ASSERT_EQ(::stat("FILE", &info), 0);
  EXPECT_EQ(info.st_mtime, 616415400);
  EXPECT_EQ(info.st_atime, 616415400);
}

} // namespace
