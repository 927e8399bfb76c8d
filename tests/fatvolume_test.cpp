#include "fatvolume.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "d88builder.h"
#include "fatdisk.h"
#include "flatdisk.h"
#include "runtool.h"

namespace {

// ファイルを書き込めません. \n
const std::string kCannotWrite = "\x83t\x83@\x83"
                                 "C\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9"
                                 "\x82\xf1. \n";
// \nクラスタが破損しています.\n
const std::string kBrokenChain = "\n\x83N\x83\x89\x83X\x83^\x82\xaa\x94j\x91\xb9\x82\xb5\x82\xc4"
                                 "\x82\xa2\x82\xdc\x82\xb7.\n";
// ファイルをオープンできません\n
const std::string kCannotOpen = "\x83t\x83@\x83"
                                "C\x83\x8b\x82\xf0\x83I\x81[\x83v\x83\x93\x82\xc5\x82\xab\x82\xdc"
                                "\x82\xb9\x82\xf1\n";

// The date and time most entries carry: 1991/05/12 23:59:58 (0x16AC, 0xBF7D).
const std::uint16_t kDate = dosDate(1991, 5, 12);
const std::uint16_t kTime = dosTime(23, 59, 58);
const char kWhen[] = "1991/05/12 23:59:58";

std::int64_t entryStamp(const std::string& tz = "UTC0") {
  return localStamp(tz, 1991, 5, 12, 23, 59, 58);
}

Bytes fileEntry(const std::string& name, const std::string& ext, std::uint16_t start,
                std::int32_t size, std::uint8_t attr = Archive) {
  return dosEntry(name, ext, attr, kTime, kDate, start, static_cast<std::uint32_t>(size));
}

std::string header(const std::string& disk, const std::string& folder) {
  return "\n[" + disk + "] -> " + folder + "\n";
}

// A listing line up to the three blanks after the attribute letters; its newline follows once
// the whole clusters are written.
std::string columns(const std::string& name, std::int32_t size, const std::string& letters = "A ",
                    const char* when = kWhen) {
  char text[80];
  std::snprintf(text, sizeof text, "%-12s %8d %s ", name.c_str(), size, when);
  return text + letters + "   ";
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct FatRun {
  RunResult result;
  std::map<std::string, TreeItem> tree;
};

// Runs d88fat in `work` on an image of `disks`; "IMAGE" among `args` stands for the image path.
FatRun runFat(const TempDir& work, const std::vector<D88Disk>& disks,
              std::vector<std::string> args = {"IMAGE"}, const RunOptions& options = {}) {
  TempDir images;
  const std::string image = images / "image.d88";
  EXPECT_TRUE(writeBytesToFile(image, buildD88(disks)));
  for (std::string& arg : args) {
    if (arg == "IMAGE") arg = image;
  }
  FatRun run;
  run.result = runProgram(toolPath("d88fat"), args, work.path(), options);
  run.tree = readTree(work.path());
  return run;
}

FatRun runFat(const std::vector<D88Disk>& disks, std::vector<std::string> args = {"IMAGE"},
              const RunOptions& options = {}) {
  TempDir work;
  return runFat(work, disks, std::move(args), options);
}

void expectFile(const std::map<std::string, TreeItem>& tree, const std::string& path,
                const Bytes& bytes, std::int64_t stamp) {
  const auto found = tree.find(path);
  ASSERT_NE(found, tree.end()) << path << " is missing from\n" << treeListing(tree);
  const std::string& actual = found->second.bytes;
  const std::string expected = toString(bytes);
  ASSERT_EQ(actual.size(), expected.size()) << path;
  std::size_t at = 0;
  while (at < actual.size() && actual[at] == expected[at])
    ++at;
  EXPECT_EQ(at, actual.size()) << path << " differs first at byte " << at;
  EXPECT_EQ(found->second.mtime, stamp) << path;
  EXPECT_EQ(found->second.atime, stamp) << path;
}

// ---------------------------------------------------------------------------------------------
// The allocation table.

TEST(FatTableTest, UnpacksTwelveBitEntriesAndTheTwoBytesOver) {
  // Exactly the table's bytes, so that a read past them shows under the sanitizers.
  std::vector<std::uint8_t> raw(kRawTableSize, 0);
  raw[0] = 0x34; // group 0: entries 0 and 1
  raw[1] = 0x12;
  raw[2] = 0xAB;
  raw[300] = 0xFF; // group 100: entries 200 and 201, the end marker and 0xFF8
  raw[301] = 0x8F;
  raw[302] = 0xFF;
  raw[2043] = 0xCD; // group 681, the last whole one: entries 1362 and 1363
  raw[2044] = 0xEF;
  raw[2045] = 0x01;
  raw[2046] = 0x78; // the two bytes over give entry 1364 by the even rule
  raw[2047] = 0x56;
  std::vector<std::uint16_t> table(kClusterTableSize, 0xBEEF);

  decodeClusterTable(raw.data(), table.data());

  EXPECT_EQ(table[0], 0x234);
  EXPECT_EQ(table[1], 0xAB1);
  EXPECT_EQ(table[2], 0);
  EXPECT_EQ(table[199], 0);
  EXPECT_EQ(table[200], 0xFFF);
  EXPECT_EQ(table[201], 0xFF8);
  EXPECT_EQ(table[1362], 0xFCD);
  EXPECT_EQ(table[1363], 0x01E);
  EXPECT_EQ(table[1364], 0x678);
  for (int i = 1365; i < kClusterTableSize; ++i)
    ASSERT_EQ(table[i], 0xBEEF) << "entry " << i << " takes nothing from the disk";
}

TEST(FatTableTest, DecodesEveryEntryTheBuilderPacks) {
  FatDisk disk;
  for (int i = 0; i <= kFatLastTableEntry; ++i)
    disk.setLink(i, static_cast<std::uint16_t>((i * 37 + 5) & 0xFFF));
  std::vector<std::uint8_t> raw(disk.table(), disk.table() + kRawTableSize);
  std::vector<std::uint16_t> table(kClusterTableSize, 0);

  decodeClusterTable(raw.data(), table.data());

  for (int i = 0; i <= kFatLastTableEntry; ++i)
    ASSERT_EQ(table[i], (i * 37 + 5) & 0xFFF) << "entry " << i;
}

// ---------------------------------------------------------------------------------------------
// One file along one chain. Every cluster of the disk holds bytes of its own (its number first),
// so the expected file is told as runs of the disk buffer, cluster by cluster.

struct Span {
  int cluster;
  std::size_t count;
};

struct ChainCase {
  const char* label;
  std::uint16_t start;
  std::int32_t size;
  std::vector<std::pair<int, std::uint16_t>> links; // raw table entries
  std::vector<Span> content;                        // the file, as runs of the disk buffer
  bool broken;                                      // the broken-cluster message
};

const ChainCase kChainCases[] = {
    {"OneClusterPartly", 20, 700, {{20, 0xFFF}}, {{20, 700}}, false},
    {"OneByte", 20, 1, {{20, 0xFFF}}, {{20, 1}}, false},
    {"OneClusterExactly", 20, 1024, {{20, 0xFFF}}, {{20, 1024}}, false},
    {"TwoClustersExactly", 20, 2048, {{20, 35}, {35, 0xFFF}}, {{20, 1024}, {35, 1024}}, false},
    // Size a multiple of 1024 and one cluster more: the tail is 0 bytes long.
    {"OneClusterMoreThanTheSize",
     20,
     2048,
     {{20, 33}, {33, 47}, {47, 0xFFF}},
     {{20, 1024}, {33, 1024}},
     false},
    {"ThreeClustersAndTail952",
     30,
     3000,
     {{30, 25}, {25, 40}, {40, 0xFFF}},
     {{30, 1024}, {25, 1024}, {40, 952}},
     false},
    // The chain ends before the size is covered: the tail runs on in logical-sector order, here
    // from sector 8 of track index 2 into track index 3, whatever the table says of 15 and 16.
    {"OneClusterTailRunsOn",
     14,
     3000,
     {{14, 0xFFF}, {15, 0x200}, {16, 0xFF8}},
     {{14, 3000}},
     false},
    {"TwoClustersTailRunsOn",
     100,
     5000,
     {{100, 200}, {200, 0xFFF}},
     {{100, 1024}, {200, 3976}},
     false},
    // 1223 to 1230 lie in the buffer slot no track fills: zero bytes, no message.
    {"ThroughTheUnfilledSlot",
     1220,
     11 * 1024,
     {{1220, 1221},
      {1221, 1222},
      {1222, 1223},
      {1223, 1224},
      {1224, 1225},
      {1225, 1226},
      {1226, 1227},
      {1227, 1228},
      {1228, 1229},
      {1229, 1230},
      {1230, 0xFFF}},
     {{1220, 11 * 1024}},
     false},
    {"LinkTo1230Accepted", 1222, 2048, {{1222, 1230}, {1230, 0xFFF}}, {{1222, 2048}}, false},
    {"LinkTo1231Refused", 1222, 2048, {{1222, 1231}, {1231, 0xFFF}}, {{1222, 1024}}, true},
    // Only 0xFFF ends a chain; the other reserved values are links out of range.
    {"LinkFF8", 60, 3000, {{60, 61}, {61, 0xFF8}}, {{60, 1024}, {61, 1024}}, true},
    {"LinkFF7", 62, 1500, {{62, 0xFF7}}, {{62, 1024}}, true},
    {"LinkFFE", 62, 1500, {{62, 0xFFE}}, {{62, 1024}}, true},
    // A link of 0 leads to cluster 0: the table's first sector as stored.
    {"LinkOfZero", 70, 1500, {{70, 0}, {0, 0xFFF}}, {{70, 1024}, {0, 476}}, false},
    // Links back to a cluster already written end the chain as a link out of range would.
    {"SelfLink", 80, 5000, {{80, 80}}, {{80, 1024}}, true},
    {"Loop",
     90,
     10000,
     {{90, 150}, {150, 91}, {91, 90}},
     {{90, 1024}, {150, 1024}, {91, 1024}},
     true},
    {"LoopIntoTheMiddle", 300, 10000, {{300, 301}, {301, 302}, {302, 301}}, {{300, 3072}}, true},
    // A first cluster out of range: nothing written, the message, the file closed and stamped.
    {"Start1231", 1231, 100, {{1231, 0xFFF}}, {}, true},
    {"Start8000", 0x8000, 100, {}, {}, true},
    {"StartFFFF", 0xFFFF, 100, {}, {}, true},
    {"Start1230", 1230, 1024, {{1230, 0xFFF}}, {{1230, 1024}}, false},
    // A tail that would run past the disk buffer stops at its end.
    {"TailStopsAtBufferEnd", 1220, 20000, {{1220, 0xFFF}}, {{1220, 11 * 1024}}, false},
    {"TailFromLastClusterStopsAtBufferEnd", 1230, 3000, {{1230, 0xFFF}}, {{1230, 1024}}, false},
    // More clusters than the size needs, or a negative size: the whole clusters stay, no tail.
    {"ChainLongerThanSize",
     120,
     1000,
     {{120, 121}, {121, 122}, {122, 0xFFF}},
     {{120, 2048}},
     false},
    {"SizeMinusOne", 100, -1, {{100, 101}, {101, 0xFFF}}, {{100, 1024}}, false},
    {"SizeMinimum", 110, INT32_MIN, {{110, 0xFFF}}, {}, false},
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.label; }

class FatChainTest : public testing::TestWithParam<ChainCase> {};

TEST_P(FatChainTest, WritesWholeClustersThenTheTail) {
  const ChainCase& c = GetParam();
  FatDisk disk;
  disk.fillClusters();
  for (const auto& [cluster, value] : c.links)
    disk.setLink(cluster, value);
  disk.setEntry(0, fileEntry("FILE", "BIN", c.start, c.size));
  Bytes expected;
  for (const Span& span : c.content) {
    const Bytes part = disk.diskBytes(span.cluster, span.count);
    expected.insert(expected.end(), part.begin(), part.end());
  }

  const FatRun run = runFat({disk.toD88("CHAINS")});

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, header("CHAINS", "000") + columns("FILE.BIN", c.size) + "\n");
  EXPECT_EQ(run.result.err, c.broken ? kBrokenChain : "");
  EXPECT_EQ(treeListing(run.tree), "000/\n000/FILE.BIN\n");
  expectFile(run.tree, "000/FILE.BIN", expected, entryStamp());
}

INSTANTIATE_TEST_SUITE_P(Chains, FatChainTest, testing::ValuesIn(kChainCases),
                         [](const testing::TestParamInfo<ChainCase>& param) {
                           return std::string(param.param.label);
                         });

// ---------------------------------------------------------------------------------------------
// The directory walk.

TEST(FatDirectoryTest, ListsEveryEntryInUseAndExtractsTheFiles) {
  const std::string sjisName = "\x83Q\x81[\x83\x80"; // ゲーム
  FatDisk disk;
  const Bytes readme = patternBytes(3000, 1);
  const Bytes system = patternBytes(100, 2);
  const Bytes slashed = patternBytes(10, 3);
  const Bytes sjis = patternBytes(20, 4);
  const Bytes undated = patternBytes(5, 5);
  disk.writeFile({30, 31, 32}, readme);
  disk.writeFile({41}, system);
  disk.writeFile({42}, slashed);
  disk.writeFile({43}, sjis);
  disk.writeFile({44}, undated);
  disk.setEntry(0, fileEntry("GAMEDISK", "", 0, 0, Volume));
  Bytes deleted = fileEntry("DELETED", "TXT", 41, 100);
  deleted[0] = 0xE5;
  disk.setEntry(1, deleted);
  disk.setEntry(2, fileEntry("README", "TXT", 30, 3000));
  disk.setEntry(3, fileEntry("SUBDIR", "", 40, 0, Directory));
  disk.setEntry(4, fileEntry("SYSTEM", "SYS", 41, 100, System | Hidden | ReadOnly));
  disk.setEntry(5, deleted);
  disk.setEntry(6, fileEntry("A/B", "BIN", 42, 10, 0));
  disk.setEntry(7, fileEntry(sjisName, "DAT", 43, 20, Archive | ReadOnly));
  disk.setEntry(8, fileEntry("EMPTY", "", 0, 0));
  disk.setEntry(9, dosEntry("NODATE", "BIN", Archive, 0, 0, 44, 5));
  disk.setEntry(10, Bytes(32, 0)); // the end of the directory
  disk.setEntry(11, fileEntry("LATER", "BIN", 30, 3000));

  const std::string expectedOut = "\n[WALK] -> 000\n"
                                  "GAMEDISK            0 1991/05/12 23:59:58 V    \n"
                                  "README.TXT       3000 1991/05/12 23:59:58 A    \n"
                                  "SUBDIR              0 1991/05/12 23:59:58 D    \n"
                                  "SYSTEM.SYS        100 1991/05/12 23:59:58 S H R   \n"
                                  "A/B.BIN            10 1991/05/12 23:59:58    \n"
                                  "\x83Q\x81[\x83\x80.DAT         20 1991/05/12 23:59:58 A R   \n"
                                  "EMPTY               0 1991/05/12 23:59:58 A    \n"
                                  "NODATE.BIN          5 1980/00/00 00:00:00 A    \n";

  for (const char* tz : {"UTC0", "JST-9", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
    SCOPED_TRACE(tz);
    RunOptions options;
    options.tz = tz;
    const std::time_t before = std::time(nullptr);
    const FatRun run = runFat({disk.toD88("WALK")}, {"IMAGE"}, options);

    SCOPED_TRACE(run.result.command);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out, expectedOut);
    EXPECT_EQ(run.result.err, "");
    // No folder for the directory entry, no file for the label, the deleted entries or the entry
    // after the end; "/" in a name becomes "_" on the host only.
    EXPECT_EQ(treeListing(run.tree),
              "000/\n000/A_B.BIN\n000/EMPTY\n000/NODATE.BIN\n000/README.TXT\n"
              "000/SYSTEM.SYS\n000/" +
                  nameOnDisk(sjisName) + ".DAT\n");
    const std::int64_t stamp = entryStamp(tz);
    expectFile(run.tree, "000/README.TXT", readme, stamp);
    expectFile(run.tree, "000/SYSTEM.SYS", system, stamp);
    expectFile(run.tree, "000/A_B.BIN", slashed, stamp);
    expectFile(run.tree, "000/" + nameOnDisk(sjisName) + ".DAT", sjis, stamp);
    // Month 0 and day 0 carry over: 1979-11-30 00:00:00 local time.
    expectFile(run.tree, "000/NODATE.BIN", undated, localStamp(tz, 1979, 11, 30, 0, 0, 0));
    EXPECT_EQ(localStamp(tz, 1980, 0, 0, 0, 0, 0), localStamp(tz, 1979, 11, 30, 0, 0, 0));

    // The empty file keeps the time it was made at, not the entry's.
    const auto empty = run.tree.find("000/EMPTY");
    ASSERT_NE(empty, run.tree.end());
    EXPECT_EQ(empty->second.bytes, "");
    EXPECT_NE(empty->second.mtime, stamp);
    EXPECT_GE(empty->second.mtime, static_cast<std::int64_t>(before));
  }
}

TEST(FatDirectoryTest, HostFileKeepsNoAttribute) {
  FatDisk disk;
  disk.writeFile({20}, patternBytes(10, 1));
  disk.setEntry(0, fileEntry("LOCKED", "", 20, 10, ReadOnly | Hidden | System));
  TempDir work;

  const FatRun run = runFat(work, {disk.toD88("ATTR")});

  EXPECT_EQ(run.result.status, 0);
  struct stat info;
  ASSERT_EQ(::stat((work / "000/LOCKED").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IWUSR, 0u);
}

TEST(FatDirectoryTest, LooksAtAll192EntriesAndNoFurther) {
  FatDisk disk;
  std::string expectedOut = header("FULL", "000");
  std::string expectedTree = "000/\n";
  // What would be entry 192 is the first sector after the directory, cluster 10: it holds an
  // entry in use, which the walk must not reach.
  disk.putClusters(10, fileEntry("AFTER", "BIN", 11, 1));
  for (int i = 0; i < kFatDirectoryEntries; ++i) {
    char name[9];
    std::snprintf(name, sizeof name, "F%03d", i);
    const int cluster = 10 + i;
    const std::int32_t size = 32 + i;
    if (i > 0) disk.putClusters(cluster, patternBytes(static_cast<std::size_t>(size), i));
    disk.setLink(cluster, kFatEndOfChain);
    disk.setEntry(i, fileEntry(name, "BIN", static_cast<std::uint16_t>(cluster), size));
    expectedOut += columns(std::string(name) + ".BIN", size) + "\n";
    expectedTree += "000/" + std::string(name) + ".BIN\n";
  }

  const FatRun run = runFat({disk.toD88("FULL")});

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, expectedOut);
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(treeListing(run.tree), expectedTree);
  expectFile(run.tree, "000/F000.BIN", fileEntry("AFTER", "BIN", 11, 1), entryStamp());
  expectFile(run.tree, "000/F191.BIN", patternBytes(32 + 191, 191), entryStamp());
}

// Broken chains report on standard error in the middle of their listing line: the message's own
// newlines, then the line's "\n". The walk goes on with the next entry.
TEST(FatDirectoryTest, BrokenChainMessageStandsInsideTheListingLine) {
  FatDisk disk;
  disk.fillClusters();
  disk.setLink(80, 80);
  disk.setLink(60, 0xFF8);
  disk.setChain({20, 21, 22}); // read twice: each chain starts with no cluster visited
  disk.setEntry(0, fileEntry("LOOP", "BIN", 80, 5000));
  disk.setEntry(1, fileEntry("FAR", "BIN", 0xFFFF, 10));
  disk.setEntry(2, fileEntry("GOOD", "BIN", 20, 3000));
  disk.setEntry(3, fileEntry("BAD", "BIN", 60, 1500));
  disk.setEntry(4, fileEntry("LAST", "BIN", 20, 3000));
  RunOptions merged;
  merged.mergeOutput = true;

  const FatRun run = runFat({disk.toD88("MIXED")}, {"IMAGE"}, merged);

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, header("MIXED", "000") + columns("LOOP.BIN", 5000) + kBrokenChain +
                                "\n" + columns("FAR.BIN", 10) + kBrokenChain + "\n" +
                                columns("GOOD.BIN", 3000) + "\n" + columns("BAD.BIN", 1500) +
                                kBrokenChain + "\n" + columns("LAST.BIN", 3000) + "\n");
  expectFile(run.tree, "000/LOOP.BIN", disk.diskBytes(80, 1024), entryStamp());
  expectFile(run.tree, "000/FAR.BIN", {}, entryStamp());
  expectFile(run.tree, "000/GOOD.BIN", disk.diskBytes(20, 3000), entryStamp());
  expectFile(run.tree, "000/BAD.BIN", disk.diskBytes(60, 1024), entryStamp());
  expectFile(run.tree, "000/LAST.BIN", disk.diskBytes(20, 3000), entryStamp());
}

// ---------------------------------------------------------------------------------------------
// Images of several disks: the buffers are reused and never cleared.

TEST(FatDisksTest, AnEmptyDirectoryListsNothing) {
  FatDisk empty;
  empty.writeFile({20}, patternBytes(10, 1));
  empty.setEntry(1, fileEntry("HIDDEN", "BIN", 20, 10)); // after the end at entry 0
  FatDisk next;
  next.writeFile({20}, patternBytes(10, 2));
  next.setEntry(0, fileEntry("NEXT", "BIN", 20, 10));

  const FatRun run = runFat({empty.toD88("EMPTY"), next.toD88("NEXT")});

  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out,
            header("EMPTY", "000") + header("NEXT", "001") + columns("NEXT.BIN", 10) + "\n");
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(treeListing(run.tree), "000/\n001/\n001/NEXT.BIN\n");
  expectFile(run.tree, "001/NEXT.BIN", patternBytes(10, 2), entryStamp());
}

TEST(FatDisksTest, SectorsALaterDiskLacksKeepTheEarlierDisksBytes) {
  // Disk 0 fills every track. Disk 1 lacks track index 63 (clusters 495 to 502) and chains its
  // A.BIN anew. Disk 2 has no track at all: its table, directory and data are disk 1's, except
  // track index 63, which is still disk 0's.
  FatDisk first;
  first.fillClusters(1);
  first.setChain({20, 21});
  first.setChain({499});
  first.setEntry(0, fileEntry("A", "BIN", 20, 2048));
  first.setEntry(1, fileEntry("OLD", "BIN", 499, 1500));
  FatDisk second;
  second.fillClusters(2);
  second.flat.absentTracks.insert(63);
  second.setChain({20, 40});
  second.setChain({499});
  second.setChain({494});
  second.setEntry(0, fileEntry("A", "BIN", 20, 2048));
  second.setEntry(1, fileEntry("STALE", "BIN", 499, 3000));
  second.setEntry(2, fileEntry("MIXED", "BIN", 494, 2048));
  D88Disk third;
  third.name = "DISK-C";

  const FatRun run = runFat({first.toD88("DISK-A"), second.toD88("DISK-B"), third});

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 0);
  const std::string secondLines = columns("A.BIN", 2048) + "\n" + columns("STALE.BIN", 3000) +
                                  "\n" + columns("MIXED.BIN", 2048) + "\n";
  EXPECT_EQ(run.result.out, header("DISK-A", "000") + columns("A.BIN", 2048) + "\n" +
                                columns("OLD.BIN", 1500) + "\n" + header("DISK-B", "001") +
                                secondLines + header("DISK-C", "002") + secondLines);
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(treeListing(run.tree), "000/\n000/A.BIN\n000/OLD.BIN\n"
                                   "001/\n001/A.BIN\n001/MIXED.BIN\n001/STALE.BIN\n"
                                   "002/\n002/A.BIN\n002/MIXED.BIN\n002/STALE.BIN\n");
  expectFile(run.tree, "000/A.BIN", first.diskBytes(20, 2048), entryStamp());
  expectFile(run.tree, "000/OLD.BIN", first.diskBytes(499, 1500), entryStamp());
  const Bytes a = concat({second.diskBytes(20, 1024), second.diskBytes(40, 1024)});
  const Bytes stale = first.diskBytes(499, 3000);
  const Bytes mixed = concat({second.diskBytes(494, 1024), first.diskBytes(495, 1024)});
  for (const char* folder : {"001/", "002/"}) {
    SCOPED_TRACE(folder);
    expectFile(run.tree, std::string(folder) + "A.BIN", a, entryStamp());
    expectFile(run.tree, std::string(folder) + "STALE.BIN", stale, entryStamp());
    expectFile(run.tree, std::string(folder) + "MIXED.BIN", mixed, entryStamp());
  }
}

TEST(FatDisksTest, WithoutFoldersALaterDiskReplacesAFileOfTheSameName) {
  FatDisk first;
  first.fillClusters(1);
  first.setChain({20});
  first.setChain({21});
  first.setEntry(0, fileEntry("SAME", "BIN", 20, 100));
  first.setEntry(1, fileEntry("FIRST", "BIN", 21, 50));
  FatDisk second;
  second.fillClusters(2);
  second.setChain({30});
  second.setEntry(0, fileEntry("SAME", "BIN", 30, 200));

  const FatRun run = runFat({first.toD88("ONE"), second.toD88("TWO")}, {"IMAGE", "-d"});

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, columns("SAME.BIN", 100) + "\n" + columns("FIRST.BIN", 50) + "\n" +
                                columns("SAME.BIN", 200) + "\n");
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(treeListing(run.tree), "FIRST.BIN\nSAME.BIN\n");
  expectFile(run.tree, "SAME.BIN", second.diskBytes(30, 200), entryStamp());
  expectFile(run.tree, "FIRST.BIN", first.diskBytes(21, 50), entryStamp());
}

// A plain file where a disk's folder goes: that disk is passed over with a message, the next
// disk is extracted, and the run ends with status 1.
TEST(FatDisksTest, ADiskFolderThatCannotBeEnteredIsPassedOver) {
  // フォルダ 000 に移動できません.\n
  const std::string cannotEnter = "\x83t\x83H\x83\x8b\x83_ 000 \x82\xc9\x88\xda\x93\xae\x82\xc5"
                                  "\x82\xab\x82\xdc\x82\xb9\x82\xf1.\n";
  FatDisk first;
  first.writeFile({20}, patternBytes(10, 1));
  first.setEntry(0, fileEntry("FIRST", "BIN", 20, 10));
  FatDisk second;
  second.writeFile({20}, patternBytes(10, 2));
  second.setEntry(0, fileEntry("SECOND", "BIN", 20, 10));
  TempDir work;
  ASSERT_TRUE(writeBytesToFile(work / "000", {'x'}));
  RunOptions merged;
  merged.mergeOutput = true;

  const FatRun run = runFat(work, {first.toD88("ONE"), second.toD88("TWO")}, {"IMAGE"}, merged);

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.out, header("ONE", "000") + cannotEnter + header("TWO", "001") +
                                columns("SECOND.BIN", 10) + "\n");
  EXPECT_EQ(treeListing(run.tree), "000\n001/\n001/SECOND.BIN\n");
  expectFile(run.tree, "001/SECOND.BIN", patternBytes(10, 2), entryStamp());
}

TEST(FatDisksTest, SixtyFourDisksGetAFolderEach) {
  std::vector<D88Disk> disks;
  std::string expectedOut;
  for (int i = 0; i < 64; ++i) {
    FatDisk disk;
    for (int t = 0; t < 154; ++t) {
      if (t != 1 && t != 2) disk.flat.absentTracks.insert(t);
    }
    char text[16];
    std::snprintf(text, sizeof text, "disk %02d\n", i);
    disk.writeFile({2}, Bytes(text, text + 8)); // cluster 2: track index 1, sector 4
    std::snprintf(text, sizeof text, "D%02d", i);
    disk.setEntry(0, fileEntry(text, "TXT", 2, 8));
    char folder[8];
    std::snprintf(folder, sizeof folder, "%03d", i);
    disks.push_back(disk.toD88(std::string("IMAGE ") + folder));
    expectedOut += header(std::string("IMAGE ") + folder, folder) +
                   columns(std::string(text) + ".TXT", 8) + "\n";
  }

  const FatRun run = runFat(disks);

  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, expectedOut);
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(run.tree.size(), 128u);
  expectFile(run.tree, "063/D63.TXT", {'d', 'i', 's', 'k', ' ', '6', '3', '\n'}, entryStamp());
  expectFile(run.tree, "009/D09.TXT", {'d', 'i', 's', 'k', ' ', '0', '9', '\n'}, entryStamp());
}

// ---------------------------------------------------------------------------------------------
// The command line.

struct CommandCase {
  const char* label;
  std::vector<std::string> args; // "IMAGE" stands for the image path
  bool usage;                    // the two usage lines and status 1
  bool folders;                  // the file goes into 000 under a header line
};

const CommandCase kCommandCases[] = {
    {"NoArgument", {}, true, false},
    {"FourArguments", {"IMAGE", "a", "b", "c"}, true, false},
    {"ImageOnly", {"IMAGE"}, false, true},
    {"NoFolders", {"IMAGE", "-d"}, false, false},
    {"UpperCaseSwitchIsNoSwitch", {"IMAGE", "-D"}, false, true},
    {"OtherSecondArgumentIgnored", {"IMAGE", "x"}, false, true},
    // With three arguments no switch is recognised.
    {"ThreeArgumentsMakeFolders", {"IMAGE", "-d", "x"}, false, true},
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.label; }

class FatCommandLineTest : public testing::TestWithParam<CommandCase> {};

TEST_P(FatCommandLineTest, TakesTheImageAndAnOptionalSwitch) {
  const CommandCase& c = GetParam();
  FatDisk disk;
  disk.writeFile({20}, patternBytes(10, 1));
  disk.setEntry(0, fileEntry("ONE", "BIN", 20, 10));

  const FatRun run = runFat({disk.toD88("ARGS")}, c.args);

  SCOPED_TRACE(run.result.command);
  EXPECT_EQ(run.result.status, c.usage ? 1 : 0);
  if (c.usage) {
    EXPECT_EQ(run.result.out, "");
    EXPECT_EQ(run.result.err, "Usage: " + typedProgramName(toolPath("d88fat")) +
                                  " [D88 file]\n       -d : not make sub directory\n");
    EXPECT_TRUE(run.tree.empty()) << treeListing(run.tree);
    return;
  }
  EXPECT_EQ(run.result.err, "");
  const std::string line = columns("ONE.BIN", 10) + "\n";
  EXPECT_EQ(run.result.out, c.folders ? header("ARGS", "000") + line : line);
  const std::string path = c.folders ? "000/ONE.BIN" : "ONE.BIN";
  EXPECT_EQ(treeListing(run.tree), c.folders ? "000/\n000/ONE.BIN\n" : "ONE.BIN\n");
  expectFile(run.tree, path, patternBytes(10, 1), entryStamp());
}

INSTANTIATE_TEST_SUITE_P(Arguments, FatCommandLineTest, testing::ValuesIn(kCommandCases),
                         [](const testing::TestParamInfo<CommandCase>& param) {
                           return std::string(param.param.label);
                         });

TEST(FatCommandLineTest, ImageThatCannotBeOpened) {
  TempDir work;
  const RunResult result = runProgram(toolPath("d88fat"), {"missing.d88"}, work.path());

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kCannotOpen);
  EXPECT_TRUE(readTree(work.path()).empty());
}

// ---------------------------------------------------------------------------------------------
// A file that cannot be created, written or closed ends the run at once with status 1: no later
// entry, no later disk.

struct WriteFailureCase {
  const char* label;
  Bytes entry;        // the entry of the file that fails, entry 0 of disk 0
  std::string listed; // its listing line up to the three blanks
  // Makes the host refuse the file: a folder or a link put where the file goes, in 000/.
  void (*prepare)(const std::string& folder);
  std::string after; // standard output after the line's columns, before the message
};

void nothing(const std::string&) {}
void folderInItsPlace(const std::string& folder) {
  ASSERT_EQ(::mkdir((folder + "/TAKEN.BIN").c_str(), 0777), 0);
}
void linkToFullDevice(const std::string& folder) {
  ASSERT_EQ(::symlink("/dev/full", (folder + "/FULL.BIN").c_str()), 0);
}

const WriteFailureCase kWriteFailureCases[] = {
    {"NameOfTheParentFolder", fileEntry("..", "", 20, 100), columns("..", 100), nothing, ""},
    {"EmptyName", fileEntry("", "", 20, 100), columns("", 100), nothing, ""},
    {"FolderInPlaceOfTheFile", fileEntry("TAKEN", "BIN", 20, 100), columns("TAKEN.BIN", 100),
     folderInItsPlace, ""},
    // 64 whole clusters overflow the stream's buffer: a write fails before the line's newline.
    {"DeviceFullDuringTheChain", fileEntry("FULL", "BIN", 20, 65 * 1024),
     columns("FULL.BIN", 65 * 1024), linkToFullDevice, ""},
    // The tail stays in the stream's buffer until the close, which fails after the newline.
    {"DeviceFullAtTheClose", fileEntry("FULL", "BIN", 90, 100), columns("FULL.BIN", 100),
     linkToFullDevice, "\n"},
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.label; }

class FatWriteFailureTest : public testing::TestWithParam<WriteFailureCase> {};

TEST_P(FatWriteFailureTest, EndsTheRunWithStatusOne) {
  const WriteFailureCase& c = GetParam();
  struct stat device;
  if (c.prepare == linkToFullDevice &&
      (::stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode))) {
    GTEST_SKIP() << "no /dev/full on this host";
  }
  // A Windows program writes to the device through its emulation layer, which hides the error.
  if (c.prepare == linkToFullDevice && toolsRunWrapped()) {
    GTEST_SKIP() << "/dev/full is a POSIX device";
  }
  FatDisk disk;
  disk.fillClusters();
  std::vector<int> chain;
  for (int n = 20; n < 85; ++n)
    chain.push_back(n);
  disk.setChain(chain); // 65 clusters from 20 on
  disk.setChain({90});
  disk.setEntry(0, c.entry);
  disk.setEntry(1, fileEntry("NEXT", "BIN", 84, 10));
  FatDisk later;
  later.setChain({20});
  later.setEntry(0, fileEntry("LATER", "BIN", 20, 10));
  const std::vector<D88Disk> disks = {disk.toD88("FAIL"), later.toD88("LATER")};

  for (const bool merge : {false, true}) {
    SCOPED_TRACE(merge ? "merged" : "apart");
    TempDir work;
    ASSERT_EQ(::mkdir((work / "000").c_str(), 0777), 0);
    c.prepare(work / "000");
    RunOptions options;
    options.mergeOutput = merge;

    TempDir images;
    const std::string image = images / "image.d88";
    ASSERT_TRUE(writeBytesToFile(image, buildD88(disks)));

    FatRun run;
    run.result = runProgram(toolPath("d88fat"), {image}, work.path(), options);
    // The link to the full device would read without end.
    (void)::unlink((work / "000/FULL.BIN").c_str());
    run.tree = readTree(work.path());

    SCOPED_TRACE(run.result.command);
    EXPECT_EQ(run.result.status, 1);
    const std::string out = header("FAIL", "000") + c.listed + c.after;
    if (merge) {
      EXPECT_EQ(run.result.out, out + kCannotWrite);
    } else {
      EXPECT_EQ(run.result.out, out);
      EXPECT_EQ(run.result.err, kCannotWrite);
    }
    EXPECT_EQ(run.tree.count("000/NEXT.BIN"), 0u) << treeListing(run.tree);
    EXPECT_EQ(run.tree.count("001"), 0u) << treeListing(run.tree);
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, FatWriteFailureTest, testing::ValuesIn(kWriteFailureCases),
                         [](const testing::TestParamInfo<WriteFailureCase>& param) {
                           return std::string(param.param.label);
                         });

} // namespace
