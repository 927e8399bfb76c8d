#include "diskwalker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"
#include "gaudidisk.h"
#include "runtool.h"

namespace {

// ---- runTool in this process, with a handler that records what it was handed ----

struct Visit {
  int disk;
  std::string folder;     // the current directory the handler ran in
  std::int32_t runLength; // bytes of a run from sector 8 of track index 0 on
  std::uint8_t firstByte; // first byte of that run's second sector (track index 1, sector 1)
};

std::vector<Visit> visits;
std::vector<VolumeResult> results; // what the handler answers for each disk, Continue past them

std::string currentFolder() {
  char here[PATH_MAX];
  return ::getcwd(here, sizeof here) != nullptr ? here : "";
}

VolumeResult recordingHandler(D88Image& image) {
  std::uint8_t run[2048] = {};
  Visit visit;
  visit.disk = image.currentDisk();
  visit.folder = currentFolder();
  visit.runLength = image.readSectors(0, 0, 0, 8, 3, run, sizeof run);
  visit.firstByte = run[1024];
  visits.push_back(visit);
  const std::size_t index = static_cast<std::size_t>(visit.disk);
  return index < results.size() ? results[index] : VolumeResult::Continue;
}

// A disk of tracks 0 and 1, whose track index 1 begins with a byte telling the disks apart.
D88Disk markedDisk(int index) {
  FlatDisk flat(8, 2);
  flat.at(1, 1)[0] = static_cast<std::uint8_t>(0xA0 + index);
  return flat.toD88("DISK" + std::to_string(index));
}

constexpr ToolParams kRecordingTool = {
    "recorder", "Usage: %s [d88file]\n", 3, recordingHandler, true,
};

class RunToolTest : public testing::Test {
protected:
  void SetUp() override {
    visits.clear();
    results.clear();
    ASSERT_NE(::getcwd(started, sizeof started), nullptr);
    ASSERT_TRUE(writeBytesToFile(image, buildD88({markedDisk(0), markedDisk(1), markedDisk(2)})));
    ASSERT_EQ(::mkdir(work.c_str(), 0777), 0);
    ASSERT_EQ(::chdir(work.c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(::chdir(started), 0); }

  // Runs the recording tool on the image with the given arguments after the image path.
  int run(const std::vector<std::string>& extra, const ToolParams& tool = kRecordingTool) {
    std::vector<std::string> args = {"recorder", image};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    D88Image reader;
    testing::internal::CaptureStdout();
    const int status = runTool(static_cast<int>(args.size()), argv.data(), tool, reader);
    out = testing::internal::GetCapturedStdout();
    return status;
  }

  TempDir dir;
  std::string image = dir / "image.d88";
  std::string work = dir / "run";
  char started[PATH_MAX] = {};
  std::string out;
};

TEST_F(RunToolTest, HandsEachDiskOverInItsOwnFolderWithSectorsOneToEight) {
  EXPECT_EQ(run({}), 0);
  ASSERT_EQ(visits.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Visit& visit = visits[static_cast<std::size_t>(i)];
    EXPECT_EQ(visit.disk, i);
    EXPECT_EQ(visit.folder, work + "/00" + std::to_string(i));
    // Sector 8 is the last of a track: the run goes on at sector 1 of track index 1.
    EXPECT_EQ(visit.runLength, 2048);
    EXPECT_EQ(visit.firstByte, 0xA0 + i);
  }
  EXPECT_EQ(out,
            diskHeader("DISK0", "000") + diskHeader("DISK1", "001") + diskHeader("DISK2", "002"));
  EXPECT_EQ(currentFolder(), work);
}

TEST_F(RunToolTest, WithoutFoldersEveryDiskIsHandledInTheStartingFolder) {
  EXPECT_EQ(run({"-d"}), 0);
  ASSERT_EQ(visits.size(), 3u);
  for (const Visit& visit : visits) {
    EXPECT_EQ(visit.folder, work);
    EXPECT_EQ(visit.runLength, 2048);
  }
  EXPECT_EQ(out, "");
  EXPECT_EQ(treeListing(readTree(work)), "");
}

TEST_F(RunToolTest, AHandlerEndingTheRunStopsItAtOnce) {
  results = {VolumeResult::Continue, VolumeResult::EndRun};
  EXPECT_EQ(run({}), 1);
  ASSERT_EQ(visits.size(), 2u); // disk 2 is never selected
  EXPECT_EQ(out, diskHeader("DISK0", "000") + diskHeader("DISK1", "001"));
  EXPECT_EQ(currentFolder(), work + "/001"); // no step back after the end
}

TEST_F(RunToolTest, AFailedDiskTurnsTheStatusAfterTheLastDisk) {
  results = {VolumeResult::ContinueFailed, VolumeResult::Continue, VolumeResult::Continue};
  EXPECT_EQ(run({}), 1);
  EXPECT_EQ(visits.size(), 3u);
  EXPECT_EQ(currentFolder(), work);
}

TEST_F(RunToolTest, UsageNamesTheProgramAsTyped) {
  char typed[] = "./bin/tool";
  char* argv[] = {typed, nullptr};
  D88Image reader;
  testing::internal::CaptureStderr();
  EXPECT_EQ(runTool(1, argv, kRecordingTool, reader), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Usage: ./bin/tool [d88file]\n       -d : not make sub directory\n");
  EXPECT_TRUE(visits.empty());
}

// ---- the driver as the tools run it ----

// Replaced by the image path in argument lists.
const std::string kImage = "<image>";

std::vector<std::string> withImage(const std::vector<std::string>& args, const std::string& path) {
  std::vector<std::string> out = args;
  for (std::string& arg : out)
    if (arg == kImage) arg = path;
  return out;
}

std::string usageText(const std::string& tool) {
  const char* image = tool == "d88vol" ? "[d88file]" : "[D88 file]";
  return "Usage: " + typedProgramName(toolPath(tool)) + " " + image +
         "\n       -d : not make sub directory\n";
}

struct ArgumentCase {
  const char* tool;
  std::vector<std::string> args; // after the program name
  bool accepted;
};

TEST(DiskWalkerRunTest, ArgumentCountsPerTool) {
  const ArgumentCase cases[] = {
      {"d88vol", {}, false},
      {"d88vol", {kImage}, true},
      {"d88vol", {kImage, "-d"}, true},
      {"d88vol", {kImage, "other"}, true},
      {"d88vol", {kImage, "-d", "x"}, false},
      {"d88vol", {kImage, "x", "y", "z"}, false},
      {"d88fat", {}, false},
      {"d88fat", {kImage}, true},
      {"d88fat", {kImage, "-d"}, true},
      {"d88fat", {kImage, "-d", "-d"}, true},
      {"d88fat", {kImage, "x", "y", "z"}, false},
      {"d88fat", {kImage, "x", "y", "z", "w"}, false},
  };
  for (const ArgumentCase& c : cases) {
    ToolWorkspace ws;
    ASSERT_TRUE(ws.writeImage({})); // no disk at all: an accepted run prints nothing
    const RunResult result = ws.run(c.tool, withImage(c.args, ws.image));
    SCOPED_TRACE(result.command);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.accepted ? "" : usageText(c.tool));
    EXPECT_EQ(result.status, c.accepted ? 0 : 1);
    EXPECT_EQ(treeListing(ws.outputTree()), "");
  }
}

TEST(DiskWalkerRunTest, FourArgumentsOfD88fatIgnoreTheSwitch) {
  ToolWorkspace ws;
  D88Disk empty;
  empty.name = "EMPTY";
  ASSERT_TRUE(ws.writeImage({empty}));
  const RunResult result = ws.run("d88fat", {ws.image, "-d", "-d"});
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out, diskHeader("EMPTY", "000"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(treeListing(ws.outputTree()), "000/\n");
}

// One GAUDI disk with one file, and the output d88vol gives for it after the header line.
D88Disk oneFileDisk(const std::string& diskName, char letter, const std::string& fileName,
                    const Bytes& data) {
  GaudiDisk disk(letter);
  disk.addFile(1, fileName, "TXT", gaudiStart(12), data, 0x20, dosTime(10, 30, 0),
               dosDate(1989, 7, 14));
  return disk.toD88(diskName);
}

std::string oneFileListing(char letter, const std::string& fileName, unsigned size) {
  return recognisedLine(letter) +
         gaudiListingLine(fileName + ".TXT", 1, 5, size, {1989, 7, 14, 10, 30, 0}, "A ");
}

struct SwitchCase {
  const char* second; // argument 2
  bool folders;
};

TEST(DiskWalkerRunTest, OnlyAnExactLowerCaseSwitchTurnsFoldersOff) {
  const SwitchCase cases[] = {
      {"-d", false}, {"-D", true}, {"-dd", true}, {"d", true}, {"-d ", true}, {"", true},
  };
  const Bytes data = patternBytes(100, 1);
  for (const SwitchCase& c : cases) {
    ToolWorkspace ws;
    ASSERT_TRUE(ws.writeImage({oneFileDisk("GAME", 'A', "HELLO", data)}));
    const RunResult result = ws.run("d88vol", {ws.image, c.second});
    SCOPED_TRACE(result.command);
    const std::string listing = oneFileListing('A', "HELLO", 100);
    EXPECT_EQ(result.out, c.folders ? diskHeader("GAME", "000") + listing : listing);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    const auto tree = ws.outputTree();
    EXPECT_EQ(treeListing(tree), c.folders ? "000/\n000/HELLO.TXT\n" : "HELLO.TXT\n");
    const std::string file = c.folders ? "000/HELLO.TXT" : "HELLO.TXT";
    ASSERT_EQ(tree.count(file), 1u);
    EXPECT_EQ(tree.at(file).bytes, toString(data));
  }
}

TEST(DiskWalkerRunTest, ASwitchGivenFirstIsTakenAsTheImagePath) {
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage({oneFileDisk("GAME", 'A', "HELLO", patternBytes(10, 2))}));
  const RunResult missing = ws.run("d88vol", {"-d", ws.image});
  EXPECT_EQ(missing.out, "") << missing.command;
  EXPECT_EQ(missing.err, kCannotOpenLine);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(treeListing(ws.outputTree()), "");

  // With a file of that name it is read as the image, and the path after it is no switch.
  ASSERT_TRUE(writeBytesToFile(ws.work + "/-d", buildD88({oneFileDisk("DASH", 'B', "X", {})})));
  const RunResult dash = ws.run("d88vol", {"-d", ws.image});
  EXPECT_EQ(dash.out, diskHeader("DASH", "000") + oneFileListing('B', "X", 0)) << dash.command;
  EXPECT_EQ(dash.err, "");
  EXPECT_EQ(dash.status, 0);
  EXPECT_EQ(treeListing(ws.outputTree()), "-d\n000/\n000/X.TXT\n");
}

TEST(DiskWalkerRunTest, AnImageThatCannotBeOpened) {
  const std::vector<std::string> argLists[] = {{"missing.d88"}, {"missing.d88", "-d"}, {""}};
  for (const char* tool : {"d88vol", "d88fat"}) {
    for (const std::vector<std::string>& args : argLists) {
      ToolWorkspace ws;
      const RunResult result = ws.run(tool, args);
      SCOPED_TRACE(result.command);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, kCannotOpenLine);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(treeListing(ws.outputTree()), "");
    }
  }
}

TEST(DiskWalkerRunTest, EmptyAndShortImagesPrintNothing) {
  const Bytes whole = buildD88({oneFileDisk("GAME", 'A', "HELLO", patternBytes(10, 3))});
  // Nothing, one byte, the name alone, and one byte short of a whole disk header.
  for (std::size_t length : {0, 1, 16, 687}) {
    for (const char* tool : {"d88vol", "d88fat"}) {
      ToolWorkspace ws;
      ASSERT_TRUE(writeBytesToFile(ws.image, Bytes(whole.begin(), whole.begin() + length)));
      const RunResult result = ws.run(tool, {ws.image});
      SCOPED_TRACE(result.command);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(treeListing(ws.outputTree()), "");
    }
  }
}

TEST(DiskWalkerRunTest, SixtyFourDisksGetFoldersByIndex) {
  const int withFiles[] = {0, 9, 10, 63};
  std::vector<D88Disk> disks;
  std::string expected;
  std::string listing;
  for (int i = 0; i < 64; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, i == 63 ? "SIXTEEN-BYTES-%02d" : "DISK%02d", i);
    char folder[8];
    std::snprintf(folder, sizeof folder, "%03d", i);
    expected += diskHeader(name, folder);
    listing += std::string(folder) + "/\n";
    if (std::find(std::begin(withFiles), std::end(withFiles), i) != std::end(withFiles)) {
      const std::string file = "F" + std::to_string(i);
      disks.push_back(
          oneFileDisk(name, static_cast<char>('A' + i % 26), file, patternBytes(50, i)));
      expected += oneFileListing(static_cast<char>('A' + i % 26), file, 50);
      listing += std::string(folder) + "/" + file + ".TXT\n";
    } else {
      D88Disk empty; // no track at all: not a GAUDI volume
      empty.name = name;
      disks.push_back(empty);
    }
  }
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage(disks));
  const RunResult result = ws.run("d88vol", {ws.image});
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  const auto tree = ws.outputTree();
  EXPECT_EQ(treeListing(tree), listing);
  EXPECT_EQ(tree.at("063/F63.TXT").bytes, toString(patternBytes(50, 63)));
  EXPECT_EQ(ws.strayItems(), "");
}

TEST(DiskWalkerRunTest, ASecondRunReusesTheFoldersAndReplacesTheFiles) {
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage({oneFileDisk("GAME", 'A', "HELLO", patternBytes(3000, 4))}));
  ASSERT_EQ(ws.run("d88vol", {ws.image}).status, 0);
  ASSERT_TRUE(writeBytesToFile(ws.work + "/000/KEEP", {'k'}));

  GaudiDisk second('A');
  second.addFile(1, "HELLO", "TXT", gaudiStart(12), patternBytes(10, 5), 0x20, dosTime(23, 59, 58),
                 dosDate(1991, 5, 12));
  ASSERT_TRUE(ws.writeImage({second.toD88("GAME")}));
  const RunResult result = ws.run("d88vol", {ws.image});
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out,
            diskHeader("GAME", "000") + recognisedLine('A') +
                gaudiListingLine("HELLO.TXT", 1, 5, 10, {1991, 5, 12, 23, 59, 58}, "A "));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  const auto tree = ws.outputTree();
  EXPECT_EQ(treeListing(tree), "000/\n000/HELLO.TXT\n000/KEEP\n");
  EXPECT_EQ(tree.at("000/HELLO.TXT").bytes, toString(patternBytes(10, 5))); // truncated
  EXPECT_EQ(tree.at("000/HELLO.TXT").mtime, 674092798);
  EXPECT_EQ(tree.at("000/KEEP").bytes, "k");
}

// Ways to leave a name in the way of disk 1's folder.
enum class Blocker { PlainFile, DanglingLink, NoPermission };

struct BlockerCase {
  Blocker blocker;
  const char* why;
};

TEST(DiskWalkerRunTest, AFolderThatCannotBeEnteredSkipsItsDisk) {
  const BlockerCase cases[] = {
      {Blocker::PlainFile, "a plain file named 001"},
      {Blocker::DanglingLink, "a link named 001 to nowhere"},
      {Blocker::NoPermission, "a folder 001 without permission"},
  };
  for (const BlockerCase& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.blocker == Blocker::NoPermission && ::geteuid() == 0) {
      std::printf("skipped as root: %s\n", c.why);
      continue;
    }
    ToolWorkspace ws;
    ASSERT_TRUE(ws.writeImage({oneFileDisk("ONE", 'A', "F0", patternBytes(20, 0)),
                               oneFileDisk("TWO", 'B', "F1", patternBytes(20, 1)),
                               oneFileDisk("THREE", 'C', "F2", patternBytes(20, 2))}));
    const std::string blocked = ws.work + "/001";
    switch (c.blocker) {
    case Blocker::PlainFile:
      ASSERT_TRUE(writeBytesToFile(blocked, {'p'}));
      break;
    case Blocker::DanglingLink:
      ASSERT_EQ(::symlink("nowhere", blocked.c_str()), 0);
      break;
    case Blocker::NoPermission:
      ASSERT_EQ(::mkdir(blocked.c_str(), 0), 0);
      break;
    }
    const RunResult result = ws.run("d88vol", {ws.image});
    SCOPED_TRACE(result.command);
    EXPECT_EQ(result.out, diskHeader("ONE", "000") + oneFileListing('A', "F0", 20) +
                              diskHeader("TWO", "001") + diskHeader("THREE", "002") +
                              oneFileListing('C', "F2", 20));
    EXPECT_EQ(result.err, cannotEnterLine("001"));
    EXPECT_EQ(result.status, 1);
    const auto tree = ws.outputTree();
    if (c.blocker == Blocker::PlainFile) {
      EXPECT_EQ(treeListing(tree), "000/\n000/F0.TXT\n001\n002/\n002/F2.TXT\n");
      EXPECT_EQ(tree.at("001").bytes, "p");
    } else {
      EXPECT_EQ(tree.count("F1.TXT"), 0u) << treeListing(tree);
      EXPECT_EQ(tree.count("002/F2.TXT"), 1u) << treeListing(tree);
    }
    EXPECT_EQ(ws.strayItems(), "");
  }
}

TEST(DiskWalkerRunTest, TheFolderMessageFollowsItsHeaderLine) {
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage({oneFileDisk("ONE", 'A', "F0", patternBytes(20, 0)),
                             oneFileDisk("TWO", 'B', "F1", patternBytes(20, 1))}));
  ASSERT_TRUE(writeBytesToFile(ws.work + "/001", {}));
  RunOptions merged;
  merged.mergeOutput = true;
  const RunResult result = ws.run("d88vol", {ws.image}, merged);
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out, diskHeader("ONE", "000") + oneFileListing('A', "F0", 20) +
                            diskHeader("TWO", "001") + cannotEnterLine("001"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ws.strayItems(), "");
}

} // namespace
