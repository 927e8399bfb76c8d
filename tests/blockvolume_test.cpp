#include "blockvolume.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "blockdisk.h"
#include "d88builder.h"
#include "runtool.h"

namespace {

// The console texts as the Shift-JIS bytes the tool writes.
const std::string kUsage = "Usage: d88cpm image\n";
// ファイルをオープンできません\n
const std::string kCannotOpen = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x83\x49\x81\x5b\x83\x76"
                                "\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\n";
// "ディスク "
const std::string kDiskPrefix = "\x83\x66\x83\x42\x83\x58\x83\x4e\x20";

// ディスク %d 枚目はミッドガルツまたはガウディのディスクではないようです.\n
std::string notBlockVolume(int disk) {
  return kDiskPrefix + std::to_string(disk) +
         "\x20\x96\x87\x96\xda\x82\xcd\x83\x7e\x83\x62\x83\x68\x83\x4b\x83\x8b\x83\x63\x82\xdc"
         "\x82\xbd\x82\xcd\x83\x4b\x83\x45\x83\x66\x83\x42\x82\xcc\x83\x66\x83\x42\x83\x58\x83"
         "\x4e\x82\xc5\x82\xcd\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7\x2e\n";
}

// ディスク %d 枚目からファイルを抽出します.\n
std::string extracting(int disk) {
  return kDiskPrefix + std::to_string(disk) +
         "\x20\x96\x87\x96\xda\x82\xa9\x82\xe7\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x92\x8a"
         "\x8f\x6f\x82\xb5\x82\xdc\x82\xb7\x2e\n";
}

// ファイルを書き込めません: %s\n
std::string cannotWrite(const std::string& path) {
  return "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82"
         "\xb9\x82\xf1\x3a\x20" +
         path + "\n";
}

// Bytes that differ from sector to sector and block to block, so that data read from the wrong
// place never passes for the right data.
Bytes noise(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (std::uint8_t& byte : out) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// A disk whose entry 0 passes the volume test, makes no file and numbers the folder by
// `folderByte`.
BlockDisk volumeDisk(std::uint8_t folderByte = '1', int tracks = 12) {
  BlockDisk disk(tracks);
  disk.setEntry(0, volumeEntry(folderByte));
  return disk;
}

BlockEntry fileEntry(const std::string& name, const std::string& ext, int records,
                     std::vector<std::uint8_t> blocks) {
  BlockEntry entry;
  entry.name = name;
  entry.ext = ext;
  entry.recordCount = static_cast<std::uint8_t>(records);
  entry.blocks = std::move(blocks);
  return entry;
}

// Runs d88cpm in `cwd` on `image`, kept in a folder of its own so that the output tree holds
// only what the tool made.
RunResult runOnImage(const std::string& cwd, const Bytes& image, const RunOptions& options = {}) {
  TempDir images;
  const std::string path = images / "image.d88";
  EXPECT_TRUE(writeBytesToFile(path, image));
  return runProgram(toolPath("d88cpm"), {path}, cwd, options);
}

RunResult runOn(const std::string& cwd, const std::vector<D88Disk>& disks,
                const RunOptions& options = {}) {
  return runOnImage(cwd, buildD88(disks), options);
}

void expectRun(const RunResult& result, int status, const std::string& out,
               const std::string& err) {
  EXPECT_FALSE(result.killed) << result.command;
  EXPECT_EQ(result.status, status) << result.command;
  EXPECT_EQ(result.out, out) << result.command << "\nstdout:\n" << hexDump(result.out);
  EXPECT_EQ(result.err, err) << result.command << "\nstderr:\n" << hexDump(result.err);
}

// The output tree: path -> file bytes, folders marked by kFolder.
using Tree = std::map<std::string, std::string>;
const std::string kFolder = "<folder>";

std::string names(const Tree& tree) {
  std::string out;
  for (const auto& [path, bytes] : tree)
    out += path + (bytes == kFolder ? "/\n" : "\n");
  return out;
}

std::string firstDifference(const std::string& path, const std::string& want,
                            const std::string& got) {
  std::size_t at = 0;
  while (at < want.size() && at < got.size() && want[at] == got[at])
    ++at;
  const std::size_t from = at / 16 * 16;
  auto window = [from](const std::string& bytes) {
    return from < bytes.size() ? hexDump(bytes.substr(from, 48)) : std::string("(end)\n");
  };
  return path + ": " + std::to_string(got.size()) + " bytes, expected " +
         std::to_string(want.size()) + "; first difference at byte " + std::to_string(at) +
         "\nexpected from " + std::to_string(from) + ":\n" + window(want) + "got:\n" + window(got);
}

void expectTree(const std::string& root, const Tree& expected) {
  Tree actual;
  for (const auto& [path, item] : readTree(root))
    actual[path] = item.directory ? kFolder : item.bytes;
  EXPECT_EQ(names(actual), names(expected)) << "in " << root;
  for (const auto& [path, bytes] : expected) {
    const auto found = actual.find(path);
    if (found != actual.end() && found->second != bytes)
      ADD_FAILURE() << firstDifference(path, bytes, found->second);
  }
}

// ---------------------------------------------------------------------------------------------
// The name rule and the block placement, called directly.

TEST(CpmFileNameTest, FormsTheNameFromTheBlankPaddedFields) {
  struct Case {
    const char* what;
    std::string name;
    std::string ext;
    const char* expected;
  };
  const Case cases[] = {
      {"base and extension", "GAME", "COM", "GAME.COM"},
      {"blank extension gives no dot", "GAME", "", "GAME"},
      {"a blank ends the base name", "AB CD", "", "AB"},
      {"an extension starting with a blank is left out", "FILE", " X ", "FILE"},
      {"a blank ends the extension", "GAME", "C M", "GAME.C"},
      {"blank base name", "", "DAT", ".DAT"},
      {"base starting with a blank", " X", "DAT", ".DAT"},
      {"all blank", "", "", ""},
      {"full eight and three", "ABCDEFGH", "XYZ", "ABCDEFGH.XYZ"},
      {"full eight, no extension", "ABCDEFGH", "", "ABCDEFGH"},
      {"a zero byte in the base ends the name", std::string("AB\0CD", 5), "BIN", "AB"},
      {"a zero byte in the extension ends the name", "GAME", std::string("C\0M", 3), "GAME.C"},
      {"a zero first byte gives an empty name", std::string("\0ABC", 4), "TXT", ""},
      {"no case change", "game", "com", "game.com"},
      {"high bits are kept", "GAM\xC5", "\xC3OM", "GAM\xC5.\xC3OM"},
      {"Shift-JIS passes as bytes", "\x83Q\x81[\x83\x80", "DAT", "\x83Q\x81[\x83\x80.DAT"},
      {"other control bytes are copied", "A\tB", "\x01", "A\tB.\x01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes bytes = blockEntryBytes(fileEntry(c.name, c.ext, 1, {}));
    char out[kCpmNameSize];
    std::memset(out, 'Z', sizeof out);
    cpmFileName(readCpmDirEntry(bytes.data()), out);
    EXPECT_EQ(std::string(out), std::string(c.expected));
  }
}

TEST(BlockPositionTest, PlacesBlocksTwoSectorsApartFromTrackTwo) {
  struct Case {
    int block;
    int track;
    int sector;
  };
  const Case cases[] = {
      {0, 2, 1}, {1, 2, 3}, {2, 2, 5},    {3, 3, 2},    {4, 3, 4},     {5, 4, 1},
      {6, 4, 3}, {7, 4, 5}, {100, 42, 1}, {128, 53, 2}, {254, 103, 4}, {255, 104, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("block " + std::to_string(c.block));
    int track = -1;
    int sector = -1;
    blockPosition(static_cast<std::uint8_t>(c.block), track, sector);
    EXPECT_EQ(track, c.track);
    EXPECT_EQ(sector, c.sector);
  }
}

TEST(ReadCpmDirEntryTest, TakesEachFieldFromItsByte) {
  Bytes bytes(32);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  const CpmDirEntry entry = readCpmDirEntry(bytes.data());
  EXPECT_EQ(entry.user, 0xA0);
  EXPECT_EQ(Bytes(entry.name, entry.name + 8), slice(bytes, 1, 8));
  EXPECT_EQ(Bytes(entry.ext, entry.ext + 3), slice(bytes, 9, 3));
  EXPECT_EQ(entry.extent, 0xAC);
  EXPECT_EQ(entry.s1, 0xAD);
  EXPECT_EQ(entry.s2, 0xAE);
  EXPECT_EQ(entry.recordCount, 0xAF);
  EXPECT_EQ(Bytes(entry.blocks, entry.blocks + 16), slice(bytes, 16, 16));
}

// ---------------------------------------------------------------------------------------------
// The command line and the image file.

TEST(BlockToolCommandLineTest, WrongArgumentCountGivesTheUsageLine) {
  TempDir images;
  const std::string image = images / "image.d88";
  BlockDisk disk = volumeDisk();
  disk.addFile(1, "GAME", "COM", noise(128, 1), {3});
  ASSERT_TRUE(writeBytesToFile(image, buildD88({disk.toD88()})));
  const std::vector<std::vector<std::string>> argumentLists = {
      {},
      {image, image},
      {image, "-d"},
      {images / "missing.d88", images / "other.d88"},
  };
  for (const auto& args : argumentLists) {
    TempDir work;
    const RunResult result = runProgram(toolPath("d88cpm"), args, work.path());
    expectRun(result, 1, "", kUsage);
    expectTree(work.path(), {}); // the image was not read
  }
}

TEST(BlockToolCommandLineTest, ImageThatCannotBeOpened) {
  TempDir images;
  TempDir work;
  const RunResult result = runProgram(toolPath("d88cpm"), {images / "missing.d88"}, work.path());
  expectRun(result, 1, "", kCannotOpen);
  expectTree(work.path(), {});
}

TEST(BlockToolCommandLineTest, ImageWithoutAWholeDiskHeaderPrintsNothing) {
  BlockDisk disk = volumeDisk();
  disk.addFile(1, "GAME", "COM", noise(128, 1), {3});
  const Bytes whole = buildD88({disk.toD88()});
  for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{687}}) {
    SCOPED_TRACE("image of " + std::to_string(length) + " bytes");
    TempDir images;
    TempDir work;
    const std::string image = images / "image.d88";
    ASSERT_TRUE(writeBytesToFile(image, slice(whole, 0, length)));
    expectRun(runProgram(toolPath("d88cpm"), {image}, work.path()), 0, "", "");
    expectTree(work.path(), {});
  }
}

// ---------------------------------------------------------------------------------------------
// The volume test on entry 0.

TEST(BlockToolVolumeTest, OnlyTheBlockVolumeOfTwoDisksGetsAFolder) {
  BlockDisk other(12); // an all-zero directory: entry 0 has no name
  other.putBlock(3, noise(2048, 3));
  BlockDisk block = volumeDisk('2');
  const Bytes data = noise(300, 4);
  block.addFile(1, "README", "TXT", data, {3});
  TempDir work;
  const RunResult result = runOn(work.path(), {other.toD88(), block.toD88()});
  expectRun(result, 0, extracting(2), notBlockVolume(1));
  expectTree(work.path(),
             {{"DISK02", kFolder}, {"DISK02/README.TXT", toString(block.fileBytes({3}, 384))}});
}

TEST(BlockToolVolumeTest, EntryZeroThatFailsTheTest) {
  struct Case {
    const char* what;
    int offset; // byte of entry 0 to change, or -1
    std::uint8_t value;
    void (*alter)(D88Disk&);
  };
  const Case cases[] = {
      {"user 1", 0, 1, nullptr},
      {"user E5 hex", 0, 0xE5, nullptr},
      {"byte 1 zero", 1, 0, nullptr},
      {"s1 1", 13, 1, nullptr},
      {"s1 80 hex", 13, 0x80, nullptr},
      {"track 2 absent", -1, 0, [](D88Disk& d) { d.tracks.erase(2); }},
      // The run of the directory read stops at its first sector: nothing is read.
      {"sector 1 of track 2 missing", -1, 0,
       [](D88Disk& d) { d.tracks[2].records.erase(d.tracks[2].records.begin()); }},
      {"sector 1 of track 2 with the wrong head", -1, 0,
       [](D88Disk& d) { d.tracks[2].records[0].h = 1; }},
      {"sector 1 of track 2 of size code 2", -1, 0,
       [](D88Disk& d) { d.tracks[2].records[0].n = 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockDisk disk = volumeDisk();
    disk.addFile(1, "GAME", "COM", noise(128, 1), {3});
    if (c.offset >= 0) disk.flat.logical(blockStartSector(0))[c.offset] = c.value;
    D88Disk d88 = disk.toD88();
    if (c.alter != nullptr) c.alter(d88);
    TempDir work;
    expectRun(runOn(work.path(), {d88}), 0, "", notBlockVolume(1));
    expectTree(work.path(), {});
  }
}

TEST(BlockToolVolumeTest, OnlyBytesZeroOneAndThirteenOfEntryZeroCount) {
  BlockDisk disk(12);
  Bytes entry(32, 0xFF);
  entry[0] = 0;
  entry[1] = ' '; // non-zero is enough, a blank too
  entry[9] = ' ';
  entry[10] = '1';
  entry[13] = 0;
  entry[15] = 0; // no file of its own
  disk.setEntryBytes(0, entry);
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(), {{"DISK01", kFolder}});
}

TEST(BlockToolVolumeTest, RecognisedDirectoryWithoutFilesLeavesAnEmptyFolder) {
  BlockDisk disk = volumeDisk();
  disk.setEntry(1, fileEntry("EMPTY", "DAT", 0, {3}));
  disk.setEntry(5, fileEntry("ALSO", "", 0, {}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(), {{"DISK01", kFolder}});
}

// ---------------------------------------------------------------------------------------------
// The directory walk.

TEST(BlockToolWalkTest, EntryBetweenTwoFiles) {
  struct Case {
    const char* what;
    Bytes middle;         // entry 2
    const char* fileName; // the file entry 2 makes, or null
    bool walkGoesOn;      // entry 3 is extracted
  };
  BlockEntry named = fileEntry("MIDDLE", "", 1, {5});
  auto with = [&named](void (*change)(BlockEntry&)) {
    BlockEntry entry = named;
    change(entry);
    return blockEntryBytes(entry);
  };
  const Case cases[] = {
      {"all-zero entry", Bytes(32, 0), nullptr, true},
      {"named entry of no records", with([](BlockEntry& e) { e.recordCount = 0; }), nullptr, true},
      {"extent and s2 are not looked at", with([](BlockEntry& e) {
         e.extent = 3;
         e.s2 = 0xFF;
       }),
       "MIDDLE", true},
      {"free entry, user E5 hex", with([](BlockEntry& e) { e.user = 0xE5; }), nullptr, false},
      {"freshly formatted entry, all E5 hex", Bytes(32, 0xE5), nullptr, false},
      {"user 1", with([](BlockEntry& e) { e.user = 1; }), nullptr, false},
      {"s1 1", with([](BlockEntry& e) { e.s1 = 1; }), nullptr, false},
      {"s1 80 hex", with([](BlockEntry& e) { e.s1 = 0x80; }), nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockDisk disk = volumeDisk();
    disk.addFile(1, "FIRST", "", noise(128, 1), {3});
    disk.setEntryBytes(2, c.middle);
    disk.putBlock(5, noise(2048, 5));
    disk.addFile(3, "AFTER", "", noise(256, 2), {4});
    Tree expected = {{"DISK01", kFolder}, {"DISK01/FIRST", toString(disk.fileBytes({3}, 128))}};
    if (c.fileName != nullptr)
      expected[std::string("DISK01/") + c.fileName] = toString(disk.fileBytes({5}, 128));
    if (c.walkGoesOn) expected["DISK01/AFTER"] = toString(disk.fileBytes({4}, 256));
    TempDir work;
    expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
    expectTree(work.path(), expected);
  }
}

// Entry 0 makes a file like any other when it has records, and the walk reaches entry 127.
TEST(BlockToolWalkTest, EveryEntryOfAFullDirectoryIsAFile) {
  BlockDisk disk(12);
  Tree expected = {{"DISK01", kFolder}};
  for (int e = 0; e < kBlockDirectoryEntries; ++e) {
    const std::string name = "F" + std::to_string(e);
    // Entry 0's extension "S1" numbers the folder.
    disk.setEntry(
        e, fileEntry(name, e == 0 ? "S1" : "", 1 + e % 3, {static_cast<std::uint8_t>(3 + e % 4)}));
  }
  for (int b = 3; b < 7; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  for (int e = 0; e < kBlockDirectoryEntries; ++e) {
    const std::string name = "F" + std::to_string(e) + (e == 0 ? ".S1" : "");
    expected["DISK01/" + name] = toString(disk.fileBytes(
        {static_cast<std::uint8_t>(3 + e % 4)}, static_cast<std::size_t>(128 * (1 + e % 3))));
  }
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(), expected);
}

// The directory buffer is cleared before each disk's read: what a short read leaves out of one
// disk's directory is never an entry of the disk before.
TEST(BlockToolWalkTest, UnreadDirectorySectorsHoldNoEntries) {
  BlockDisk first = volumeDisk('1');
  first.addFile(1, "A", "", noise(128, 1), {3});
  first.addFile(64, "MID", "", noise(128, 2), {4});   // sector 3 of track 2
  first.addFile(127, "LATE", "", noise(128, 3), {5}); // sector 4
  BlockDisk second = volumeDisk('2');
  second.addFile(1, "B", "", noise(128, 4), {3});
  second.addFile(64, "LOST", "", noise(128, 5), {4});
  D88Disk secondD88 = second.toD88();
  // Sectors 3 to 5 of track 2 are missing: the read stops after entry 63.
  secondD88.tracks[2].records.resize(2);
  D88Disk third = first.toD88();
  third.tracks.erase(2);
  TempDir work;
  expectRun(runOn(work.path(), {first.toD88(), secondD88, third}), 0, extracting(1) + extracting(2),
            notBlockVolume(3));
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/A", toString(first.fileBytes({3}, 128))},
                           {"DISK01/MID", toString(first.fileBytes({4}, 128))},
                           {"DISK01/LATE", toString(first.fileBytes({5}, 128))},
                           {"DISK02", kFolder},
                           {"DISK02/B", toString(second.fileBytes({3}, 128))}});
}

// ---------------------------------------------------------------------------------------------
// File sizes and the blocks they use.

TEST(BlockToolFileTest, RecordCountGivesSizeAndBlocksUsed) {
  struct Case {
    int records;
    std::size_t blocksUsed;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {15, 1}, {16, 1}, {17, 2}, {128, 8}, {129, 9}, {255, 16}};
  // In file order, not block order.
  const std::vector<std::uint8_t> blocks = {18, 4, 17, 5, 16, 6,  15, 7,
                                            14, 8, 13, 9, 12, 10, 11, 3};
  for (const Case& c : cases) {
    SCOPED_TRACE("record count " + std::to_string(c.records));
    BlockDisk disk = volumeDisk();
    for (int b = 2; b < 25; ++b)
      disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
    disk.setEntry(1, fileEntry("FILE", "BIN", c.records, blocks));
    Tree expected = {{"DISK01", kFolder}};
    if (c.records > 0) {
      const std::vector<std::uint8_t> used(
          blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(c.blocksUsed));
      expected["DISK01/FILE.BIN"] =
          toString(disk.fileBytes(used, static_cast<std::size_t>(c.records) * 128));
    }
    TempDir work;
    expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
    expectTree(work.path(), expected);
  }
}

TEST(BlockToolFileTest, NamesFromTheDirectory) {
  struct Case {
    const char* what;
    std::string name;
    std::string ext;
    std::string hostName;
  };
  const Case cases[] = {
      {"base and extension", "GAME", "COM", "GAME.COM"},
      {"blank extension", "GAME", "", "GAME"},
      {"a blank ends the base name", "AB CD", "", "AB"},
      {"extension starting with a blank", "FILE", " X ", "FILE"},
      {"blank base name", "", "DAT", ".DAT"},
      {"a zero byte ends the name", std::string("AB\0CD", 5), "BIN", "AB"},
      {"full eight and three", "ABCDEFGH", "XYZ", "ABCDEFGH.XYZ"},
      {"no case change, high bits kept", "game\xC7", "\xC3om", "game\xC7.\xC3om"},
      {"Shift-JIS", "\x83Q\x81[\x83\x80", "DAT", "\x83Q\x81[\x83\x80.DAT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockDisk disk = volumeDisk();
    const Bytes data = noise(200, 7);
    disk.addFile(1, c.name, c.ext, data, {3});
    TempDir work;
    expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
    expectTree(work.path(),
               {{"DISK01", kFolder},
                {"DISK01/" + nameOnDisk(c.hostName), toString(disk.fileBytes({3}, 256))}});
  }
}

// A "/" in a stored name becomes "_", so that no disk writes outside its folder.
TEST(BlockToolFileTest, SlashInANameStaysInsideTheFolder) {
  struct Case {
    std::string name;
    std::string ext;
    std::string hostName;
  };
  const Case cases[] = {
      {"A/B", "", "A_B"}, {"/", "", "_"},          {"../../X", "", ".._.._X"},
      {"../", "", ".._"}, {"DIR", "/X", "DIR._X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hostName);
    BlockDisk disk = volumeDisk();
    disk.addFile(1, c.name, c.ext, noise(128, 9), {3});
    // The run's current directory lies two levels down, so that a name reaching up would land
    // inside the test's folder, where the tree shows it.
    TempDir root;
    ASSERT_EQ(::mkdir((root / "a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root / "a/b").c_str(), 0755), 0);
    expectRun(runOn(root / "a/b", {disk.toD88()}), 0, extracting(1), "");
    expectTree(root.path(), {{"a", kFolder},
                             {"a/b", kFolder},
                             {"a/b/DISK01", kFolder},
                             {"a/b/DISK01/" + c.hostName, toString(disk.fileBytes({3}, 128))}});
  }
}

TEST(BlockToolFileTest, LaterEntryOfTheSameNameWins) {
  BlockDisk disk = volumeDisk();
  // Two extents of one file are two files of one name: the second replaces the first, and its
  // size is its own entry's.
  BlockEntry first = fileEntry("SAME", "DAT", 32, {3, 4});
  BlockEntry second = fileEntry("SAME", "DAT", 3, {5});
  second.extent = 1;
  disk.setEntry(1, first);
  disk.setEntry(2, second);
  for (int b = 3; b < 6; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(),
             {{"DISK01", kFolder}, {"DISK01/SAME.DAT", toString(disk.fileBytes({5}, 384))}});
}

// ---------------------------------------------------------------------------------------------
// Where blocks lie.

TEST(BlockToolPlacementTest, BlockTwoRunsOnToTrackThree) {
  BlockDisk disk = volumeDisk();
  for (int b = 2; b < 25; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  disk.setEntry(1, fileEntry("CROSS", "", 16, {2}));
  D88Disk d88 = disk.toD88();
  // Records of the same sector numbers but another cylinder or head stand first on both tracks:
  // only the IDs C 1 H 0 R 5 and C 1 H 1 R 1 are block 2's.
  auto decoy = [](int c, int h, int r, std::uint8_t fill) {
    return makeSector(c, h, r, 3, 1024, fill);
  };
  auto& track2 = d88.tracks[2].records;
  track2.insert(track2.begin(), {decoy(2, 0, 5, 0xA1), decoy(1, 1, 5, 0xA2), decoy(0, 0, 5, 0xA3)});
  auto& track3 = d88.tracks[3].records;
  track3.insert(track3.begin(), {decoy(1, 0, 1, 0xB1), decoy(3, 1, 1, 0xB2), decoy(2, 1, 1, 0xB3)});
  TempDir work;
  expectRun(runOn(work.path(), {d88}), 0, extracting(1), "");
  const Bytes expected = concat({slice(disk.flat.bytes, 14 * 1024, 1024),   // track 2 sector 5
                                 slice(disk.flat.bytes, 15 * 1024, 1024)}); // track 3 sector 1
  expectTree(work.path(), {{"DISK01", kFolder}, {"DISK01/CROSS", toString(expected)}});
}

TEST(BlockToolPlacementTest, LastBlocksLieOnTracks103And104) {
  BlockDisk disk = volumeDisk('1', 105);
  for (int b = 2; b < 256; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  disk.setEntry(1, fileEntry("LAST", "", 32, {255, 254}));
  disk.setEntry(2, fileEntry("SEVEN", "", 16, {7}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  // Block 255: track 104 sectors 1 and 2; block 254: track 103 sectors 4 and 5; block 7:
  // track 4 sector 5 and track 5 sector 1.
  const Bytes last = concat({slice(disk.flat.bytes, (104 * 5) * 1024, 2048),
                             slice(disk.flat.bytes, (103 * 5 + 3) * 1024, 2048)});
  const Bytes seven = concat({slice(disk.flat.bytes, (4 * 5 + 4) * 1024, 1024),
                              slice(disk.flat.bytes, (5 * 5) * 1024, 1024)});
  expectTree(
      work.path(),
      {{"DISK01", kFolder}, {"DISK01/LAST", toString(last)}, {"DISK01/SEVEN", toString(seven)}});
}

TEST(BlockToolPlacementTest, BlocksZeroAndOneReadTheDirectory) {
  BlockDisk disk = volumeDisk();
  disk.setEntry(1, fileEntry("DIR", "", 32, {0, 1}));
  disk.setEntry(2, fileEntry("SECOND", "", 16, {1}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  const Bytes directory = slice(disk.flat.bytes, 10 * 1024, 4096);
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/DIR", toString(directory)},
                           {"DISK01/SECOND", toString(slice(directory, 2048, 2048))}});
}

// ---------------------------------------------------------------------------------------------
// The disk folder.

TEST(BlockToolFolderTest, ByteTenOfEntryZeroNumbersTheFolder) {
  struct Case {
    std::uint8_t byte;
    const char* folder;
  };
  const Case cases[] = {
      {'1', "DISK01"}, {'0', "DISK00"},  {'9', "DISK09"},   {':', "DISK10"},
      {'A', "DISK17"}, {' ', "DISK-16"}, {0x2F, "DISK-1"},  {0x00, "DISK-48"},
      {'c', "DISK51"}, {0x93, "DISK99"}, {0x94, "DISK100"}, {0xFF, "DISK207"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    BlockDisk disk = volumeDisk(c.byte);
    disk.addFile(1, "FILE", "", noise(128, 1), {3});
    TempDir work;
    expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
    const std::string folder = c.folder;
    expectTree(work.path(),
               {{folder, kFolder}, {folder + "/FILE", toString(disk.fileBytes({3}, 128))}});
  }
}

// Disks of one folder number share it; a folder and files that exist are used and replaced.
TEST(BlockToolFolderTest, TwoDisksOfOneFolderNumber) {
  BlockDisk first = volumeDisk('5');
  first.addFile(1, "A", "", noise(2048, 1), {3});
  first.addFile(2, "B", "", noise(128, 2), {4});
  BlockDisk second = volumeDisk('5');
  second.addFile(1, "A", "", noise(256, 3), {6});
  second.addFile(2, "C", "", noise(128, 4), {5});
  TempDir work;
  ASSERT_EQ(::mkdir((work / "DISK05").c_str(), 0755), 0);
  ASSERT_TRUE(writeBytesToFile(work / "DISK05/KEEP", Bytes(10, 'k')));
  ASSERT_TRUE(writeBytesToFile(work / "DISK05/C", Bytes(5000, 'c'))); // truncated
  expectRun(runOn(work.path(), {first.toD88(), second.toD88()}), 0, extracting(1) + extracting(2),
            "");
  expectTree(work.path(), {{"DISK05", kFolder},
                           {"DISK05/A", toString(second.fileBytes({6}, 256))},
                           {"DISK05/B", toString(first.fileBytes({4}, 128))},
                           {"DISK05/C", toString(second.fileBytes({5}, 128))},
                           {"DISK05/KEEP", std::string(10, 'k')}});
}

// ---------------------------------------------------------------------------------------------
// Blocks that cannot be read: the file keeps its full size, and the data buffer keeps what the
// last earlier file put at that offset.

TEST(BlockToolUnreadBlockTest, NoEarlierFileLeavesZeroBytes) {
  BlockDisk disk = volumeDisk(); // 12 tracks: block 25 on is beyond them
  disk.putBlock(3, noise(2048, 3));
  disk.setEntry(1, fileEntry("FIRST", "", 40, {3, 200, 25}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(),
             {{"DISK01", kFolder},
              {"DISK01/FIRST", toString(concat({disk.block(3), Bytes(2048, 0), Bytes(1024, 0)}))}});
}

TEST(BlockToolUnreadBlockTest, EarlierFilesShowThrough) {
  BlockDisk disk = volumeDisk();
  for (int b = 3; b < 11; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  disk.setEntry(1, fileEntry("A", "", 48, {3, 4, 5}));
  disk.setEntry(2, fileEntry("B", "", 16, {6}));
  // Offset 4096 was last written by A, offset 0 by B.
  disk.setEntry(3, fileEntry("C", "", 48, {200, 7, 201}));
  // Offset 0 and 4096 keep what B and A put there; C's failed reads changed nothing.
  disk.setEntry(4, fileEntry("D", "", 41, {250, 8, 250}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(),
             {{"DISK01", kFolder},
              {"DISK01/A", toString(disk.fileBytes({3, 4, 5}, 6144))},
              {"DISK01/B", toString(disk.block(6))},
              {"DISK01/C", toString(concat({disk.block(6), disk.block(7), disk.block(5)}))},
              {"DISK01/D",
               toString(concat({disk.block(6), disk.block(8), slice(disk.block(5), 0, 1152)}))}});
}

TEST(BlockToolUnreadBlockTest, TheBufferCarriesOverFromTheDiskBefore) {
  BlockDisk first = volumeDisk('1');
  first.putBlock(3, noise(2048, 31));
  first.putBlock(4, noise(2048, 41));
  first.setEntry(1, fileEntry("A", "", 32, {3, 4}));
  BlockDisk second = volumeDisk('2');
  second.putBlock(5, noise(2048, 52));
  second.setEntry(1, fileEntry("B", "", 32, {5, 250}));
  TempDir work;
  expectRun(runOn(work.path(), {first.toD88(), second.toD88()}), 0, extracting(1) + extracting(2),
            "");
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/A", toString(first.fileBytes({3, 4}, 4096))},
                           {"DISK02", kFolder},
                           {"DISK02/B", toString(concat({second.block(5), first.block(4)}))}});
}

// Reading a block stops at its first sector that is missing or short; what came before stays.
TEST(BlockToolUnreadBlockTest, BlockReadInPart) {
  struct Case {
    const char* what;
    void (*alter)(D88Disk&);
    std::size_t newBytes; // bytes of block 2 read before the failure
  };
  const Case cases[] = {
      {"second sector on an absent track", [](D88Disk& d) { d.tracks.erase(3); }, 1024},
      {"second sector of the wrong size code", [](D88Disk& d) { d.tracks[3].records[0].n = 2; },
       1024},
      // A record of 512 bytes is copied whole and ends the run.
      {"second sector short", [](D88Disk& d) { d.tracks[3].records[0].data.resize(512); },
       1024 + 512},
      {"first sector short", [](D88Disk& d) { d.tracks[2].records[4].data.resize(100); }, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockDisk disk = volumeDisk();
    for (int b = 2; b < 8; ++b)
      disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
    disk.setEntry(1, fileEntry("A", "", 16, {6}));
    disk.setEntry(2, fileEntry("B", "", 16, {2}));
    D88Disk d88 = disk.toD88();
    c.alter(d88);
    TempDir work;
    expectRun(runOn(work.path(), {d88}), 0, extracting(1), "");
    const Bytes b = concat(
        {slice(disk.block(2), 0, c.newBytes), slice(disk.block(6), c.newBytes, 2048 - c.newBytes)});
    expectTree(
        work.path(),
        {{"DISK01", kFolder}, {"DISK01/A", toString(disk.block(6))}, {"DISK01/B", toString(b)}});
  }
}

// Block numbers past the file's size are not read: here they would fill offset 2048 of the
// buffer, which the next file's unreadable block shows.
TEST(BlockToolUnreadBlockTest, BlockNumbersPastTheSizeAreNotRead) {
  BlockDisk disk = volumeDisk();
  for (int b = 3; b < 8; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  disk.setEntry(1, fileEntry("ONE", "", 16, {3, 4, 5, 6, 7, 3, 4, 5, 6, 7, 3, 4, 5, 6, 7, 3}));
  disk.setEntry(2, fileEntry("TWO", "", 32, {5, 200}));
  TempDir work;
  expectRun(runOn(work.path(), {disk.toD88()}), 0, extracting(1), "");
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/ONE", toString(disk.block(3))},
                           {"DISK01/TWO", toString(concat({disk.block(5), Bytes(2048, 0)}))}});
}

// ---------------------------------------------------------------------------------------------
// Files that cannot be written: reported with the path, the walk goes on, status 1 at the end.

TEST(BlockToolWriteFailureTest, FolderNameTakenByAPlainFile) {
  BlockDisk first = volumeDisk('1');
  first.addFile(1, "A", "", noise(128, 1), {3});
  first.addFile(2, "B", "TXT", noise(128, 2), {4});
  BlockDisk second = volumeDisk('2');
  second.addFile(1, "C", "", noise(128, 3), {3});
  TempDir work;
  ASSERT_TRUE(writeBytesToFile(work / "DISK01", Bytes(7, 'p')));
  expectRun(runOn(work.path(), {first.toD88(), second.toD88()}), 1, extracting(1) + extracting(2),
            cannotWrite("DISK01/A") + cannotWrite("DISK01/B.TXT"));
  expectTree(work.path(), {{"DISK01", std::string(7, 'p')},
                           {"DISK02", kFolder},
                           {"DISK02/C", toString(second.fileBytes({3}, 128))}});
}

TEST(BlockToolWriteFailureTest, ReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  BlockDisk disk = volumeDisk();
  disk.addFile(1, "A", "", noise(128, 1), {3});
  TempDir work;
  ASSERT_EQ(::mkdir((work / "DISK01").c_str(), 0555), 0);
  expectRun(runOn(work.path(), {disk.toD88()}), 1, extracting(1), cannotWrite("DISK01/A"));
  expectTree(work.path(), {{"DISK01", kFolder}});
}

TEST(BlockToolWriteFailureTest, NamesTheHostRefuses) {
  BlockDisk disk = volumeDisk();
  disk.putBlock(3, noise(2048, 3));
  disk.setEntry(1, fileEntry("", "", 1, {3}));                     // empty name
  disk.setEntry(2, fileEntry(std::string("\0AB", 3), "", 1, {3})); // empty too
  disk.setEntry(3, fileEntry(".", "", 1, {3}));
  disk.setEntry(4, fileEntry("..", "", 1, {3}));
  disk.setEntry(5, fileEntry("SUB", "", 1, {3})); // a folder of that name exists
  disk.setEntry(6, fileEntry("OK", "", 1, {3}));
  TempDir work;
  ASSERT_EQ(::mkdir((work / "DISK01").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((work / "DISK01/SUB").c_str(), 0755), 0);
  expectRun(runOn(work.path(), {disk.toD88()}), 1, extracting(1),
            cannotWrite("DISK01/") + cannotWrite("DISK01/") + cannotWrite("DISK01/.") +
                cannotWrite("DISK01/..") + cannotWrite("DISK01/SUB"));
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/OK", toString(disk.fileBytes({3}, 128))},
                           {"DISK01/SUB", kFolder}});
}

// A file that opens but whose bytes cannot be stored: the device that is always full takes the
// open, fails the write of a large file and the close of a small one.
TEST(BlockToolWriteFailureTest, WriteOrCloseFails) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  // A Windows program writes to the device through its emulation layer, which hides the error.
  if (toolsRunWrapped()) GTEST_SKIP() << "/dev/full is a POSIX device";
  BlockDisk disk = volumeDisk();
  for (int b = 3; b < 19; ++b)
    disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(b)));
  disk.setEntry(1, fileEntry("SMALL", "", 1, {3}));
  disk.setEntry(
      2, fileEntry("LARGE", "", 255, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  disk.setEntry(3, fileEntry("OK", "", 1, {4}));
  TempDir work;
  ASSERT_EQ(::mkdir((work / "DISK01").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("/dev/full", (work / "DISK01/SMALL").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/full", (work / "DISK01/LARGE").c_str()), 0);
  const RunResult result = runOn(work.path(), {disk.toD88()});
  // The links lead out of the tree; the tree is read without them.
  ASSERT_EQ(::unlink((work / "DISK01/SMALL").c_str()), 0);
  ASSERT_EQ(::unlink((work / "DISK01/LARGE").c_str()), 0);
  expectRun(result, 1, extracting(1), cannotWrite("DISK01/SMALL") + cannotWrite("DISK01/LARGE"));
  expectTree(work.path(), {{"DISK01", kFolder}, {"DISK01/OK", toString(disk.fileBytes({4}, 128))}});
}

// ---------------------------------------------------------------------------------------------
// Whole images.

// 64 disks are visited, a 65th is not: the reader finds at most 64.
TEST(BlockToolImageTest, SixtyFourDisks) {
  std::vector<D88Disk> disks;
  std::string out;
  std::string err;
  Tree expected;
  for (int i = 0; i < 65; ++i) {
    BlockDisk disk = volumeDisk(static_cast<std::uint8_t>('0' + i), 5);
    if (i % 10 == 7) disk.flat.logical(blockStartSector(0))[1] = 0; // not a block volume
    for (int b = 3; b < 7; ++b)
      disk.putBlock(b, noise(2048, static_cast<std::uint32_t>(i * 16 + b)));
    const int records = 1 + i;
    disk.setEntry(1, fileEntry("FILE", "", records, {3, 4, 5, 6}));
    disk.setEntry(2, fileEntry("N" + std::to_string(i), "", 1, {6}));
    disks.push_back(disk.toD88("DISK " + std::to_string(i)));
    if (i == 64) break;
    if (i % 10 == 7) {
      err += notBlockVolume(i + 1);
      continue;
    }
    out += extracting(i + 1);
    char folder[16];
    std::snprintf(folder, sizeof folder, "DISK%02d", i);
    expected[folder] = kFolder;
    expected[std::string(folder) + "/FILE"] =
        toString(disk.fileBytes({3, 4, 5, 6}, static_cast<std::size_t>(records) * 128));
    expected[std::string(folder) + "/N" + std::to_string(i)] = toString(disk.fileBytes({6}, 128));
  }
  TempDir work;
  expectRun(runOn(work.path(), disks), 0, out, err);
  expectTree(work.path(), expected);
}

// Each message stands where the tool wrote it when both streams go to one place.
TEST(BlockToolImageTest, MessagesInOrderOnOneStream) {
  BlockDisk other(12);
  BlockDisk block = volumeDisk('2');
  block.addFile(1, "A", "", noise(128, 1), {3});
  block.addFile(2, "B", "", noise(128, 2), {4});
  TempDir work;
  ASSERT_TRUE(writeBytesToFile(work / "DISK02", Bytes(1, 'x')));
  RunOptions options;
  options.mergeOutput = true;
  const RunResult result =
      runOn(work.path(), {other.toD88(), block.toD88(), other.toD88()}, options);
  expectRun(result, 1,
            notBlockVolume(1) + extracting(2) + cannotWrite("DISK02/A") + cannotWrite("DISK02/B") +
                notBlockVolume(3),
            "");
}

// A disk size of 0 chains the first header to itself: the reader counts it 64 times, and with
// that size no track passes, so no directory can be read.
TEST(BlockToolImageTest, DiskSizeZeroGivesSixtyFourUnreadableDisks) {
  BlockDisk disk = volumeDisk();
  disk.addFile(1, "A", "", noise(128, 1), {3});
  D88Disk d88 = disk.toD88();
  d88.sizeOverride = 0;
  std::string err;
  for (int i = 1; i <= 64; ++i)
    err += notBlockVolume(i);
  TempDir work;
  expectRun(runOn(work.path(), {d88}), 0, "", err);
  expectTree(work.path(), {});
}

// An image cut inside a file's second sector: the bytes that are there are copied, the rest of
// the file is what the data buffer held, and the file keeps its full size.
TEST(BlockToolImageTest, ImageCutInsideAFile) {
  BlockDisk disk = volumeDisk('1', 4);
  disk.putBlock(3, noise(2048, 3)); // track 3, sectors 2 and 3
  disk.putBlock(2, noise(2048, 2)); // track 2 sector 5, track 3 sector 1
  disk.setEntry(1, fileEntry("A", "", 16, {2}));
  disk.setEntry(2, fileEntry("B", "", 16, {3}));
  const Bytes whole = buildD88({disk.toD88()});
  const Bytes secondSector = slice(disk.block(3), 1024, 1024);
  const auto at = std::search(whole.begin(), whole.end(), secondSector.begin(), secondSector.end());
  ASSERT_NE(at, whole.end());
  const std::size_t cut = static_cast<std::size_t>(at - whole.begin()) + 100;
  TempDir work;
  expectRun(runOnImage(work.path(), slice(whole, 0, cut)), 0, extracting(1), "");
  expectTree(work.path(), {{"DISK01", kFolder},
                           {"DISK01/A", toString(disk.block(2))},
                           {"DISK01/B", toString(concat({slice(disk.block(3), 0, 1124),
                                                         slice(disk.block(2), 1124, 924)}))}});
}

} // namespace
