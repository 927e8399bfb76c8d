#include "d88image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#ifdef __linux__
#include <dirent.h>
#endif

#include "d88builder.h"
#include "flatdisk.h"
#include "runtool.h"

namespace {

constexpr std::size_t kHeaderBytes = 688;
constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kGuardBytes = 64;

// Writes the disks to image.d88 in `dir` and yields its path.
std::string imageFile(const TempDir& dir, const std::vector<D88Disk>& disks) {
  const std::string path = dir / "image.d88";
  EXPECT_TRUE(writeBytesToFile(path, buildD88(disks)));
  return path;
}

std::string bytesFile(const TempDir& dir, const Bytes& bytes, const std::string& name) {
  const std::string path = dir / name;
  EXPECT_TRUE(writeBytesToFile(path, bytes));
  return path;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A disk of its header alone, with the given name and, when set, a stored disk size.
D88Disk headerDisk(const std::string& name, std::optional<std::uint32_t> size = std::nullopt) {
  D88Disk disk;
  disk.name = name;
  disk.sizeOverride = size;
  return disk;
}

// `length` bytes that tell which sector they belong to: the track index, the sector number,
// then a pattern seeded by both, so no two sectors of a fixture hold the same bytes.
Bytes sectorData(int track, int r, std::size_t length) {
  Bytes out(length);
  for (std::size_t i = 0; i < length; ++i)
    out[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(track * 37 + r * 11 + 1));
  if (length > 0) out[0] = static_cast<std::uint8_t>(track);
  if (length > 1) out[1] = static_cast<std::uint8_t>(r);
  return out;
}

// Sectors first..last of track index `track` with IDs (track / 2, track % 2, r, n), each
// holding sectorData(track, r, 128 << n).
D88Track idTrack(int track, int first, int last, int n = 3) {
  D88Track result;
  for (int r = first; r <= last; ++r) {
    SectorRecord record = makeSector(track / 2, track % 2, r, n, 0, 0);
    record.data = sectorData(track, r, static_cast<std::size_t>(128) << n);
    result.records.push_back(std::move(record));
  }
  return result;
}

SectorRecord withCount(SectorRecord record, std::uint16_t count) {
  record.count = count;
  return record;
}

// A destination of `length` bytes and a guard region after it, every byte the canary, so a test
// sees which bytes a read wrote and that it wrote none past what it was allowed.
class Guarded {
public:
  explicit Guarded(std::size_t destLength)
      : length(destLength), bytes(destLength + kGuardBytes, kCanary) {}

  std::uint8_t* data() { return bytes.data(); }
  const std::uint8_t* begin() const { return bytes.data(); }
  // Fills the destination and the guard with the canary again.
  void reset() { std::fill(bytes.begin(), bytes.end(), kCanary); }
  std::int32_t size() const { return static_cast<std::int32_t>(length); }
  Bytes head(std::int32_t count) const {
    return Bytes(bytes.begin(), bytes.begin() + (count < 0 ? 0 : count));
  }
  // True when every byte from `from` to the end of the guard still holds the canary.
  bool untouchedFrom(std::size_t from) const {
    // Compared a block at a time: the cut test checks millions of bytes.
    static const Bytes canaries(1024, kCanary);
    for (std::size_t at = from; at < bytes.size(); at += canaries.size()) {
      const std::size_t count = std::min(canaries.size(), bytes.size() - at);
      if (std::memcmp(bytes.data() + at, canaries.data(), count) != 0) return false;
    }
    return true;
  }
  bool guardIntact() const { return untouchedFrom(length); }

private:
  std::size_t length;
  Bytes bytes;
};

// Number of file descriptors this process holds, or -1 where the system does not list them.
int openDescriptors() {
#ifdef __linux__
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (::readdir(dir) != nullptr)
    ++count;
  ::closedir(dir);
  return count;
#else
  return -1;
#endif
}

// Every read a reader offers yields 0 and writes nothing.
void expectNothingReads(D88Image& image, int track) {
  Guarded dest(1024);
  EXPECT_EQ(image.readSector(track, track / 2, track % 2, 1, 3, dest.data(), 1024), 0);
  EXPECT_EQ(image.readSectors(track, track / 2, track % 2, 1, 3, dest.data(), 1024), 0);
  EXPECT_EQ(image.readSectorIds(track, dest.data(), 64), 0);
  EXPECT_TRUE(dest.untouchedFrom(0));
}

TEST(D88ImageTest, ReadsASectorByItsId) {
  TempDir dir;
  D88Disk disk;
  disk.name = "SAMPLE";
  const Bytes data = patternBytes(8192, 3);
  disk.tracks[1] = makeTrack(1, 1, 8, data);
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_EQ(image.diskCount(), 1);
  ASSERT_TRUE(image.selectDisk(0));
  EXPECT_STREQ(image.diskName(), "SAMPLE");
  std::uint8_t buffer[1024] = {};
  ASSERT_EQ(image.readSector(1, 0, 1, 2, 3, buffer, 1024), 1024);
  EXPECT_EQ(Bytes(buffer, buffer + 1024), Bytes(data.begin() + 1024, data.begin() + 2048));
}

// --- The scan --------------------------------------------------------------------------------

struct ScanCase {
  const char* what;
  Bytes file;
  std::vector<std::string> names; // the name of every image found, in file order
};

std::vector<std::string> repeated(const std::string& first, const std::string& rest, int total) {
  std::vector<std::string> names{first};
  while (static_cast<int>(names.size()) < total)
    names.push_back(rest);
  return names;
}

std::vector<ScanCase> scanCases() {
  std::vector<ScanCase> cases;
  const Bytes a = buildD88({headerDisk("A")}); // 688 bytes, disk size 688
  const Bytes b = buildD88({headerDisk("B")});
  cases.push_back({"empty file", {}, {}});
  cases.push_back({"a header cut to 687 bytes", Bytes(a.begin(), a.end() - 1), {}});
  cases.push_back({"one header", a, {"A"}});
  cases.push_back(
      {"687 bytes after the last image are ignored", join({a, Bytes(687, 'B')}), {"A"}});
  // The second header is 688 'B' bytes: its size 0x42424242 points past the end of the file.
  cases.push_back({"688 bytes after the last image are one more image, whatever they hold",
                   join({a, Bytes(688, 'B')}),
                   {"A", "BBBBBBBBBBBBBBBB"}});
  cases.push_back({"a disk size of 0 counts the same header for every place up to 64",
                   buildD88({headerDisk("Z", 0)}), repeated("Z", "Z", 64)});
  cases.push_back({"a disk size of 0 on the second image fills the rest",
                   buildD88({headerDisk("A"), headerDisk("Z", 0)}), repeated("A", "Z", 64)});
  // Image B stands at 688, but the chain points one byte further, where only 687 bytes are left.
  cases.push_back({"a disk size one byte past the next header ends the chain",
                   join({buildD88({headerDisk("A", 689)}), b}),
                   {"A"}});
  cases.push_back({"a disk size far past the end of the file ends the chain",
                   join({buildD88({headerDisk("A", 0x10000)}), b}),
                   {"A"}});
  {
    D88Disk disk;
    disk.name = "T0";
    disk.tracks[0] = idTrack(0, 1, 2);
    D88Disk other;
    other.name = "T1";
    other.tracks[5] = idTrack(5, 1, 1);
    cases.push_back({"images with tracks chain by their sizes",
                     buildD88({disk, other, disk}),
                     {"T0", "T1", "T0"}});
  }
  {
    std::vector<D88Disk> disks;
    std::vector<std::string> names;
    for (int i = 0; i < 65; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, "D%02d", i);
      disks.push_back(headerDisk(name));
      if (i < 64) names.push_back(name);
    }
    cases.push_back({"of 65 images the first 64 are found", buildD88(disks), names});
  }
  // Sizes of 2^31 and more. Held as signed 32-bit values, 0xFFFFFD50 would point back to
  // offset 0 and 0xFFFFFFFF one byte before the second header, where 688 bytes stand: both
  // would chain on. The scan ends after the image whose size passes 2^31 - 1 instead.
  cases.push_back({"a size that wraps back to offset 0 ends the scan after its image",
                   join({a, buildD88({headerDisk("B", 0xFFFFFD50)})}),
                   {"A", "B"}});
  cases.push_back({"a size of 0xFFFFFFFF ends the scan after its image",
                   join({a, buildD88({headerDisk("B", 0xFFFFFFFF)}), a}),
                   {"A", "B"}});
  cases.push_back({"a size of 2^31 ends the scan after its image",
                   join({buildD88({headerDisk("A", 0x80000000)}), b}),
                   {"A"}});
  cases.push_back({"a size of 2^31 - 1 chains to a probe past the end",
                   join({buildD88({headerDisk("A", 0x7FFFFFFF)}), b}),
                   {"A"}});
  cases.push_back({"a running offset past 2^31 - 1 ends the scan",
                   join({a, buildD88({headerDisk("B", 0x7FFFFFFF)}), a}),
                   {"A", "B"}});
  return cases;
}

TEST(D88ImageScanTest, FindsTheChainedImages) {
  for (const ScanCase& test : scanCases()) {
    SCOPED_TRACE(test.what);
    TempDir dir;
    D88Image image;
    ASSERT_TRUE(image.open(bytesFile(dir, test.file, "scan.d88").c_str()));
    ASSERT_EQ(image.diskCount(), static_cast<std::int32_t>(test.names.size()));
    for (std::size_t i = 0; i < test.names.size(); ++i) {
      ASSERT_TRUE(image.selectDisk(static_cast<std::int32_t>(i))) << "disk " << i;
      EXPECT_EQ(std::string(image.diskName()), test.names[i]) << "disk " << i;
    }
    EXPECT_FALSE(image.selectDisk(image.diskCount()));
  }
}

// --- Opening, selecting and the reader's state -----------------------------------------------

TEST(D88ImageSelectTest, NewReaderHasNoFileAndNoDisk) {
  D88Image image;
  EXPECT_EQ(image.diskCount(), 0);
  EXPECT_EQ(image.currentDisk(), -1);
  EXPECT_EQ(image.mediaType(), -1);
  EXPECT_STREQ(image.diskName(), "");
  EXPECT_FALSE(image.selectDisk(0));
  expectNothingReads(image, 0);
}

TEST(D88ImageSelectTest, OpenSelectsNoDisk) {
  TempDir dir;
  D88Disk disk;
  disk.name = "DISK";
  disk.tracks[0] = idTrack(0, 1, 1);
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  EXPECT_EQ(image.currentDisk(), -1);
  EXPECT_EQ(image.mediaType(), -1);
  EXPECT_STREQ(image.diskName(), "");
  expectNothingReads(image, 0);
}

TEST(D88ImageSelectTest, SelectedDiskDecidesWhichTracksAreRead) {
  TempDir dir;
  D88Disk first;
  first.name = "FIRST";
  first.mediaType = 0x00;
  first.tracks[0].records = {makeSector(0, 0, 1, 3, 1024, 0x11)};
  D88Disk second;
  second.name = "SECOND";
  second.mediaType = 0x10;
  second.tracks[0].records = {makeSector(0, 0, 1, 3, 1024, 0x22)};
  second.tracks[1].records = {makeSector(0, 1, 1, 3, 1024, 0x33)};
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {first, second}).c_str()));
  ASSERT_EQ(image.diskCount(), 2);

  const struct {
    int disk;
    const char* name;
    int media;
    std::uint8_t track0Fill;
    std::int32_t track1Length;
  } steps[] = {{1, "SECOND", 0x10, 0x22, 1024},
               {0, "FIRST", 0x00, 0x11, 0},
               {1, "SECOND", 0x10, 0x22, 1024}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    ASSERT_TRUE(image.selectDisk(step.disk));
    EXPECT_EQ(image.currentDisk(), step.disk);
    EXPECT_STREQ(image.diskName(), step.name);
    EXPECT_EQ(image.mediaType(), step.media);
    Guarded dest(1024);
    ASSERT_EQ(image.readSector(0, 0, 0, 1, 3, dest.data(), 1024), 1024);
    EXPECT_EQ(dest.head(1024), Bytes(1024, step.track0Fill));
    EXPECT_EQ(image.readSector(1, 0, 1, 1, 3, dest.data(), 1024), step.track1Length);
    EXPECT_TRUE(dest.guardIntact());
  }
}

TEST(D88ImageSelectTest, IndexOutOfRangeLeavesNoDiskSelected) {
  TempDir dir;
  D88Disk disk;
  disk.name = "GOOD";
  disk.mediaType = 0x20;
  disk.tracks[0] = idTrack(0, 1, 2);
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk, disk}).c_str()));
  ASSERT_EQ(image.diskCount(), 2);
  for (std::int32_t index : {-1, 2, 3, 63, 64, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(image.selectDisk(1));
    ASSERT_EQ(image.currentDisk(), 1);
    EXPECT_FALSE(image.selectDisk(index));
    EXPECT_EQ(image.currentDisk(), -1);
    EXPECT_EQ(image.mediaType(), -1);
    EXPECT_STREQ(image.diskName(), "");
    // The earlier disk's track table is still held, but no track of it may be read now.
    expectNothingReads(image, 0);
  }
}

TEST(D88ImageSelectTest, NameIsTheBytesBeforeTheFirstZero) {
  const struct {
    const char* what;
    Bytes stored; // header bytes 0x00 to 0x10, the 17th byte included
    std::string name;
  } cases[] = {
      {"16 non-zero bytes are taken whole; the 17th byte is not read", bytesOf("ABCDEFGHIJKLMNOPQ"),
       "ABCDEFGHIJKLMNOP"},
      {"the name ends at the first zero byte", bytesOf(std::string("ABC\0DEFGHIJKLMNO", 16)),
       "ABC"},
      {"a zero first byte is an empty name", bytesOf(std::string("\0BCDEFGHIJKLMNOP", 16)), ""},
      // "ディスク" in Shift-JIS and three more bytes, taken as they are stored.
      {"bytes are taken with no character set",
       Bytes{0x83, 0x66, 0x83, 0x42, 0x83, 0x58, 0x83, 0x4E, 0xFF, 0x80, 0x01},
       "\x83\x66\x83\x42\x83\x58\x83\x4E\xFF\x80\x01"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    TempDir dir;
    // Disk 0 fills all 16 name bytes first, so stale bytes would show behind a shorter name.
    D88Disk full = headerDisk("XXXXXXXXXXXXXXXX");
    D88Disk disk = headerDisk("");
    disk.headerPatch[0] = test.stored;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {full, disk}).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    ASSERT_STREQ(image.diskName(), "XXXXXXXXXXXXXXXX");
    ASSERT_TRUE(image.selectDisk(1));
    const char* name = image.diskName();
    EXPECT_EQ(std::string(name), test.name);
    for (std::size_t i = test.name.size(); i <= 16; ++i)
      EXPECT_EQ(name[i], '\0') << "name byte " << i;
  }
}

TEST(D88ImageSelectTest, MediaTypeIsTheStoredByte) {
  TempDir dir;
  const std::uint8_t types[] = {0x00, 0x10, 0x20, 0x01, 0xFF};
  std::vector<D88Disk> disks;
  for (std::uint8_t type : types) {
    D88Disk disk = headerDisk("M");
    disk.mediaType = type;
    disks.push_back(disk);
  }
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, disks).c_str()));
  ASSERT_EQ(image.diskCount(), 5);
  for (std::int32_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(image.selectDisk(i));
    EXPECT_EQ(image.mediaType(), types[i]) << "disk " << i;
  }
}

TEST(D88ImageOpenTest, MissingFile) {
  TempDir dir;
  const int descriptors = openDescriptors();
  D88Image image;
  EXPECT_FALSE(image.open((dir / "missing.d88").c_str()));
  EXPECT_EQ(image.diskCount(), 0);
  EXPECT_FALSE(image.selectDisk(0));
  expectNothingReads(image, 0);
  EXPECT_EQ(openDescriptors(), descriptors);
}

TEST(D88ImageOpenTest, MissingFileAfterAnOpenOneLeavesNoFile) {
  TempDir dir;
  D88Disk disk = headerDisk("D");
  disk.tracks[0] = idTrack(0, 1, 1);
  D88Image image;
  const int descriptors = openDescriptors();
  ASSERT_TRUE(image.open(imageFile(dir, {disk, disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(1));
  EXPECT_FALSE(image.open((dir / "missing.d88").c_str()));
  EXPECT_EQ(openDescriptors(), descriptors); // the earlier file was closed
  EXPECT_EQ(image.diskCount(), 2);           // the count of the earlier open stands
  // The disk selected before belonged to the file that is closed now.
  EXPECT_EQ(image.currentDisk(), -1);
  EXPECT_STREQ(image.diskName(), "");
  EXPECT_EQ(image.mediaType(), -1);
  EXPECT_FALSE(image.selectDisk(0));
  expectNothingReads(image, 0);
}

TEST(D88ImageOpenTest, EmptyFileHoldsNoImage) {
  TempDir dir;
  D88Image image;
  ASSERT_TRUE(image.open(bytesFile(dir, {}, "empty.d88").c_str()));
  EXPECT_EQ(image.diskCount(), 0);
  EXPECT_FALSE(image.selectDisk(0));
  expectNothingReads(image, 0);
}

TEST(D88ImageOpenTest, NullPathClosesTheFile) {
  TempDir dir;
  D88Disk disk = headerDisk("NULL");
  disk.mediaType = 0x10;
  disk.tracks[0] = idTrack(0, 1, 1);
  const int descriptors = openDescriptors();

  D88Image fresh;
  EXPECT_TRUE(fresh.open(nullptr));
  EXPECT_EQ(fresh.diskCount(), 0);

  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk, disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(1));
  EXPECT_TRUE(image.open(nullptr));
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_EQ(image.diskCount(), 0);
  EXPECT_EQ(image.currentDisk(), -1);
  EXPECT_EQ(image.mediaType(), -1);
  EXPECT_FALSE(image.selectDisk(0));
  expectNothingReads(image, 0);
  EXPECT_TRUE(image.open(nullptr)); // with no file open as well
}

TEST(D88ImageOpenTest, OpenAgainClosesTheEarlierFileAndClearsTheSelection) {
  TempDir dir;
  D88Disk first = headerDisk("FIRST");
  first.mediaType = 0x10;
  first.tracks[0].records = {makeSector(0, 0, 1, 3, 1024, 0x11)};
  D88Disk second = headerDisk("SECOND");
  second.tracks[0].records = {makeSector(0, 0, 1, 3, 1024, 0x22)};
  const std::string firstPath = bytesFile(dir, buildD88({first, first, first}), "first.d88");
  const std::string secondPath = bytesFile(dir, buildD88({second}), "second.d88");
  const int descriptors = openDescriptors();

  D88Image image;
  ASSERT_TRUE(image.open(firstPath.c_str()));
  ASSERT_TRUE(image.selectDisk(2));
  ASSERT_TRUE(image.open(secondPath.c_str()));
  EXPECT_EQ(image.diskCount(), 1);
  EXPECT_EQ(image.currentDisk(), -1);
  EXPECT_EQ(image.mediaType(), -1);
  EXPECT_STREQ(image.diskName(), "");
  expectNothingReads(image, 0);
  ASSERT_TRUE(image.selectDisk(0));
  EXPECT_STREQ(image.diskName(), "SECOND");
  Guarded dest(1024);
  ASSERT_EQ(image.readSector(0, 0, 0, 1, 3, dest.data(), 1024), 1024);
  EXPECT_EQ(dest.head(1024), Bytes(1024, 0x22));
  if (descriptors >= 0) {
    EXPECT_EQ(openDescriptors(), descriptors + 1);
  }
}

TEST(D88ImageOpenTest, DestructionClosesTheFile) {
  TempDir dir;
  const std::string path = imageFile(dir, {headerDisk("D")});
  const int descriptors = openDescriptors();
  {
    D88Image image;
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_TRUE(image.selectDisk(0));
  }
  EXPECT_EQ(openDescriptors(), descriptors);
}

// --- The sector range of a run ---------------------------------------------------------------

TEST(D88ImageRangeTest, NewReaderRunsWithSectorsOneToSixteen) {
  TempDir dir;
  D88Disk disk;
  disk.tracks[0] = idTrack(0, 1, 16);
  disk.tracks[1] = idTrack(1, 1, 16);
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  // Sector 8 does not end the track, sector 16 does.
  Guarded dest(4096);
  ASSERT_EQ(image.readSectors(0, 0, 0, 8, 3, dest.data(), 1024 * 2), 2048);
  EXPECT_EQ(dest.head(2048), join({sectorData(0, 8, 1024), sectorData(0, 9, 1024)}));
  ASSERT_EQ(image.readSectors(0, 0, 0, 15, 3, dest.data(), 4096), 4096);
  EXPECT_EQ(dest.head(4096), join({sectorData(0, 15, 1024), sectorData(0, 16, 1024),
                                   sectorData(1, 1, 1024), sectorData(1, 2, 1024)}));
  EXPECT_TRUE(dest.guardIntact());
}

TEST(D88ImageRangeTest, RangeStaysAcrossOpenAndSelect) {
  // With sectors 2 to 3 a run goes from sector 3 of track 0 to sector 2 of track 1.
  TempDir dir;
  D88Disk disk;
  disk.tracks[0] = idTrack(0, 1, 4);
  disk.tracks[1] = idTrack(1, 1, 4);
  const std::string path = imageFile(dir, {disk, disk});
  const Bytes expected = join({sectorData(0, 3, 1024), sectorData(1, 2, 1024)});

  D88Image image;
  image.setSectorRange(2, 3);
  ASSERT_TRUE(image.open(path.c_str()));
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);
    if (pass == 1) {
      ASSERT_TRUE(image.open(nullptr));
    }
    if (pass > 0) {
      ASSERT_TRUE(image.open(path.c_str()));
    }
    for (std::int32_t index : {0, 1, 0}) {
      ASSERT_TRUE(image.selectDisk(index));
      Guarded dest(2048);
      ASSERT_EQ(image.readSectors(0, 0, 0, 3, 3, dest.data(), 2048), 2048);
      EXPECT_EQ(dest.head(2048), expected);
    }
  }
  EXPECT_FALSE(image.selectDisk(5)); // a failed select leaves the range too
  ASSERT_TRUE(image.selectDisk(1));
  Guarded dest(2048);
  EXPECT_EQ(image.readSectors(0, 0, 0, 3, 3, dest.data(), 2048), 2048);
  EXPECT_EQ(dest.head(2048), expected);
}

// --- The track test --------------------------------------------------------------------------

TEST(D88ImageTrackTest, RefusesTracksOutsideTheTableAndTheDisk) {
  // Track 0's one record (C 0, H 0, R 1, N 3) lies at offset 688, right after the header; the
  // disk is 688 + 16 + 1024 bytes long.
  constexpr std::uint32_t kTrackStart = 688;
  constexpr std::uint32_t kDiskBytes = 688 + 16 + 1024;
  const struct {
    const char* what;
    std::int32_t track;
    std::map<int, std::uint32_t> entries; // raw track table entries
    std::optional<std::uint32_t> size;    // stored disk size
    bool found;
  } cases[] = {
      {"a track within the disk", 0, {}, std::nullopt, true},
      {"track index 164", 164, {}, std::nullopt, false},
      {"track index 328, twice the table", 328, {}, std::nullopt, false},
      {"track index -1", -1, {}, std::nullopt, false},
      {"track index INT32_MIN", INT32_MIN, {}, std::nullopt, false},
      {"track index INT32_MAX", INT32_MAX, {}, std::nullopt, false},
      {"entry 0 is absent though the records exist", 0, {{0, 0}}, std::nullopt, false},
      {"a track absent from the table", 1, {}, std::nullopt, false},
      {"the ID is found on any track index", 5, {{5, kTrackStart}}, std::nullopt, true},
      {"an entry equal to the disk size passes", 0, {}, kTrackStart, true},
      {"an entry one past the disk size is refused", 0, {}, kTrackStart - 1, false},
      {"an entry far past the disk size is refused", 0, {{0, kDiskBytes * 4}}, std::nullopt, false},
      {"a disk size of 0 refuses every track", 0, {}, 0, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    TempDir dir;
    D88Disk disk;
    disk.tracks[0].records = {makeSector(0, 0, 1, 3, 1024, 0x5A)};
    disk.trackEntryOverride = test.entries;
    disk.sizeOverride = test.size;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    Guarded dest(1024);
    const std::int32_t expected = test.found ? 1024 : 0;
    EXPECT_EQ(image.readSector(test.track, 0, 0, 1, 3, dest.data(), 1024), expected);
    EXPECT_EQ(image.readSectorIds(test.track, dest.data() + 1024, 4), test.found ? 4 : 0);
    if (test.found) {
      EXPECT_EQ(dest.head(1024), Bytes(1024, 0x5A));
      EXPECT_TRUE(dest.untouchedFrom(1028));
    } else {
      EXPECT_TRUE(dest.untouchedFrom(0));
    }
  }
}

// --- The walk over a track's records ---------------------------------------------------------

class D88ImageWalkTest : public testing::Test {
protected:
  // Writes one disk whose track 0 holds `records` in this order, opens it and selects it.
  void loadTrack(std::vector<SectorRecord> records, Bytes after = {}) {
    D88Disk disk;
    disk.name = "WALK";
    disk.tracks[0].records = std::move(records);
    path = bytesFile(dir, join({buildD88({disk}), after}), "walk.d88");
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_TRUE(image.selectDisk(0));
  }

  // readSector on track 0 into a guarded buffer; the guard must hold whatever the result.
  std::int32_t read(int c, int h, int r, int n, std::int32_t maxLength, Bytes* copied = nullptr) {
    Guarded dest(static_cast<std::size_t>(maxLength));
    const std::int32_t length = image.readSector(0, c, h, r, n, dest.data(), maxLength);
    EXPECT_TRUE(dest.untouchedFrom(static_cast<std::size_t>(length < 0 ? 0 : length)))
        << "bytes written past the " << length << " reported";
    if (copied != nullptr) *copied = dest.head(length);
    return length;
  }

  TempDir dir;
  std::string path;
  D88Image image;
};

TEST_F(D88ImageWalkTest, FirstRecordWithTheIdWins) {
  ASSERT_NO_FATAL_FAILURE(
      loadTrack({makeSector(0, 0, 2, 3, 1024, 0x22), makeSector(0, 0, 1, 3, 1024, 0x11),
                 makeSector(0, 0, 1, 3, 1024, 0x99)}));
  Bytes copied;
  ASSERT_EQ(read(0, 0, 1, 3, 1024, &copied), 1024);
  EXPECT_EQ(copied, Bytes(1024, 0x11));
}

TEST_F(D88ImageWalkTest, AllFourIdBytesMustMatch) {
  ASSERT_NO_FATAL_FAILURE(
      loadTrack({makeSector(1, 0, 1, 3, 64, 0x01), makeSector(0, 1, 1, 3, 64, 0x02),
                 makeSector(0, 0, 2, 3, 64, 0x03), makeSector(0, 0, 1, 2, 64, 0x04),
                 makeSector(0, 0, 1, 3, 64, 0x05)}));
  const struct {
    int c, h, r, n;
    std::int32_t length;
    std::uint8_t fill;
  } asks[] = {
      {0, 0, 1, 3, 64, 0x05}, {1, 0, 1, 3, 64, 0x01}, {0, 1, 1, 3, 64, 0x02},
      {0, 0, 2, 3, 64, 0x03}, {0, 0, 1, 2, 64, 0x04}, {1, 1, 1, 3, 0, 0},
      {0, 0, 3, 3, 0, 0},     {1, 0, 2, 3, 0, 0},     {0, 0, 1, 4, 0, 0},
  };
  for (const auto& ask : asks) {
    SCOPED_TRACE(testing::Message() << ask.c << "," << ask.h << "," << ask.r << "," << ask.n);
    Bytes copied;
    ASSERT_EQ(read(ask.c, ask.h, ask.r, ask.n, 1024, &copied), ask.length);
    EXPECT_EQ(copied, Bytes(static_cast<std::size_t>(ask.length), ask.fill));
  }
}

TEST_F(D88ImageWalkTest, ArgumentsOutsideZeroTo255NeverMatch) {
  ASSERT_NO_FATAL_FAILURE(
      loadTrack({makeSector(0, 0, 0, 0, 128, 0x01), makeSector(255, 255, 255, 255, 128, 0x02)}));
  EXPECT_EQ(read(0, 0, 0, 0, 128), 128);
  EXPECT_EQ(read(255, 255, 255, 255, 128), 128);
  const int asks[][4] = {
      {256, 0, 0, 0},      {0, 256, 0, 0},      {0, 0, 256, 0},       {0, 0, 0, 256},
      {-1, 255, 255, 255}, {255, -1, 255, 255}, {255, 255, -1, 255},  {255, 255, 255, -1},
      {-256, 0, 0, 0},     {0, 0, 0, -256},     {511, 255, 255, 255}, {0, 0, 0x10000, 0},
  };
  for (const auto& ask : asks) {
    SCOPED_TRACE(testing::Message() << ask[0] << "," << ask[1] << "," << ask[2] << "," << ask[3]);
    EXPECT_EQ(read(ask[0], ask[1], ask[2], ask[3], 128), 0);
  }
}

TEST_F(D88ImageWalkTest, RecordWithCountZeroEndsTheTrack) {
  ASSERT_NO_FATAL_FAILURE(loadTrack({withCount(makeSector(0, 0, 1, 3, 64, 0x01), 3),
                                     withCount(makeSector(0, 0, 2, 3, 64, 0x02), 0),
                                     withCount(makeSector(0, 0, 3, 3, 64, 0x03), 3)}));
  EXPECT_EQ(read(0, 0, 1, 3, 1024), 64);
  EXPECT_EQ(read(0, 0, 2, 3, 1024), 0); // the record with count 0 is not matched itself
  EXPECT_EQ(read(0, 0, 3, 3, 1024), 0);
}

TEST(D88ImageWalkCountTest, RecordAtCountMinusOneIsTheLastSearched) {
  const struct {
    const char* what;
    std::vector<std::uint16_t> counts; // stored in records R 1, 2, ... in track order
    int lastFound;                     // records after this R are not reached
  } cases[] = {
      {"the count of every record", {4, 4, 4, 4}, 4},
      {"a count below the number of records", {3, 3, 3, 3}, 3},
      {"a count of 1 ends after the first record", {1, 1, 1}, 1},
      {"the count is read again from each record", {5, 2, 5, 5}, 2},
      {"an early record's count does not end the track", {2, 5, 5, 5, 5}, 5},
      {"a count of 2 on the second record ends it", {9, 2, 9}, 2},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    std::vector<SectorRecord> records;
    for (std::size_t i = 0; i < test.counts.size(); ++i) {
      const int r = static_cast<int>(i) + 1;
      records.push_back(
          withCount(makeSector(0, 0, r, 1, 256, static_cast<std::uint8_t>(r)), test.counts[i]));
    }
    D88Disk disk;
    disk.tracks[0].records = records;
    TempDir dir;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    for (int r = 1; r <= static_cast<int>(test.counts.size()); ++r) {
      Guarded dest(256);
      EXPECT_EQ(image.readSector(0, 0, 0, r, 1, dest.data(), 256), r <= test.lastFound ? 256 : 0)
          << "R " << r;
      EXPECT_TRUE(dest.guardIntact());
    }
  }
}

TEST(D88ImageWalkLengthTest, DataLengthDecidesWhatIsCopiedAndSkipped) {
  // Records before the one asked for, of lengths that are not their nominal ones: the walk
  // steps over each by its stored data length.
  std::vector<SectorRecord> records = {
      makeSector(0, 0, 9, 3, 0, 0), makeSector(0, 0, 8, 3, 1, 0xE1),
      makeSector(0, 0, 7, 0, 300, 0xE2), makeSector(0, 0, 6, 1, 2048, 0xE3)};
  const struct {
    const char* what;
    int n;
    std::size_t dataLength;
    std::int32_t maxLength;
    std::int32_t expected;
  } cases[] = {
      {"N 3 with 512 data bytes is copied as 512", 3, 512, 1024, 512},
      {"N 1 with 1024 data bytes is copied as 1024", 1, 1024, 1024, 1024},
      {"maxLength cuts the copy", 3, 1024, 256, 256},
      {"maxLength of the data length", 3, 100, 100, 100},
      {"maxLength 0 yields 0 though the sector exists", 3, 1024, 0, 0},
      {"a record of no data yields 0", 3, 0, 1024, 0},
      {"a data length of 65535", 0, 65535, 65535, 65535},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    TempDir dir;
    std::vector<SectorRecord> track = records;
    SectorRecord target = makeSector(0, 0, 1, test.n, 0, 0);
    target.data = sectorData(0, 1, test.dataLength);
    track.push_back(target);
    track.push_back(makeSector(0, 0, 2, 3, 1024, 0xEE)); // bytes the copy must not reach
    D88Disk disk;
    disk.tracks[0].records = track;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    Guarded dest(static_cast<std::size_t>(test.maxLength));
    ASSERT_EQ(image.readSector(0, 0, 0, 1, test.n, dest.data(), test.maxLength), test.expected);
    EXPECT_EQ(dest.head(test.expected),
              Bytes(target.data.begin(), target.data.begin() + test.expected));
    EXPECT_TRUE(dest.untouchedFrom(static_cast<std::size_t>(test.expected)));
    // The records skipped on the way are still found by their own IDs.
    Guarded other(2048);
    EXPECT_EQ(image.readSector(0, 0, 0, 6, 1, other.data(), 2048), 2048);
    EXPECT_EQ(image.readSector(0, 0, 0, 7, 0, other.data(), 2048), 300);
    EXPECT_EQ(image.readSector(0, 0, 0, 8, 3, other.data(), 2048), 1);
    EXPECT_EQ(image.readSector(0, 0, 0, 9, 3, other.data(), 2048), 0);
    EXPECT_TRUE(other.guardIntact());
  }
}

// --- The end of the file inside a track and damaged tracks -----------------------------------

TEST_F(D88ImageWalkTest, SectorHeaderCutByTheEndOfTheFileIsNotRead) {
  // After the track's first record the file ends ten bytes into a header whose first bytes
  // name the sector asked for: a header not read whole is never taken as a record.
  ASSERT_NO_FATAL_FAILURE(loadTrack({withCount(makeSector(0, 0, 1, 3, 64, 0x01), 2)},
                                    Bytes{0, 0, 2, 3, 2, 0, 0, 0, 0, 0}));
  EXPECT_EQ(read(0, 0, 1, 3, 1024), 64);
  EXPECT_EQ(read(0, 0, 2, 3, 1024), 0);
  Guarded ids(64);
  EXPECT_EQ(image.readSectorIds(0, ids.data(), 64), 4);
  EXPECT_TRUE(ids.untouchedFrom(4));
}

TEST_F(D88ImageWalkTest, SectorDataCutByTheEndOfTheFileYieldsTheBytesCopied) {
  // The last record claims 1024 data bytes; only 300 follow it in the file.
  SectorRecord cut = makeSector(0, 0, 2, 3, 0, 0);
  cut.data = sectorData(0, 2, 300);
  cut.dataLength = 1024;
  ASSERT_NO_FATAL_FAILURE(loadTrack({makeSector(0, 0, 1, 3, 1024, 0x01), cut}));
  Bytes copied;
  EXPECT_EQ(read(0, 0, 2, 3, 1024, &copied), 300);
  EXPECT_EQ(copied, cut.data);
  EXPECT_EQ(read(0, 0, 2, 3, 200, &copied), 200);
  EXPECT_EQ(copied, Bytes(cut.data.begin(), cut.data.begin() + 200));
  // A run counts the cut sector as short.
  Guarded dest(2048);
  EXPECT_EQ(image.readSectors(0, 0, 0, 1, 3, dest.data(), 2048), 1024);
  EXPECT_EQ(dest.head(1024), Bytes(1024, 0x01));
  EXPECT_TRUE(dest.untouchedFrom(1024 + 300));
}

TEST_F(D88ImageWalkTest, DamagedTrackEndsAtTheEndOfTheFile) {
  // No record's count ever equals its position + 1 (positions 0, 1, 2, ...), and none is 0:
  // only the end of the file ends the walk.
  std::vector<SectorRecord> records;
  const std::uint16_t counts[] = {9, 9, 1, 1, 2, 2, 0xFFFF};
  for (std::size_t i = 0; i < 7; ++i) {
    records.push_back(withCount(
        makeSector(0, 0, static_cast<int>(i) + 1, 3, i % 2 == 0 ? 0 : 32, 0x40), counts[i]));
  }
  ASSERT_NO_FATAL_FAILURE(loadTrack(records));
  EXPECT_EQ(read(0, 0, 7, 3, 1024), 0); // the last record: found, with no data
  EXPECT_EQ(read(0, 0, 6, 3, 1024), 32);
  EXPECT_EQ(read(0, 0, 99, 3, 1024), 0);
  Guarded ids(4 * 20);
  EXPECT_EQ(image.readSectorIds(0, ids.data(), 4 * 20), 4 * 7);
  EXPECT_TRUE(ids.untouchedFrom(4 * 7));
  Guarded dest(1024 * 8);
  EXPECT_EQ(image.readSectors(0, 0, 0, 1, 3, dest.data(), 1024 * 8), 0);
  EXPECT_TRUE(dest.untouchedFrom(0));
}

TEST_F(D88ImageWalkTest, WalkEndsAfterMoreRecordsThanAnyTrackHolds) {
  // Counts of 0xFFFF never mark a last record within these records: only the limit ends the walk.
  std::vector<SectorRecord> records;
  for (int i = 0; i < D88Image::kMaxTrackRecords + 8; ++i) {
    const int r = i == D88Image::kMaxTrackRecords - 1 ? 1 : i == D88Image::kMaxTrackRecords ? 2 : 9;
    records.push_back(
        withCount(makeSector(0, 0, r, 3, r == 9 ? 0 : 16, static_cast<std::uint8_t>(r)), 0xFFFF));
  }
  ASSERT_NO_FATAL_FAILURE(loadTrack(records));
  EXPECT_EQ(read(0, 0, 1, 3, 1024), 16); // the last record the walk looks at
  EXPECT_EQ(read(0, 0, 2, 3, 1024), 0);  // the first one past the limit
  Guarded ids(4 * (D88Image::kMaxTrackRecords + 8));
  EXPECT_EQ(image.readSectorIds(0, ids.data(), 4 * (D88Image::kMaxTrackRecords + 8)),
            4 * D88Image::kMaxTrackRecords);
}

// --- Runs of sectors -------------------------------------------------------------------------

TEST(D88ImageRunTest, RunsFollowTheSectorRangeFromTrackToTrack) {
  D88Disk disk;
  for (int t = 0; t <= 3; ++t)
    disk.tracks[t] = idTrack(t, 1, 8);
  disk.tracks[4] = idTrack(4, 1, 8);
  disk.tracks[4].records.erase(disk.tracks[4].records.begin() + 2); // sector 3 missing
  disk.tracks[6] = idTrack(6, 1, 12);                               // sectors above the range
  disk.tracks[7] = idTrack(7, 1, 8);
  disk.tracks[8] = idTrack(8, 1, 3);
  disk.tracks[8].records[1].data.resize(512); // sector 2 short
  disk.tracks[10] = idTrack(10, 1, 8);        // track 11 absent
  disk.tracks[12] = idTrack(12, 1, 8, 0);     // 128-byte sectors
  disk.tracks[13] = idTrack(13, 1, 8, 0);
  TempDir dir;
  D88Image image;
  image.setSectorRange(1, 8);
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(0));

  const struct {
    const char* what;
    int track, c, h, r, n;
    std::int32_t total;
    std::int32_t expected;
    std::vector<std::pair<int, int>> sectors; // (track, r) whose bytes fill dest in order
    std::size_t mayWrite;                     // bytes past the result a short sector may leave
  } cases[] = {
      // clang-format off
      //                                                  track c  h  r  n  total    result
      {"head 1 goes on at head 0 of the next cylinder",       1, 0, 1, 7, 3, 4096,    4096,
       {{1, 7}, {1, 8}, {2, 1}, {2, 2}}, 0},
      {"head 0 goes on at head 1 of the same cylinder",       0, 0, 0, 7, 3, 4096,    4096,
       {{0, 7}, {0, 8}, {1, 1}, {1, 2}}, 0},
      {"a whole track and one sector of the next",            2, 1, 0, 1, 3, 9216,    9216,
       {{2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {2, 6}, {2, 7}, {2, 8}, {3, 1}}, 0},
      {"a total of one sector and a part copies the part",    0, 0, 0, 1, 3, 1024 + 476, 1500,
       {{0, 1}, {0, 2}}, 0},
      {"a third sector missing yields two sectors",           4, 2, 0, 1, 3, 4096,    2048,
       {{4, 1}, {4, 2}}, 0},
      {"a total of 0 reads nothing",                          0, 0, 0, 1, 3, 0,       0,
       {}, 0},
      {"a start above the range never changes track",         6, 3, 0, 9, 3, 5 * 1024, 4096,
       {{6, 9}, {6, 10}, {6, 11}, {6, 12}}, 0},
      {"a short sector ends the run uncounted",               8, 4, 0, 1, 3, 3072,    1024,
       {{8, 1}}, 512},
      {"an absent track ends the run",                       10, 5, 0, 8, 3, 2048,    1024,
       {{10, 8}}, 0},
      {"the size code sets the sector size of the run",      12, 6, 0, 7, 0, 3 * 128 + 10, 394,
       {{12, 7}, {12, 8}, {13, 1}, {13, 2}}, 0},
      {"c and h that disagree with the track find nothing",   1, 0, 0, 1, 3, 1024,    0,
       {}, 0},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    Guarded dest(static_cast<std::size_t>(test.total));
    ASSERT_EQ(
        image.readSectors(test.track, test.c, test.h, test.r, test.n, dest.data(), test.total),
        test.expected);
    Bytes expected;
    for (const auto& [track, r] : test.sectors) {
      const Bytes data = sectorData(track, r, static_cast<std::size_t>(128) << test.n);
      expected.insert(expected.end(), data.begin(), data.end());
    }
    expected.resize(static_cast<std::size_t>(test.expected));
    EXPECT_EQ(dest.head(test.expected), expected);
    EXPECT_TRUE(dest.untouchedFrom(static_cast<std::size_t>(test.expected) + test.mayWrite));
    EXPECT_TRUE(dest.guardIntact());
  }
}

TEST(D88ImageRunTest, SizeCodeOutsideZeroTo23ReadsNothing) {
  // Records whose N bytes equal the low byte of the codes asked, so a run that went on with
  // such a code would find them.
  D88Disk disk;
  disk.tracks[0].records = {makeSector(0, 0, 1, 24, 64, 0x18), makeSector(0, 0, 1, 31, 64, 0x1F),
                            makeSector(0, 0, 1, 32, 64, 0x20), makeSector(0, 0, 1, 255, 64, 0xFF),
                            makeSector(0, 0, 1, 23, 64, 0x17), makeSector(0, 0, 1, 0, 64, 0x00)};
  TempDir dir;
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  for (int n : {24, 31, 32, 255, -1, -8, 256, INT32_MAX, INT32_MIN}) {
    SCOPED_TRACE(n);
    Guarded dest(64);
    EXPECT_EQ(image.readSectors(0, 0, 0, 1, n, dest.data(), 64), 0);
    EXPECT_TRUE(dest.untouchedFrom(0));
  }
  // Codes 0 and 23 are in range: the first sector's 64 bytes are the whole total.
  for (int n : {0, 23}) {
    SCOPED_TRACE(n);
    Guarded dest(64);
    EXPECT_EQ(image.readSectors(0, 0, 0, 1, n, dest.data(), 64), 64);
    EXPECT_EQ(dest.head(64), Bytes(64, static_cast<std::uint8_t>(n == 0 ? 0x00 : 0x17)));
    EXPECT_TRUE(dest.guardIntact());
  }
}

// --- Listing sector IDs ----------------------------------------------------------------------

TEST(D88ImageIdsTest, ListsTheIdsInTrackOrder) {
  // 16 records out of sector order, with C, H and N that differ from record to record.
  D88Disk disk;
  Bytes ids;
  for (int i = 0; i < 16; ++i) {
    const int r = i % 2 == 0 ? i / 2 + 1 : i / 2 + 9;
    const int c = 40 + i % 3;
    const int h = i % 2;
    const int n = i % 4;
    disk.tracks[3].records.push_back(makeSector(c, h, r, n, 16 * i, static_cast<std::uint8_t>(i)));
    ids.insert(ids.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                           static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)});
  }
  TempDir dir;
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  const struct {
    std::int32_t length;
    std::int32_t expected;
  } cases[] = {{64, 64}, {40, 40}, {80, 64}, {4, 4}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.length);
    Guarded dest(static_cast<std::size_t>(test.length));
    ASSERT_EQ(image.readSectorIds(3, dest.data(), test.length), test.expected);
    EXPECT_EQ(dest.head(test.expected), Bytes(ids.begin(), ids.begin() + test.expected));
    EXPECT_TRUE(dest.untouchedFrom(static_cast<std::size_t>(test.expected)));
  }
}

TEST(D88ImageIdsTest, CountsAndLengthEndTheListing) {
  const struct {
    const char* what;
    std::vector<std::uint16_t> counts; // of records R 1, 2, ... in track order
    std::int32_t length;
    int listed;
  } cases[] = {
      {"every record", {4, 4, 4, 4}, 64, 4},
      {"the record at count - 1 is the last listed", {2, 2, 2, 2}, 64, 2},
      {"the count is read again from each record", {5, 3, 3, 5}, 64, 3},
      {"a record with count 0 ends the listing unlisted", {4, 0, 4, 4}, 64, 1},
      {"a first record with count 0 lists nothing", {0, 4, 4, 4}, 64, 0},
      {"a partial last entry is dropped", {4, 4, 4, 4}, 6, 1},
      {"a length below one entry lists nothing", {4, 4, 4, 4}, 3, 0},
      {"a length of 0 lists nothing", {4, 4, 4, 4}, 0, 0},
      {"length ends the listing", {4, 4, 4, 4}, 8, 2},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    D88Disk disk;
    Bytes ids;
    for (std::size_t i = 0; i < test.counts.size(); ++i) {
      const int r = static_cast<int>(i) + 1;
      disk.tracks[0].records.push_back(withCount(makeSector(0, 0, r, 3, 8, 0x77), test.counts[i]));
      ids.insert(ids.end(), {0, 0, static_cast<std::uint8_t>(r), 3});
    }
    TempDir dir;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    Guarded dest(static_cast<std::size_t>(test.length));
    const std::int32_t expected = 4 * test.listed;
    ASSERT_EQ(image.readSectorIds(0, dest.data(), test.length), expected);
    EXPECT_EQ(dest.head(expected), Bytes(ids.begin(), ids.begin() + expected));
    EXPECT_TRUE(dest.untouchedFrom(static_cast<std::size_t>(expected)));
  }
}

// --- Values of 2^31 and more -----------------------------------------------------------------

TEST(D88ImageLargeValueTest, TrackEntriesOf2To31OrMoreAreRefused) {
  // Disk 0 is 688 + 16 + 128 = 832 bytes; its one record (0, 0, 1, 0) stands at offset 688.
  // Disk 1 starts at 832. Taken as a signed 32-bit value, the entry 0xFFFFFF70 is -144 and would
  // lead from disk 1's header back to disk 0's record.
  const struct {
    const char* what;
    std::uint32_t entry;
    std::optional<std::uint32_t> size; // disk 1's stored size
  } cases[] = {
      {"an entry that wraps back into the disk before", 0xFFFFFF70, std::nullopt},
      {"the same entry on a disk of size 0xFFFFFFFF", 0xFFFFFF70, 0xFFFFFFFF},
      {"an entry of 2^31", 0x80000000, 0xFFFFFFFF},
      {"an entry of 0xFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF},
      {"an entry of 2^31 on a disk of size 2^31", 0x80000000, 0x80000000},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    D88Disk first = headerDisk("A");
    first.tracks[0].records = {makeSector(0, 0, 1, 0, 128, 0x11)};
    D88Disk second = headerDisk("B", test.size);
    second.tracks[0].records = {makeSector(0, 0, 2, 0, 128, 0x22)};
    second.trackEntryOverride[1] = test.entry;
    TempDir dir;
    D88Image image;
    ASSERT_TRUE(image.open(imageFile(dir, {first, second}).c_str()));
    ASSERT_EQ(image.diskCount(), 2);
    ASSERT_TRUE(image.selectDisk(1));
    Guarded dest(128);
    EXPECT_EQ(image.readSector(1, 0, 0, 1, 0, dest.data(), 128), 0);
    EXPECT_EQ(image.readSectorIds(1, dest.data(), 4), 0);
    EXPECT_TRUE(dest.untouchedFrom(0));
    // The disk's own track stays readable.
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 0, dest.data(), 128), 128);
    EXPECT_EQ(dest.head(128), Bytes(128, 0x22));
  }
}

TEST(D88ImageLargeValueTest, DiskSizeOf2To31OrMoreBoundsNoTrack) {
  for (std::uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xC0000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    D88Disk disk = headerDisk("BIG", size);
    disk.tracks[0] = idTrack(0, 1, 1);
    disk.tracks[1] = idTrack(1, 1, 1);
    TempDir dir;
    D88Image image;
    image.setSectorRange(1, 1);
    ASSERT_TRUE(image.open(imageFile(dir, {disk, disk}).c_str()));
    ASSERT_EQ(image.diskCount(), 1);
    ASSERT_TRUE(image.selectDisk(0));
    Guarded dest(2048);
    ASSERT_EQ(image.readSectors(0, 0, 0, 1, 3, dest.data(), 2048), 2048);
    EXPECT_EQ(dest.head(2048), join({sectorData(0, 1, 1024), sectorData(1, 1, 1024)}));
    EXPECT_TRUE(dest.guardIntact());
  }
}

// --- Every cut of a good image ---------------------------------------------------------------

constexpr std::int32_t kCutIdsLength = 64;
constexpr std::int32_t kCutSectorLength = 1024;
constexpr std::int32_t kCutRunLength = 4 * 128 + 50;

// What the reader yields for one disk of the whole image, read as the cut test reads each cut:
// the IDs of every track, each sector listed, and a run from sector 1 of every track.
struct DiskReads {
  std::string name;
  std::vector<Bytes> ids;                  // per track index
  std::vector<std::vector<Bytes>> sectors; // per track index, per listed ID
  std::vector<Bytes> runs;                 // per track index
};

DiskReads readWholeDisk(D88Image& image) {
  DiskReads reads;
  reads.name = image.diskName();
  for (int t = 0; t < D88Image::kTrackCount; ++t) {
    Guarded ids(kCutIdsLength);
    reads.ids.push_back(ids.head(image.readSectorIds(t, ids.data(), kCutIdsLength)));
    reads.sectors.emplace_back();
    const Bytes& listed = reads.ids.back();
    for (std::size_t k = 0; k + 4 <= listed.size(); k += 4) {
      Guarded dest(kCutSectorLength);
      reads.sectors.back().push_back(
          dest.head(image.readSector(t, listed[k], listed[k + 1], listed[k + 2], listed[k + 3],
                                     dest.data(), kCutSectorLength)));
    }
    Guarded run(kCutRunLength);
    reads.runs.push_back(
        run.head(image.readSectors(t, t / 2, t % 2, 1, 0, run.data(), kCutRunLength)));
  }
  return reads;
}

// Destinations reused by every read of the cut test and refilled with the canary before each,
// so that thousands of cuts allocate nothing.
struct CutBuffers {
  Guarded ids{kCutIdsLength};
  Guarded sector{kCutSectorLength};
  Guarded run{kCutRunLength};
};

// A read that yields `length` stays within its destination, writes nothing past that length
// but for the `mayWrite` bytes of a short sector that a run leaves behind, and yields at most
// what the whole image gives, the same bytes: a file cut short can only lose bytes.
bool readFits(const Guarded& dest, std::int32_t length, const Bytes& whole, bool selected,
              std::size_t mayWrite = 0) {
  if (length < 0 || length > dest.size()) return false;
  const std::size_t written = static_cast<std::size_t>(length) + mayWrite;
  if (!dest.untouchedFrom(std::min(written, static_cast<std::size_t>(dest.size())))) return false;
  if (!selected) return length == 0;
  return static_cast<std::size_t>(length) <= whole.size() &&
         std::equal(dest.begin(), dest.begin() + length, whole.begin());
}

// Reads the disk of a cut image the way readWholeDisk read the whole one, asking for every
// sector the whole disk lists, and checks each read against the whole disk's.
testing::AssertionResult cutDiskFits(D88Image& image, const DiskReads& whole, bool selected,
                                     CutBuffers& buffers) {
  for (int t = 0; t < D88Image::kTrackCount; ++t) {
    const std::size_t track = static_cast<std::size_t>(t);
    buffers.ids.reset();
    const std::int32_t listed = image.readSectorIds(t, buffers.ids.data(), kCutIdsLength);
    if (listed % 4 != 0 || !readFits(buffers.ids, listed, whole.ids[track], selected))
      return testing::AssertionFailure() << "readSectorIds of track " << t << " yields " << listed;
    const Bytes& asked = whole.ids[track];
    for (std::size_t k = 0; k + 4 <= asked.size(); k += 4) {
      buffers.sector.reset();
      const std::int32_t length =
          image.readSector(t, asked[k], asked[k + 1], asked[k + 2], asked[k + 3],
                           buffers.sector.data(), kCutSectorLength);
      if (!readFits(buffers.sector, length, whole.sectors[track][k / 4], selected))
        return testing::AssertionFailure()
               << "readSector of track " << t << " record " << k / 4 << " yields " << length;
    }
    buffers.run.reset();
    const std::int32_t done =
        image.readSectors(t, t / 2, t % 2, 1, 0, buffers.run.data(), kCutRunLength);
    if ((done % 128 != 0 && done != kCutRunLength) ||
        !readFits(buffers.run, done, whole.runs[track], selected, 128))
      return testing::AssertionFailure() << "readSectors from track " << t << " yields " << done;
  }
  return testing::AssertionSuccess();
}

TEST(D88ImageCutTest, EveryCutOfATwoDiskImageStaysInBounds) {
  // Two disks of 128-byte sectors: tracks of several records, one of them out of order and one
  // shorter than its nominal length, absent tracks between them, and the last track index.
  D88Disk first = headerDisk("FIRST");
  first.tracks[0] = idTrack(0, 1, 3, 0);
  first.tracks[1] = idTrack(1, 1, 4, 0);
  first.tracks[1].records[2].data.resize(100);
  first.tracks[4] = idTrack(4, 1, 2, 0);
  std::swap(first.tracks[4].records[0], first.tracks[4].records[1]);
  first.trailer = Bytes(40, 0xCC);
  D88Disk second = headerDisk("SECOND");
  second.mediaType = 0x10;
  second.tracks[0] = idTrack(0, 1, 4, 0);
  second.tracks[3] = idTrack(3, 1, 2, 0);
  second.tracks[163] = idTrack(163, 1, 3, 0);
  const Bytes image = buildD88({first, second});
  const std::size_t secondStart = buildD88({first}).size();

  TempDir dir;
  const std::string path = dir / "cut.d88";
  std::vector<DiskReads> whole;
  {
    ASSERT_TRUE(writeBytesToFile(path, image));
    D88Image reader;
    reader.setSectorRange(1, 4);
    ASSERT_TRUE(reader.open(path.c_str()));
    ASSERT_EQ(reader.diskCount(), 2);
    for (std::int32_t d = 0; d < 2; ++d) {
      ASSERT_TRUE(reader.selectDisk(d));
      whole.push_back(readWholeDisk(reader));
    }
    // The fixture reads as built: four IDs on track 1, two records of track 4 in stored order,
    // the short record cutting its run, three sectors on the last track.
    ASSERT_EQ(whole[0].ids[1].size(), 16u);
    ASSERT_EQ(whole[0].ids[4], (Bytes{2, 0, 2, 0, 2, 0, 1, 0}));
    ASSERT_EQ(whole[0].runs[1].size(), 2u * 128);
    ASSERT_EQ(whole[1].runs[163].size(), 3u * 128);
  }

  CutBuffers buffers;
  for (std::size_t cut = 0; cut <= image.size(); ++cut) {
    SCOPED_TRACE(testing::Message()
                 << "image cut to " << cut << " of " << image.size() << " bytes");
    // A fresh file for every cut: rewriting one file in place makes some file systems write
    // it out to the disk at each close, which takes seconds over thousands of cuts.
    const std::string cutPath = dir / ("cut" + std::to_string(cut) + ".d88");
    ASSERT_TRUE(writeBytesToFile(
        cutPath, Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut))));
    D88Image reader;
    reader.setSectorRange(1, 4);
    ASSERT_TRUE(reader.open(cutPath.c_str()));
    (void)std::remove(cutPath.c_str()); // unlinked while open, it stays readable
    const std::int32_t disks = cut < kHeaderBytes ? 0 : cut < secondStart + kHeaderBytes ? 1 : 2;
    ASSERT_EQ(reader.diskCount(), disks);
    for (std::int32_t d = 0; d < 2; ++d) {
      const bool selected = d < disks;
      ASSERT_EQ(reader.selectDisk(d), selected);
      const DiskReads& full = whole[static_cast<std::size_t>(d)];
      if (selected) {
        ASSERT_EQ(std::string(reader.diskName()), full.name);
      }
      ASSERT_TRUE(cutDiskFits(reader, full, selected, buffers)) << "disk " << d;
    }
  }
}

} // namespace
