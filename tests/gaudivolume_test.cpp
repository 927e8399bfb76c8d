#include "gaudivolume.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"
#include "gaudidisk.h"
#include "runtool.h"

namespace {

// Two stored times and what they stand for.
constexpr std::uint16_t kTime1 = 0xBF7D, kDate1 = 0x16AC; // 1991/05/12 23:59:58
constexpr ListedTime kListed1 = {1991, 5, 12, 23, 59, 58};
constexpr std::int64_t kStamp1Utc = 674092798;
const std::uint16_t kTime2 = dosTime(10, 30, 0), kDate2 = dosDate(1989, 7, 14);
constexpr ListedTime kListed2 = {1989, 7, 14, 10, 30, 0};
constexpr std::int64_t kStamp2Utc = 616415400;

std::map<std::string, TreeItem> runOk(const ToolWorkspace& ws, const std::vector<D88Disk>& disks,
                                      const std::vector<std::string>& extra,
                                      const std::string& expectedOut,
                                      const RunOptions& options = {}) {
  EXPECT_TRUE(ws.writeImage(disks));
  std::vector<std::string> args = {ws.image};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult result = ws.run("d88vol", args, options);
  EXPECT_EQ(result.out, expectedOut) << result.command;
  EXPECT_EQ(result.err, "") << result.command;
  EXPECT_EQ(result.status, 0) << result.command;
  // Read before anything else looks at the files: reading them moves their access times.
  std::map<std::string, TreeItem> tree = ws.outputTree();
  EXPECT_EQ(ws.strayItems(), "") << result.command;
  return tree;
}

void expectFile(const std::map<std::string, TreeItem>& tree, const std::string& path,
                const Bytes& bytes, std::int64_t stamp) {
  SCOPED_TRACE(path);
  const auto item = tree.find(path);
  ASSERT_NE(item, tree.end()) << treeListing(tree);
  EXPECT_FALSE(item->second.directory);
  EXPECT_EQ(item->second.bytes.size(), bytes.size());
  EXPECT_TRUE(item->second.bytes == toString(bytes)) << hexDump(item->second.bytes.substr(0, 64));
  EXPECT_EQ(item->second.mtime, stamp);
  EXPECT_EQ(item->second.atime, stamp);
}

Bytes sliceOf(const FlatDisk& disk, int logicalSector, std::size_t size) {
  const auto from = disk.bytes.begin() + static_cast<std::ptrdiff_t>(logicalSector) * 1024;
  return Bytes(from, from + static_cast<std::ptrdiff_t>(size));
}

TEST(GaudiVolumeTest, ListsAndExtractsAVolume) {
  GaudiDisk disk('A');
  const Bytes readme = patternBytes(16, 1);
  const Bytes game = patternBytes(5000, 2);
  disk.addFile(1, "README", "TXT", gaudiStart(12), readme, 0x20, kTime1, kDate1);
  disk.addFile(2, "GAME", "COM", gaudiStart(13), game, 0x21, kTime2, kDate2);
  ToolWorkspace ws;
  // Written out once in full, so that the listing format itself is pinned down.
  const auto tree = runOk(ws, {disk.toD88("GAME DISK 1")}, {},
                          "\n[GAME DISK 1] -> 000\n"
                          "Disk A \x82\xf0\x94" // を認識しました.
                          "F\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n"
                          "README.TXT   trk=  1 sec=5 size=0010 1991/05/12 23:59:58 A \n"
                          "GAME.COM     trk=  1 sec=6 size=1388 1989/07/14 10:30:00 A R\n");
  EXPECT_EQ(treeListing(tree), "000/\n000/GAME.COM\n000/README.TXT\n");
  expectFile(tree, "000/README.TXT", readme, kStamp1Utc);
  expectFile(tree, "000/GAME.COM", game, kStamp2Utc); // logical 13 to 17, across tracks 1 and 2
}

struct SignatureCase {
  const char head[7]; // bytes 0 to 5 of slot 0
  bool recognised;
};

TEST(GaudiVolumeTest, OnlyTheExactSignatureIsRecognised) {
  const SignatureCase cases[] = {
      {"GAUDIA", true},   {"GAUDIz", true},  {"GAUDI1", true},  {"gaudiA", false},
      {"GaudiA", false},  {"GAUDiA", false}, {"XAUDIA", false}, {"GXUDIA", false},
      {"GAXDIA", false},  {"GAUXIA", false}, {"GAUDXA", false}, {"GAUD A", false},
      {"\0AUDIA", false}, {" GAUDI", false},
  };
  const Bytes data = patternBytes(30, 3);
  for (const SignatureCase& c : cases) {
    SCOPED_TRACE(c.head);
    GaudiDisk disk('A');
    disk.setSlot(0, Bytes(c.head, c.head + 6));
    disk.addFile(1, "FILE", "BIN", gaudiStart(12), data, 0x20, kTime1, kDate1);
    ToolWorkspace ws;
    const std::string listing =
        recognisedLine(c.head[5]) + gaudiListingLine("FILE.BIN", 1, 5, 30, kListed1, "A ");
    const auto tree =
        runOk(ws, {disk.toD88("D")}, {}, diskHeader("D", "000") + (c.recognised ? listing : ""));
    EXPECT_EQ(treeListing(tree), c.recognised ? "000/\n000/FILE.BIN\n" : "000/\n");
  }
}

TEST(GaudiVolumeTest, SlotZeroIsNeverListed) {
  GaudiDisk disk('Q');
  // The header slot laid out like an entry in use: only its first six bytes count.
  Bytes header = dosEntry("GAUDIQ", "TXT", 0x20, kTime1, kDate1, gaudiStart(12), 100);
  disk.setSlot(0, header);
  disk.addFile(1, "ONLY", "BIN", gaudiStart(13), patternBytes(10, 4), 0x01, kTime2, kDate2);
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {},
                          diskHeader("D", "000") + recognisedLine('Q') +
                              gaudiListingLine("ONLY.BIN", 1, 6, 10, kListed2, "R"));
  EXPECT_EQ(treeListing(tree), "000/\n000/ONLY.BIN\n");
}

TEST(GaudiVolumeTest, DeletedEntriesAreSkippedAndAZeroMarkerEndsTheDirectory) {
  GaudiDisk disk('A');
  disk.addFile(1, "FIRST", "BIN", gaudiStart(12), patternBytes(10, 5), 0x20, kTime1, kDate1);
  disk.addFile(2,
               "\xE5"
               "ELETED",
               "BIN", gaudiStart(13), patternBytes(10, 6), 0x20, kTime1, kDate1);
  disk.addFile(3, "SECOND", "BIN", gaudiStart(14), patternBytes(10, 7), 0x20, kTime2, kDate2);
  disk.addFile(4, std::string("\0NDED", 5), "BIN", gaudiStart(15), patternBytes(10, 8), 0x20,
               kTime1, kDate1);
  disk.addFile(5, "LATER", "BIN", gaudiStart(16), patternBytes(10, 9), 0x20, kTime1, kDate1);
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {},
                          diskHeader("D", "000") + recognisedLine('A') +
                              gaudiListingLine("FIRST.BIN", 1, 5, 10, kListed1, "A ") +
                              gaudiListingLine("SECOND.BIN", 1, 7, 10, kListed2, "A "));
  EXPECT_EQ(treeListing(tree), "000/\n000/FIRST.BIN\n000/SECOND.BIN\n");
}

TEST(GaudiVolumeTest, AllHundredAndTwentySevenSlotsAreRead) {
  GaudiDisk disk('A', 18);
  // Where a 128th slot would be (logical sector 12) lies an entry-like record: it is file data.
  disk.put(12, dosEntry("EXTRA", "BIN", 0x20, kTime1, kDate1, gaudiStart(12), 10));
  std::string expected = diskHeader("D", "000") + recognisedLine('A');
  std::string listing = "000/\n";
  for (int s = 1; s < kGaudiSlotCount; ++s) {
    char name[8];
    std::snprintf(name, sizeof name, "F%03d", s);
    const int logical = 12 + s;
    const std::uint16_t date = dosDate(1990, 1 + s % 12, 1 + s % 28);
    disk.addFile(s, name, "BIN", gaudiStart(logical), patternBytes(16, s), 0x20,
                 dosTime(s % 24, s % 60, 0), date);
    expected += gaudiListingLine(std::string(name) + ".BIN", logical / 8, logical % 8 + 1, 16,
                                 {1990, 1 + s % 12, 1 + s % 28, s % 24, s % 60, 0}, "A ");
    listing += "000/" + std::string(name) + ".BIN\n";
  }
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {}, expected);
  EXPECT_EQ(treeListing(tree), listing);
  expectFile(tree, "000/F127.BIN", patternBytes(16, 127), 650790420); // 1990-08-16 07:07:00
}

TEST(GaudiVolumeTest, SizeIsTheLowSixteenBits) {
  GaudiDisk disk('A', 11);
  const Bytes big = patternBytes(65535, 10);
  disk.addFile(1, "EMPTY", "", gaudiStart(12), {}, 0x20, kTime1, kDate1);
  disk.addFile(2, "BIG", "", gaudiStart(13), big, 0x20, kTime2, kDate2);
  disk.logical(13)[65535] = 0xFF; // the last byte of the 64th sector is not part of the file
  // Bytes 30 and 31 hold high bits that are no part of the size.
  disk.setSlot(3, dosEntry("HIGH", "", 0x20, kTime1, kDate1, gaudiStart(80), 0x00010010));
  disk.put(80, patternBytes(1024, 11));
  disk.setSlot(4, dosEntry("NONE", "", 0x20, kTime2, kDate2, gaudiStart(81), 0xFFFF0000));
  disk.put(81, patternBytes(1024, 12));
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {},
                          diskHeader("D", "000") + recognisedLine('A') +
                              gaudiListingLine("EMPTY", 1, 5, 0x0000, kListed1, "A ") +
                              gaudiListingLine("BIG", 1, 6, 0xFFFF, kListed2, "A ") +
                              gaudiListingLine("HIGH", 10, 1, 0x0010, kListed1, "A ") +
                              gaudiListingLine("NONE", 10, 2, 0x0000, kListed2, "A "));
  EXPECT_EQ(treeListing(tree), "000/\n000/BIG\n000/EMPTY\n000/HIGH\n000/NONE\n");
  expectFile(tree, "000/EMPTY", {}, kStamp1Utc); // created empty and stamped
  expectFile(tree, "000/BIG", big, kStamp2Utc);  // 63 sectors and 1023 bytes
  expectFile(tree, "000/HIGH", patternBytes(16, 11), kStamp1Utc);
  expectFile(tree, "000/NONE", {}, kStamp2Utc);
}

TEST(GaudiVolumeTest, FilesRunOnAcrossTracksFromSectorEight) {
  GaudiDisk disk('A', 6);
  for (int logical = 12; logical < 48; ++logical)
    disk.put(logical, patternBytes(1024, logical));
  struct Placement {
    const char* name;
    std::uint16_t start;
    std::size_t size;
    int track, sector;
  };
  const Placement placements[] = {
      {"START0", 0, 100, 1, 2},    // logical 9: the directory's second sector
      {"START6", 6, 2048, 1, 8},   // logical 15 and 16: track index 1 to 2, same cylinder
      {"START22", 22, 1500, 3, 8}, // logical 31 and 32: head 1 to cylinder 2, head 0
      {"START23", 23, 3000, 4, 1}, // the listing shows the track index, not the cylinder
      {"START30", 30, 4100, 4, 8}, // logical 39 to 43: five sectors over two tracks
  };
  std::string expected = diskHeader("D", "000") + recognisedLine('A');
  int slot = 1;
  for (const Placement& p : placements) {
    disk.setSlot(slot++, dosEntry(p.name, "", 0x20, kTime1, kDate1, p.start,
                                  static_cast<std::uint32_t>(p.size)));
    expected +=
        gaudiListingLine(p.name, p.track, p.sector, static_cast<unsigned>(p.size), kListed1, "A ");
  }
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {}, expected);
  for (const Placement& p : placements)
    expectFile(tree, std::string("000/") + p.name, sliceOf(disk, p.start + 9, p.size), kStamp1Utc);
}

TEST(GaudiVolumeTest, BytesTheDiskDoesNotDeliverAreWrittenAsZeros) {
  GaudiDisk disk('A', 5);
  const Bytes first = patternBytes(3000, 13); // fills the file buffer with non-zero bytes
  const Bytes second = patternBytes(3000, 14);
  disk.addFile(1, "FULL", "", gaudiStart(16), first, 0x20, kTime1, kDate1);
  disk.addFile(2, "SHORT", "", gaudiStart(24), second, 0x20, kTime2, kDate2);
  // Far beyond the last track of any disk: nothing is delivered at all.
  disk.setSlot(3, dosEntry("FAR", "", 0x20, kTime1, kDate1, 0xFFF0, 2500));
  D88Disk d88 = disk.toD88("D");
  auto& records = d88.tracks[3].records; // logical 24 to 31
  records.erase(std::remove_if(records.begin(), records.end(),
                               [](const SectorRecord& r) { return r.r == 2; }),
                records.end());
  ToolWorkspace ws;
  const auto tree = runOk(ws, {d88}, {},
                          diskHeader("D", "000") + recognisedLine('A') +
                              gaudiListingLine("FULL", 2, 1, 3000, kListed1, "A ") +
                              gaudiListingLine("SHORT", 3, 1, 3000, kListed2, "A ") +
                              gaudiListingLine("FAR", 8191, 2, 2500, kListed1, "A "));
  expectFile(tree, "000/FULL", first, kStamp1Utc);
  Bytes shortFile(second.begin(), second.begin() + 1024);
  shortFile.resize(3000, 0); // full size, and zeros where the missing sector was and after it
  expectFile(tree, "000/SHORT", shortFile, kStamp2Utc);
  expectFile(tree, "000/FAR", Bytes(2500, 0), kStamp1Utc);
}

TEST(GaudiVolumeTest, VolumeLabelsAndDirectoriesAreListedOnly) {
  GaudiDisk disk('A');
  // A directory's sector holding entry-like bytes: it is not followed.
  disk.put(20, dosEntry("INSIDE", "TXT", 0x20, kTime1, kDate1, gaudiStart(21), 10));
  disk.addFile(1, "LABEL", "", gaudiStart(12), patternBytes(10, 15), 0x08, kTime1, kDate1);
  disk.setSlot(2, dosEntry("SUBDIR", "", 0x10, kTime1, kDate1, gaudiStart(20), 1024));
  disk.addFile(3, "ARCLABEL", "", gaudiStart(13), patternBytes(10, 16), 0x28, kTime2, kDate2);
  disk.addFile(4, "ALLBITS", "", gaudiStart(14), patternBytes(10, 17), 0x3F, kTime2, kDate2);
  disk.addFile(5, "SYSTEM", "COM", gaudiStart(15), patternBytes(10, 18), 0x07, kTime1, kDate1);
  disk.addFile(6, "HIGHBITS", "", gaudiStart(16), patternBytes(10, 19), 0xC0, kTime2, kDate2);
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {},
                          diskHeader("D", "000") + recognisedLine('A') +
                              gaudiListingLine("LABEL", 1, 5, 10, kListed1, "V ") +
                              gaudiListingLine("SUBDIR", 2, 5, 1024, kListed1, "D ") +
                              gaudiListingLine("ARCLABEL", 1, 6, 10, kListed2, "A V ") +
                              gaudiListingLine("ALLBITS", 1, 7, 10, kListed2, "A D V S H R") +
                              gaudiListingLine("SYSTEM.COM", 1, 8, 10, kListed1, "S H R") +
                              gaudiListingLine("HIGHBITS", 2, 1, 10, kListed2, ""));
  EXPECT_EQ(treeListing(tree), "000/\n000/HIGHBITS\n000/SYSTEM.COM\n");
  expectFile(tree, "000/SYSTEM.COM", patternBytes(10, 18), kStamp1Utc);
  expectFile(tree, "000/HIGHBITS", patternBytes(10, 19), kStamp2Utc);
  // No attribute is carried over: the read-only, hidden system file stays writable.
  struct stat info;
  ASSERT_EQ(::stat((ws.work + "/000/SYSTEM.COM").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IWUSR, 0u);
}

TEST(GaudiVolumeTest, TheLaterOfTwoEqualNamesWins) {
  GaudiDisk disk('A');
  disk.addFile(1, "SAME", "TXT", gaudiStart(12), patternBytes(2000, 20), 0x20, kTime1, kDate1);
  disk.addFile(2, "SAME", "TXT", gaudiStart(14), patternBytes(10, 21), 0x20, kTime2, kDate2);
  // "A/B" becomes the host name "A_B": the same file as the entry after it.
  disk.addFile(3, "A/B", "", gaudiStart(15), patternBytes(10, 22), 0x20, kTime2, kDate2);
  disk.addFile(4, "A_B", "", gaudiStart(16), patternBytes(5, 23), 0x20, kTime1, kDate1);
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {},
                          diskHeader("D", "000") + recognisedLine('A') +
                              gaudiListingLine("SAME.TXT", 1, 5, 2000, kListed1, "A ") +
                              gaudiListingLine("SAME.TXT", 1, 7, 10, kListed2, "A ") +
                              gaudiListingLine("A/B", 1, 8, 10, kListed2, "A ") +
                              gaudiListingLine("A_B", 2, 1, 5, kListed1, "A "));
  EXPECT_EQ(treeListing(tree), "000/\n000/A_B\n000/SAME.TXT\n");
  expectFile(tree, "000/SAME.TXT", patternBytes(10, 21), kStamp2Utc);
  expectFile(tree, "000/A_B", patternBytes(5, 23), kStamp1Utc);
}

TEST(GaudiVolumeTest, ADiskWithoutTheSignatureGetsAnEmptyFolder) {
  FlatDisk plain(8, 4); // all zero bytes: no signature
  GaudiDisk second('B');
  second.addFile(1, "FILE", "BIN", gaudiStart(12), patternBytes(10, 24), 0x20, kTime1, kDate1);
  ToolWorkspace ws;
  const auto tree =
      runOk(ws, {plain.toD88("PLAIN"), second.toD88("SECOND")}, {},
            diskHeader("PLAIN", "000") + diskHeader("SECOND", "001") + recognisedLine('B') +
                gaudiListingLine("FILE.BIN", 1, 5, 10, kListed1, "A "));
  EXPECT_EQ(treeListing(tree), "000/\n001/\n001/FILE.BIN\n");
}

TEST(GaudiVolumeTest, WithoutFoldersALaterDiskReplacesAnEarlierFile) {
  GaudiDisk first('A');
  first.addFile(1, "SAME", "TXT", gaudiStart(12), patternBytes(3000, 25), 0x20, kTime1, kDate1);
  first.addFile(2, "ONE", "TXT", gaudiStart(15), patternBytes(10, 26), 0x20, kTime1, kDate1);
  GaudiDisk second('B');
  second.addFile(1, "SAME", "TXT", gaudiStart(12), patternBytes(20, 27), 0x20, kTime2, kDate2);
  second.addFile(2, "TWO", "TXT", gaudiStart(13), patternBytes(10, 28), 0x20, kTime2, kDate2);
  ToolWorkspace ws;
  const auto tree =
      runOk(ws, {first.toD88("FIRST"), second.toD88("SECOND")}, {"-d"},
            recognisedLine('A') + gaudiListingLine("SAME.TXT", 1, 5, 3000, kListed1, "A ") +
                gaudiListingLine("ONE.TXT", 1, 8, 10, kListed1, "A ") + recognisedLine('B') +
                gaudiListingLine("SAME.TXT", 1, 5, 20, kListed2, "A ") +
                gaudiListingLine("TWO.TXT", 1, 6, 10, kListed2, "A "));
  EXPECT_EQ(treeListing(tree), "ONE.TXT\nSAME.TXT\nTWO.TXT\n");
  expectFile(tree, "SAME.TXT", patternBytes(20, 27), kStamp2Utc);
  expectFile(tree, "ONE.TXT", patternBytes(10, 26), kStamp1Utc);
}

struct ZoneCase {
  const char* tz;
  std::int64_t offset; // seconds east of UTC
};

TEST(GaudiVolumeTest, FilesCarryTheirStoredLocalTime) {
  GaudiDisk disk('A');
  disk.addFile(1, "DAYEND", "", gaudiStart(12), patternBytes(10, 29), 0x20, 0xBF7D, 0x16AC);
  disk.addFile(2, "ZERO", "", gaudiStart(13), patternBytes(10, 30), 0x20, 0, 0);
  disk.addFile(3, "HOUR24", "", gaudiStart(14), patternBytes(10, 31), 0x20, dosTime(24, 0, 0),
               dosDate(1991, 13, 1));
  const std::string expected = diskHeader("D", "000") + recognisedLine('A') +
                               gaudiListingLine("DAYEND", 1, 5, 10, kListed1, "A ") +
                               gaudiListingLine("ZERO", 1, 6, 10, {1980, 0, 0, 0, 0, 0}, "A ") +
                               gaudiListingLine("HOUR24", 1, 7, 10, {1991, 13, 1, 24, 0, 0}, "A ");
  const ZoneCase zones[] = {{"UTC0", 0}, {"JST-9", 9 * 3600}};
  for (const ZoneCase& zone : zones) {
    SCOPED_TRACE(zone.tz);
    ToolWorkspace ws;
    RunOptions options;
    options.tz = zone.tz;
    const auto tree = runOk(ws, {disk.toD88("D")}, {}, expected, options);
    expectFile(tree, "000/DAYEND", patternBytes(10, 29), kStamp1Utc - zone.offset);
    // 1980/00/00 is 1979-11-30; hour 24 of month 13 day 1 is 1992-01-02 00:00:00.
    expectFile(tree, "000/ZERO", patternBytes(10, 30), 312768000 - zone.offset);
    expectFile(tree, "000/HOUR24", patternBytes(10, 31), 694310400 - zone.offset);
  }
}

TEST(GaudiVolumeTest, AShortDirectoryReadShowsNothingOfAnEarlierDisk) {
  GaudiDisk full('A');
  std::string firstListing;
  for (int s = 1; s <= 40; ++s) {
    const std::string name = "A" + std::to_string(s);
    full.setSlot(s, dosEntry(name, "", 0x20, kTime1, kDate1, gaudiStart(12), 0));
    firstListing += gaudiListingLine(name, 1, 5, 0, kListed1, "A ");
  }
  GaudiDisk absent('B');
  absent.absentTracks = {1}; // no directory at all
  GaudiDisk partial('C');    // the first directory sector only: slots 0 to 31
  std::string partialListing;
  for (int s = 1; s <= 31; ++s) {
    const std::string name = "C" + std::to_string(s);
    partial.setSlot(s, dosEntry(name, "", 0x20, kTime2, kDate2, gaudiStart(16), 0));
    partialListing += gaudiListingLine(name, 2, 1, 0, kListed2, "A ");
  }
  D88Disk partialDisk = partial.toD88("PARTIAL");
  partialDisk.tracks[1].records.resize(1);
  ToolWorkspace ws;
  const auto tree = runOk(ws, {full.toD88("FULL"), absent.toD88("ABSENT"), partialDisk}, {},
                          diskHeader("FULL", "000") + recognisedLine('A') + firstListing +
                              diskHeader("ABSENT", "001") + diskHeader("PARTIAL", "002") +
                              recognisedLine('C') + partialListing);
  EXPECT_EQ(tree.count("001/A1"), 0u);
  EXPECT_EQ(tree.count("002/A32"), 0u);
  EXPECT_EQ(tree.count("002/C31"), 1u);
}

TEST(GaudiVolumeTest, NamesAreListedAsStoredAndCreatedWithoutSlashes) {
  GaudiDisk disk('A');
  struct NameCase {
    std::string name, ext; // as stored
    std::string listed;
    std::string host;
  };
  const NameCase cases[] = {
      {"A/B", "TXT", "A/B.TXT", "A_B.TXT"},
      {"../X", "", "../X", ".._X"},
      {"/ETC/X", "", "/ETC/X", "_ETC_X"},
      {"..", "/", ".../", "..._"},
      {"\x83Q\x81[\x83\x80", "DAT", "\x83Q\x81[\x83\x80.DAT", "\x83Q\x81[\x83\x80.DAT"}, // ゲーム
      {"\x83\x5C", "", "\x83\x5C", "\x83\x5C"}, // ソ, a 0x5C trail byte
      {std::string("AB\0CD", 5), "TXT", "AB", "AB"},
      {"readme", "txt", "readme.txt", "readme.txt"},
      {"A B", "TXT", "A.TXT", "A.TXT"},
  };
  std::string expected = recognisedLine('A');
  int slot = 1;
  for (const NameCase& c : cases) {
    const int logical = 12 + slot;
    disk.addFile(slot, c.name, c.ext, gaudiStart(logical), patternBytes(10, slot), 0x20, kTime1,
                 kDate1);
    expected += gaudiListingLine(c.listed, logical / 8, logical % 8 + 1, 10, kListed1, "A ");
    ++slot;
  }
  // Without folders, so that any name reaching out of the starting folder is a stray item.
  ToolWorkspace ws;
  const auto tree = runOk(ws, {disk.toD88("D")}, {"-d"}, expected);
  std::string hostNames;
  std::vector<std::string> sorted;
  for (const NameCase& c : cases)
    sorted.push_back(nameOnDisk(c.host));
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& name : sorted)
    hostNames += name + "\n";
  EXPECT_EQ(treeListing(tree), hostNames);
  slot = 1;
  for (const NameCase& c : cases)
    expectFile(tree, nameOnDisk(c.host), patternBytes(10, slot++), kStamp1Utc);
}

struct UncreatableCase {
  std::string name, ext; // as stored
  std::string listed;    // the name in the listing and in the message
};

TEST(GaudiVolumeTest, AFileThatCannotBeCreatedIsReportedAndTheWalkGoesOn) {
  const UncreatableCase cases[] = {
      {"", "", ""},     // all blanks: an empty name
      {"..", "", ".."}, // the parent folder
      {".", "", "."},   // the folder itself
  };
  for (const UncreatableCase& c : cases) {
    SCOPED_TRACE("name \"" + c.listed + "\"");
    GaudiDisk first('A');
    first.addFile(1, c.name, c.ext, gaudiStart(12), patternBytes(10, 32), 0x20, kTime1, kDate1);
    first.addFile(2, "AFTER", "", gaudiStart(13), patternBytes(10, 33), 0x20, kTime2, kDate2);
    GaudiDisk second('B');
    second.addFile(1, "NEXT", "", gaudiStart(12), patternBytes(10, 34), 0x20, kTime1, kDate1);
    // Last of the run, so that a stamp given to "." or ".." would stay on that folder.
    second.addFile(2, c.name, c.ext, gaudiStart(13), patternBytes(10, 35), 0x20, kTime2, kDate2);
    ToolWorkspace ws;
    ASSERT_TRUE(ws.writeImage({first.toD88("ONE"), second.toD88("TWO")}));
    const RunResult result = ws.run("d88vol", {ws.image});
    SCOPED_TRACE(result.command);
    EXPECT_EQ(result.out, diskHeader("ONE", "000") + recognisedLine('A') +
                              gaudiListingLine(c.listed, 1, 5, 10, kListed1, "A ") +
                              gaudiListingLine("AFTER", 1, 6, 10, kListed2, "A ") +
                              diskHeader("TWO", "001") + recognisedLine('B') +
                              gaudiListingLine("NEXT", 1, 5, 10, kListed1, "A ") +
                              gaudiListingLine(c.listed, 1, 6, 10, kListed2, "A "));
    EXPECT_EQ(result.err, cannotWriteLine(c.listed) + cannotWriteLine(c.listed));
    EXPECT_EQ(result.status, 1);
    const auto tree = ws.outputTree();
    EXPECT_EQ(treeListing(tree), "000/\n000/AFTER\n001/\n001/NEXT\n");
    expectFile(tree, "000/AFTER", patternBytes(10, 33), kStamp2Utc);
    expectFile(tree, "001/NEXT", patternBytes(10, 34), kStamp1Utc);
    EXPECT_EQ(ws.strayItems(), "");
    // A file that was not written gets no stamp, nor does a folder that its name stands for.
    const auto folders = readTree(ws.dir.path());
    EXPECT_NE(folders.at("run").mtime, kStamp2Utc);
    EXPECT_NE(folders.at("run/001").mtime, kStamp2Utc);
  }
}

// What leads out of a folder or away from the file system depends on the host: on POSIX only
// "/" does; on Windows also a backslash that is not the second byte of a double-byte character,
// a colon (a drive or a stream), and device names.
TEST(GaudiVolumeTest, NamesStayInsideTheFolderOnEveryHost) {
  const bool windows = toolsRunWrapped();
  struct HostCase {
    std::string name, ext; // as stored, and listed
    std::string host;      // the name created, or "" when the host cannot create it
  };
  const HostCase cases[] = {
      {"A\\B", "TXT", windows ? "A_B.TXT" : "A\\B.TXT"},
      {"..\\X", "", windows ? ".._X" : "..\\X"},
      {"C:X", "", windows ? "C_X" : "C:X"},
      {"\x95\\", "", "\x95\\"}, // 表: 0x5C as a trail byte stays
      {"CON", "", windows ? "" : "CON"},
      {"NUL", "TXT", windows ? "" : "NUL.TXT"},
      {"COM1", "", windows ? "" : "COM1"},
  };
  GaudiDisk disk('A');
  std::string out = recognisedLine('A');
  std::string err;
  std::vector<std::string> created;
  int slot = 1;
  for (const HostCase& c : cases) {
    const int logical = 12 + slot;
    disk.addFile(slot, c.name, c.ext, gaudiStart(logical), patternBytes(10, slot), 0x20, kTime1,
                 kDate1);
    const std::string listed = c.ext.empty() ? c.name : c.name + "." + c.ext;
    out += gaudiListingLine(listed, logical / 8, logical % 8 + 1, 10, kListed1, "A ");
    if (c.host.empty()) {
      err += cannotWriteLine(listed);
    } else {
      created.push_back(nameOnDisk(c.host));
    }
    ++slot;
  }
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage({disk.toD88("D")}));
  const RunResult result = ws.run("d88vol", {ws.image, "-d"});
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, err.empty() ? 0 : 1);
  std::sort(created.begin(), created.end());
  std::string names;
  for (const std::string& name : created)
    names += name + "\n";
  EXPECT_EQ(treeListing(ws.outputTree()), names);
  EXPECT_EQ(ws.strayItems(), "");
}

TEST(GaudiVolumeTest, TheWriteMessageStandsBetweenItsListingLines) {
  GaudiDisk disk('A');
  disk.addFile(1, "BEFORE", "", gaudiStart(12), patternBytes(10, 35), 0x20, kTime1, kDate1);
  disk.addFile(2, "..", "", gaudiStart(13), patternBytes(10, 36), 0x20, kTime1, kDate1);
  disk.addFile(3, "AFTER", "", gaudiStart(14), patternBytes(10, 37), 0x20, kTime1, kDate1);
  ToolWorkspace ws;
  ASSERT_TRUE(ws.writeImage({disk.toD88("D")}));
  RunOptions merged;
  merged.mergeOutput = true;
  const RunResult result = ws.run("d88vol", {ws.image}, merged);
  SCOPED_TRACE(result.command);
  EXPECT_EQ(result.out, diskHeader("D", "000") + recognisedLine('A') +
                            gaudiListingLine("BEFORE", 1, 5, 10, kListed1, "A ") +
                            gaudiListingLine("..", 1, 6, 10, kListed1, "A ") +
                            cannotWriteLine("..") +
                            gaudiListingLine("AFTER", 1, 7, 10, kListed1, "A "));
  EXPECT_EQ(result.status, 1);
}

} // namespace
