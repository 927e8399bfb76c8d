// Hostile images: truncated, damaged and hand-edited D88 files, each run through all three tools.
//
// Every case is one image built in code. Each image is given to d88vol and d88fat, both with
// disk folders and with "-d", and to d88cpm. For every run the test states the exit status, the
// exact standard error and standard output bytes and the output tree (names, bytes, and the time
// stamps of the files the tools stamp), all worked out from the rules the tools follow. Every run
// starts in the folder "run" inside a sentinel folder that holds nothing else but the image, so a
// file written above the starting folder (a "../" name, a folder stepped out of) shows up as a
// stray item; and every run must end by itself within a time limit.
//
// Most cases start from a "triple" disk that each tool recognises, so damage shows in all three:
// eight tracks of eight 1024-byte sectors (logical sector L is sector L % 8 + 1 of track L / 8).
//
//   L8        GAUDI directory: "GAUDI" and a letter, slot 1 VOL.BIN (start 47: L56 on, 2000 bytes)
//   L9, L10   FAT table: 49 -> 52 -> end (cluster n is L n + 9)
//   L13       FAT root directory: entry 0 FAT.BIN (start 49, 2000 bytes: L58 and 976 bytes of L61)
//   L16..19   block directory (track 2, sectors 1-4): entry 0 the volume entry, entry 1 CPM.BIN
//             (16 records in block 14: track 7 sectors 4 and 5, L59 and L60)
//   L20..63   sector bytes of their own: byte 0 the disk's tag, byte 1 the sector, then a pattern
//
// So track 7 holds, by sector number: 1-2 VOL.BIN, 3 and 6 FAT.BIN, 4-5 CPM.BIN.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "blockdisk.h"
#include "d88builder.h"
#include "fatdisk.h"
#include "flatdisk.h"
#include "gaudidisk.h"
#include "runtool.h"

namespace {

// Generous for a loaded machine; every run here takes a fraction of a second.
constexpr int kTimeLimitSeconds = 20;
// The Windows programs run under an emulation layer, whose every call into the system costs
// several times as much.
int timeLimitSeconds() { return toolsRunWrapped() ? 4 * kTimeLimitSeconds : kTimeLimitSeconds; }
// No file here comes near this; a tool caught in a loop that writes dies of SIGXFSZ instead of
// filling the disk before the time limit.
constexpr rlim_t kFileSizeLimit = 32 << 20;

constexpr std::uint16_t kTime = 0xBF7D, kDate = 0x16AC; // 1991/05/12 23:59:58
constexpr ListedTime kWhen = {1991, 5, 12, 23, 59, 58};
constexpr char kWhenText[] = "1991/05/12 23:59:58 ";

constexpr int kTripleTracks = 8;
constexpr int kRecordBytes = 16 + 1024;
constexpr int kVolSector = 56;
constexpr std::uint16_t kVolStart = kVolSector - kGaudiStartBias;
constexpr std::uint32_t kFileSize = 2000;
constexpr int kFatFirst = 49;  // L58, track 7 sector 3
constexpr int kFatSecond = 52; // L61, track 7 sector 6
constexpr std::uint8_t kCpmBlock = 14;
constexpr std::uint8_t kCpmRecords = 16;
constexpr int kCpmSize = 2048;
constexpr int kCpmDirectorySector = 16;

// ファイルを書き込めません. \n
constexpr char kFatCannotWrite[] = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d"
                                   "\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x2e\x20\n";
// \nクラスタが破損しています.\n
constexpr char kBrokenChain[] = "\n\x83\x4e\x83\x89\x83\x58\x83\x5e\x82\xaa\x94\x6a\x91\xb9\x82"
                                "\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x2e\n";

// ディスク %d 枚目からファイルを抽出します.\n
std::string cpmExtracting(int number) {
  return "\x83\x66\x83\x42\x83\x58\x83\x4e " + std::to_string(number) +
         " \x96\x87\x96\xda\x82\xa9\x82\xe7\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x92\x8a\x8f"
         "\x6f\x82\xb5\x82\xdc\x82\xb7\x2e\n";
}

// ディスク %d 枚目はミッドガルツまたはガウディのディスクではないようです.\n
std::string cpmNotBlockVolume(int number) {
  return "\x83\x66\x83\x42\x83\x58\x83\x4e " + std::to_string(number) +
         " \x96\x87\x96\xda\x82\xcd\x83\x7e\x83\x62\x83\x68\x83\x4b\x83\x8b\x83\x63\x82\xdc\x82"
         "\xbd\x82\xcd\x83\x4b\x83\x45\x83\x66\x83\x42\x82\xcc\x83\x66\x83\x42\x83\x58\x83\x4e\x82"
         "\xc5\x82\xcd\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7\x2e\n";
}

std::int64_t entryStamp() { return localStamp("UTC0", 1991, 5, 12, 23, 59, 58); }

Bytes zeros(std::size_t count) { return Bytes(count, 0); }

Bytes operator+(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes repeated(const Bytes& part, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i)
    out = out + part;
  return out;
}

Bytes prefix(const Bytes& bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

std::uint32_t le32At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A sector record as it stands in an image: the 16-byte header, then the data.
Bytes recordBytes(const SectorRecord& record, std::uint16_t count) {
  Bytes out(16, 0);
  out[0] = record.c;
  out[1] = record.h;
  out[2] = record.r;
  out[3] = record.n;
  out[4] = static_cast<std::uint8_t>(count);
  out[5] = static_cast<std::uint8_t>(count >> 8);
  const std::uint16_t length =
      record.dataLength.value_or(static_cast<std::uint16_t>(record.data.size()));
  out[14] = static_cast<std::uint8_t>(length);
  out[15] = static_cast<std::uint8_t>(length >> 8);
  return out + record.data;
}

// What one tool did to one disk, and what that disk adds to the run's output.
struct FileExpect {
  Bytes bytes;
  std::optional<std::int64_t> mtime; // checked when set
};
using Files = std::map<std::string, FileExpect>;

struct DiskOutcome {
  std::string out; // d88vol, d88fat: what the handler prints; d88cpm: its line for the disk
  std::string err;
  Files files;          // d88vol, d88fat: by name in the disk's folder; d88cpm: "DISKnn/name"
  std::string folder;   // d88cpm: the folder it makes for the disk
  bool fails = false;   // the exit status becomes 1 at the end
  bool endsRun = false; // d88fat: the run ends with status 1 after this disk
};

FileExpect stamped(const Bytes& bytes) { return {bytes, entryStamp()}; }
FileExpect unstamped(const Bytes& bytes) { return {bytes, std::nullopt}; }

// d88vol's listing line for an entry of the fixed date and time with the archive bit.
std::string volLine(const std::string& name, std::uint16_t start, std::uint32_t size) {
  const int logical = start + kGaudiStartBias;
  return gaudiListingLine(name, logical >> 3, (logical & 7) + 1, size & 0xFFFF, kWhen, "A ");
}

// d88fat's listing line up to the three blanks after the letters; the newline comes later.
std::string fatLine(const std::string& name, std::int32_t size, const std::string& letters = "A ") {
  char head[64];
  std::snprintf(head, sizeof head, "%-12s %8d ", name.c_str(), static_cast<int>(size));
  return head + std::string(kWhenText) + letters + "   ";
}

std::string folderName(const char* format, int number) {
  char name[16];
  std::snprintf(name, sizeof name, format, number);
  return name;
}

struct TripleDisk {
  explicit TripleDisk(int diskTag, std::uint8_t cpmFolderByte = '1')
      : tag(diskTag), folderByte(cpmFolderByte), letter(static_cast<char>('A' + diskTag % 26)) {
    // A FAT volume cut to its first eight tracks, small enough for a hundred disks in an image.
    fat.flat.trackCount = kTripleTracks;
    fat.flat.bytes.resize(static_cast<std::size_t>(kTripleTracks) * 8 * 1024);
    fat.flat.bytes.shrink_to_fit();
    for (int l = 20; l < kTripleTracks * 8; ++l) {
      Bytes data = patternBytes(1024, tag * 7 + l * 13);
      data[0] = static_cast<std::uint8_t>(tag);
      data[1] = static_cast<std::uint8_t>(l);
      fat.flat.put(l, data);
    }
    setVolSlot(0, {'G', 'A', 'U', 'D', 'I', static_cast<std::uint8_t>(letter)});
    setVolSlot(1, dosEntry("VOL", "BIN", 0x20, kTime, kDate, kVolStart, kFileSize));
    fat.setChain({kFatFirst, kFatSecond});
    fat.setEntry(0, dosEntry("FAT", "BIN", 0x20, kTime, kDate, kFatFirst, kFileSize));
    setCpmEntry(0, volumeEntry(folderByte));
    setCpmEntry(1, cpmFile("CPM", "BIN"));
  }

  static BlockEntry cpmFile(const std::string& name, const std::string& ext,
                            std::uint8_t records = kCpmRecords,
                            std::vector<std::uint8_t> blocks = {kCpmBlock}) {
    BlockEntry entry;
    entry.name = name;
    entry.ext = ext;
    entry.recordCount = records;
    entry.blocks = std::move(blocks);
    return entry;
  }

  void setVolSlot(int slot, const Bytes& entry) {
    fat.flat.put(kGaudiDirectorySector, entry, static_cast<std::size_t>(slot) * 32);
  }
  void setCpmEntry(int index, const BlockEntry& entry) {
    fat.flat.put(kCpmDirectorySector, blockEntryBytes(entry), static_cast<std::size_t>(index) * 32);
  }

  // `count` bytes of the flat disk from `offset` in logical sector `logical` on.
  Bytes sector(int logical, std::size_t count = 1024, std::size_t offset = 0) const {
    const auto from =
        fat.flat.bytes.begin() +
        static_cast<std::ptrdiff_t>(static_cast<std::size_t>(logical) * 1024 + offset);
    return Bytes(from, from + static_cast<std::ptrdiff_t>(count));
  }

  // The three files as the disk holds them.
  Bytes volFile() const { return sector(kVolSector) + sector(kVolSector + 1, kFileSize - 1024); }
  Bytes fatFile() const { return sector(kFatFirst + 9) + sector(kFatSecond + 9, kFileSize - 1024); }
  Bytes cpmFile() const { return sector(59) + sector(60); }

  std::string name() const { return folderName("TRIPLE %02d", tag); }
  std::string cpmFolder() const { return folderName("DISK%02d", folderByte - '0'); }
  D88Disk toD88() const { return fat.toD88(name()); }

  // What each tool makes of the disk when its file holds `file`.
  DiskOutcome volOutcome(const Bytes& file) const {
    DiskOutcome d;
    d.out = recognisedLine(letter) + volLine("VOL.BIN", kVolStart, kFileSize);
    d.files["VOL.BIN"] = stamped(file);
    return d;
  }
  DiskOutcome fatOutcome(const Bytes& file) const {
    DiskOutcome d;
    d.out = fatLine("FAT.BIN", kFileSize) + "\n";
    d.files["FAT.BIN"] = stamped(file);
    return d;
  }
  DiskOutcome cpmOutcome(int number, const Bytes& file) const {
    DiskOutcome d;
    d.out = cpmExtracting(number);
    d.folder = cpmFolder();
    d.files[cpmFolder() + "/CPM.BIN"] = unstamped(file);
    return d;
  }

  FatDisk fat;
  int tag;
  std::uint8_t folderByte;
  char letter;
};

// A disk each tool passes over without a word: d88vol finds no signature, d88fat an empty
// directory.
DiskOutcome nothing() { return {}; }

DiskOutcome cpmNotRecognised(int number) {
  DiskOutcome d;
  d.err = cpmNotBlockVolume(number);
  return d;
}

struct HostileImage {
  Bytes bytes;
  std::vector<std::string> diskNames;     // one per disk the reader finds
  std::vector<DiskOutcome> vol, fat, cpm; // one per disk each tool visits
};

// One image of intact disks, each giving all three tools what it holds.
HostileImage intact(const std::vector<TripleDisk>& disks) {
  HostileImage image;
  std::vector<D88Disk> built;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const TripleDisk& disk = disks[i];
    built.push_back(disk.toD88());
    image.diskNames.push_back(disk.name());
    image.vol.push_back(disk.volOutcome(disk.volFile()));
    image.fat.push_back(disk.fatOutcome(disk.fatFile()));
    image.cpm.push_back(disk.cpmOutcome(static_cast<int>(i) + 1, disk.cpmFile()));
  }
  image.bytes = buildD88(built);
  return image;
}

// One triple disk, built from `disk` as edited, and what the tools find on it.
HostileImage single(const TripleDisk& triple, const D88Disk& disk, const DiskOutcome& vol,
                    const DiskOutcome& fat, const DiskOutcome& cpm) {
  HostileImage image;
  image.bytes = buildD88({disk});
  image.diskNames = {triple.name()};
  image.vol = {vol};
  image.fat = {fat};
  image.cpm = {cpm};
  return image;
}

// Track 7 of a triple disk cannot be read at all: each tool's file comes out as zero bytes.
HostileImage trackSevenUnreadable(const TripleDisk& triple, const D88Disk& disk) {
  return single(triple, disk, triple.volOutcome(zeros(kFileSize)),
                triple.fatOutcome(zeros(kFileSize)), triple.cpmOutcome(1, zeros(kCpmSize)));
}

// The file offset of sector record `r` (1 to 8) of track `track` of the first disk, as laid out.
std::size_t recordOffset(const Bytes& image, int track, int r) {
  return le32At(image, 0x20 + 4 * static_cast<std::size_t>(track)) +
         static_cast<std::size_t>(r - 1) * kRecordBytes;
}

// ---- Truncated files ------------------------------------------------------------------------

HostileImage truncatedInsideTheFirstDiskHeader() {
  HostileImage image;
  image.bytes = buildD88({TripleDisk(0).toD88()});
  image.bytes.resize(687); // one byte short of a disk header: no disk at all
  return image;
}

HostileImage truncatedInsideTheSecondDiskHeader() {
  const TripleDisk first(0);
  HostileImage image = intact({first});
  const std::size_t firstSize = image.bytes.size();
  image.bytes = buildD88({first.toD88(), TripleDisk(1, '2').toD88()});
  image.bytes.resize(firstSize + 0x1E); // cut inside the second disk's size field
  return image;
}

HostileImage truncatedInsideASectorHeader() {
  const TripleDisk triple(0);
  HostileImage image =
      single(triple, triple.toD88(), triple.volOutcome(triple.volFile()),
             triple.fatOutcome(zeros(kFileSize)), triple.cpmOutcome(1, zeros(kCpmSize)));
  // Eight bytes of the header of track 7 sector 3: the run of track 7 ends before it.
  image.bytes.resize(recordOffset(image.bytes, 7, 3) + 8);
  return image;
}

HostileImage truncatedInsideTheDataOfTheVolFile() {
  const TripleDisk triple(0);
  // Track 7 sector 1 holds 100 of its 1024 bytes: d88vol writes zero bytes for the short
  // sector, d88fat's disk buffer keeps those 100 bytes (no file of it lies there).
  HostileImage image = trackSevenUnreadable(triple, triple.toD88());
  image.bytes.resize(recordOffset(image.bytes, 7, 1) + 16 + 100);
  return image;
}

HostileImage truncatedInsideTheDataOfTheFatFile() {
  const TripleDisk triple(0);
  // Track 7 sector 3 holds 100 bytes; d88fat's buffer has them and zero bytes after them.
  HostileImage image = single(triple, triple.toD88(), triple.volOutcome(triple.volFile()),
                              triple.fatOutcome(triple.sector(58, 100) + zeros(kFileSize - 100)),
                              triple.cpmOutcome(1, zeros(kCpmSize)));
  image.bytes.resize(recordOffset(image.bytes, 7, 3) + 16 + 100);
  return image;
}

HostileImage truncatedInsideTheDataOfTheCpmFile() {
  const TripleDisk triple(0);
  // Track 7 sector 4 holds 100 bytes: d88cpm's data buffer has them, zero bytes after them;
  // d88fat's load of track 7 stops there, so sector 6 (the rest of FAT.BIN) stays zero.
  HostileImage image = single(triple, triple.toD88(), triple.volOutcome(triple.volFile()),
                              triple.fatOutcome(triple.sector(58) + zeros(kFileSize - 1024)),
                              triple.cpmOutcome(1, triple.sector(59, 100) + zeros(kCpmSize - 100)));
  image.bytes.resize(recordOffset(image.bytes, 7, 4) + 16 + 100);
  return image;
}

// ---- Disk sizes -------------------------------------------------------------------------------

HostileImage diskSizeZero() {
  // The chain points at the same header again and again: 64 disks, each of size 0, so every
  // track entry lies beyond the disk and nothing can be read.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.sizeOverride = 0;
  HostileImage image;
  image.bytes = buildD88({disk});
  for (int i = 0; i < 64; ++i) {
    image.diskNames.push_back(triple.name());
    image.vol.push_back(nothing());
    image.fat.push_back(nothing());
    image.cpm.push_back(cpmNotRecognised(i + 1));
  }
  return image;
}

HostileImage secondDiskSizeZero() {
  // Disk 1 repeats 63 times and reads nothing. d88vol clears what its directory read did not
  // deliver and d88cpm clears its directory before each read, so they find no volume; d88fat's
  // buffers keep disk 0's table, directory and tracks, so it lists and writes disk 0's file for
  // each of them.
  const TripleDisk first(0);
  const TripleDisk second(1, '2');
  D88Disk emptied = second.toD88();
  emptied.sizeOverride = 0;
  HostileImage image = intact({first});
  image.bytes = buildD88({first.toD88(), emptied});
  for (int i = 1; i < 64; ++i) {
    image.diskNames.push_back(second.name());
    image.vol.push_back(nothing());
    image.fat.push_back(first.fatOutcome(first.fatFile()));
    image.cpm.push_back(cpmNotRecognised(i + 1));
  }
  return image;
}

HostileImage diskSizePastTheEnd() {
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.sizeOverride = static_cast<std::uint32_t>(buildD88({disk}).size() + 100000);
  HostileImage image = intact({triple});
  image.bytes = buildD88({disk});
  return image;
}

// A first disk whose size is `size`, then a second disk that the scan must not reach.
HostileImage firstDiskSized(std::uint32_t size) {
  const TripleDisk first(0);
  D88Disk disk = first.toD88();
  disk.sizeOverride = size;
  HostileImage image = intact({first});
  image.bytes = buildD88({disk, TripleDisk(1, '2').toD88()});
  return image;
}

HostileImage diskSizeTwoToThe31() { return firstDiskSized(0x80000000u); }
HostileImage diskSizeAllOnes() { return firstDiskSized(0xFFFFFFFFu); }

HostileImage diskSizeWrappingToTheStart() {
  // Disk 1's size carries the running offset to 2^32, which 32-bit arithmetic would take for
  // offset 0 and read disk 0 again; the scan ends after disk 1 instead.
  const TripleDisk first(0);
  const TripleDisk second(1, '2');
  const std::size_t firstSize = buildD88({first.toD88()}).size();
  D88Disk disk = second.toD88();
  disk.sizeOverride = static_cast<std::uint32_t>(0x100000000ull - firstSize);
  HostileImage image = intact({first, second});
  image.bytes = buildD88({first.toD88(), disk});
  return image;
}

// ---- Track table entries ----------------------------------------------------------------------

HostileImage trackSevenEntry(std::uint32_t entry) {
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.trackEntryOverride[7] = entry;
  return trackSevenUnreadable(triple, disk);
}

HostileImage trackEntryTwoToThe31() { return trackSevenEntry(0x80000000u); }
HostileImage trackEntryAllOnes() { return trackSevenEntry(0xFFFFFFFFu); }

HostileImage trackEntryBeyondTheDiskSize() {
  const std::uint32_t size = static_cast<std::uint32_t>(buildD88({TripleDisk(0).toD88()}).size());
  return trackSevenEntry(size + 1);
}

HostileImage trackEntryAtTheDiskSize() {
  // Passes the test against the disk size, and the walk meets the end of the file at once.
  const std::uint32_t size = static_cast<std::uint32_t>(buildD88({TripleDisk(0).toD88()}).size());
  return trackSevenEntry(size);
}

HostileImage trackEntryWithTheTopBitOverItsOffset() {
  // Track 1 (GAUDI directory, FAT table and directory start) at its true offset plus 2^31.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  const Bytes plain = buildD88({disk});
  disk.trackEntryOverride[1] = le32At(plain, 0x20 + 4) | 0x80000000u;
  return single(triple, disk, nothing(), nothing(), triple.cpmOutcome(1, triple.cpmFile()));
}

// ---- Sector counts ----------------------------------------------------------------------------

HostileImage countsTooLargeEverywhere() {
  // Every record claims 65535 sectors in its track; every sector a tool asks for is there.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  for (auto& [index, track] : disk.tracks) {
    for (SectorRecord& record : track.records)
      record.count = 0xFFFF;
  }
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.fatFile()), triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage countsNeverMatchingThePosition() {
  // Track 7 lacks its sector 1, and its records carry counts (position + 2) that never mark a
  // last record, so the walk runs on past the track into the bytes after it, where a record
  // with track 7 sector 1's ID stands: that is the sector read.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  std::vector<SectorRecord>& records = disk.tracks[7].records;
  SectorRecord moved = records.front();
  moved.data = patternBytes(1024, 201);
  records.erase(records.begin());
  for (std::size_t k = 0; k < records.size(); ++k)
    records[k].count = static_cast<std::uint16_t>(k + 2);
  disk.trailer = recordBytes(moved, 1);
  return single(triple, disk,
                triple.volOutcome(moved.data + triple.sector(kVolSector + 1, kFileSize - 1024)),
                triple.fatOutcome(triple.fatFile()), triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage countZeroFirst() {
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.tracks[7].records[0].count = 0; // ends every walk of track 7 at its first record
  return trackSevenUnreadable(triple, disk);
}

HostileImage countOneEverywhere() {
  // Each track ends after its first record: only sector 1 of every track can be read. d88vol
  // gets one directory sector (enough for its two slots) and one sector of its file; d88fat's
  // table and directory sectors are all out of reach; d88cpm gets the directory sector with its
  // two entries, not its block.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  for (auto& [index, track] : disk.tracks) {
    for (SectorRecord& record : track.records)
      record.count = 1;
  }
  return single(triple, disk,
                triple.volOutcome(triple.sector(kVolSector) + zeros(kFileSize - 1024)), nothing(),
                triple.cpmOutcome(1, zeros(kCpmSize)));
}

HostileImage countTooSmall() {
  // Track 7 claims three sectors: sectors 4 to 8 lie past its last record.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  for (SectorRecord& record : disk.tracks[7].records)
    record.count = 3;
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.sector(58) + zeros(kFileSize - 1024)),
                triple.cpmOutcome(1, zeros(kCpmSize)));
}

// A track of 65536 records without data whose counts never end the walk, as the last bytes of
// the disk; tracks 8 to 163 all begin there. A sector looked for on any of them is sought through
// the whole megabyte, and the triple disk gets entries that look there: 30 more d88vol files,
// every track d88fat loads, and 126 more d88cpm files of 16 blocks each, some 2000 searches.
D88Track emptyRecords() {
  D88Track track;
  track.records.assign(65536, makeSector(0xFF, 0xFF, 0xFF, 0xFF, 0, 0));
  // Position k never holds a count of k + 1, so no record is taken for the track's last.
  for (std::size_t k = 0; k < track.records.size(); ++k)
    track.records[k].count = static_cast<std::uint16_t>(k < 65534 ? k + 2 : 1);
  return track;
}

// A triple disk with the track of empty records, and what d88vol and d88cpm make of it.
struct LongWalkDisk {
  TripleDisk triple;
  D88Disk disk;
  DiskOutcome vol, cpm;
};

LongWalkDisk longWalkDisk(int tag) {
  LongWalkDisk made = {TripleDisk(tag), {}, {}, {}};
  TripleDisk& triple = made.triple;
  made.vol = triple.volOutcome(triple.volFile());
  made.cpm = triple.cpmOutcome(1, triple.cpmFile());
  for (int s = 2; s < 32; ++s) { // slots of the first directory sector, clear of the FAT table
    const std::string name = folderName("V%03d", s);
    const std::uint16_t start = static_cast<std::uint16_t>(64 + s - kGaudiStartBias); // track 8 on
    triple.setVolSlot(s, dosEntry(name, "BIN", 0x20, kTime, kDate, start, 1024));
    made.vol.out += volLine(name + ".BIN", start, 1024);
    made.vol.files[name + ".BIN"] = stamped(zeros(1024));
  }
  for (int e = 2; e < kBlockDirectoryEntries; ++e) {
    const std::string name = folderName("C%03d", e);
    // Block 15 begins on track 8; the data buffer keeps CPM.BIN's block at its start.
    triple.setCpmEntry(e,
                       TripleDisk::cpmFile(name, "BIN", 0xFF, std::vector<std::uint8_t>(16, 15)));
    made.cpm.files["DISK01/" + name + ".BIN"] =
        unstamped(triple.cpmFile() + zeros(255 * 128 - kCpmSize));
  }
  made.disk = triple.toD88();
  made.disk.tracks[8] = emptyRecords();
  const std::uint32_t entry = le32At(buildD88({made.disk}), 0x20 + 4 * 8);
  for (int t = 9; t < 164; ++t)
    made.disk.trackEntryOverride[t] = entry;
  return made;
}

HostileImage longDamagedTracks() {
  const LongWalkDisk made = longWalkDisk(0);
  return single(made.triple, made.disk, made.vol, made.triple.fatOutcome(made.triple.fatFile()),
                made.cpm);
}

// ---- Data lengths and size codes --------------------------------------------------------------

HostileImage dataLengthZero() {
  // Track 7 sector 1 has no data bytes: found, but short. The next record follows its header.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.tracks[7].records[0].data.clear();
  return single(triple, disk, triple.volOutcome(zeros(kFileSize)),
                triple.fatOutcome(zeros(kFileSize)), triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage dataLength65535() {
  // Track 7 sector 1 carries 65535 data bytes: its own 1024, then a record header with sector
  // 2's ID and false data, which only a reader that skips by the nominal length would meet.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  SectorRecord& first = disk.tracks[7].records[0];
  SectorRecord decoy = makeSector(3, 1, 2, 3, 1024, 0xEE);
  first.data = first.data + recordBytes(decoy, 8);
  first.data.resize(65535, 0xDD);
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.fatFile()), triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage dataLengthBelowTheNominal() {
  // Track 7 sector 3 holds 512 bytes under size code 3: d88fat's load keeps them and stops.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.tracks[7].records[2].data.resize(512);
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.sector(58, 512) + zeros(kFileSize - 512)),
                triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage sizeCodeTwo() {
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.tracks[7].records[0].n = 2; // track 7 sector 1 no longer has the ID asked for
  return single(triple, disk, triple.volOutcome(zeros(kFileSize)),
                triple.fatOutcome(zeros(kFileSize)), triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage sizeCode255() {
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  disk.tracks[7].records[3].n = 255; // track 7 sector 4
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.sector(58) + zeros(kFileSize - 1024)),
                triple.cpmOutcome(1, zeros(kCpmSize)));
}

HostileImage otherSizeCodesBeforeTheSectors() {
  // Records with the IDs of track 7 sectors 1 and 4 but size codes 2 and 0 stand first in the
  // track: they are passed over, and the sectors of size code 3 after them are read.
  const TripleDisk triple(0);
  D88Disk disk = triple.toD88();
  std::vector<SectorRecord>& records = disk.tracks[7].records;
  records.insert(records.begin(), makeSector(3, 1, 4, 0, 128, 0xAA));
  records.insert(records.begin(), makeSector(3, 1, 1, 2, 1024, 0xBB));
  return single(triple, disk, triple.volOutcome(triple.volFile()),
                triple.fatOutcome(triple.fatFile()), triple.cpmOutcome(1, triple.cpmFile()));
}

// ---- FAT chains, start values and sizes -------------------------------------------------------

HostileImage fatChainsThatCycle() {
  TripleDisk triple(0);
  triple.fat.setLink(kFatSecond, kFatFirst); // 49 -> 52 -> 49
  triple.fat.setEntry(0, dosEntry("CYCLE", "BIN", 0x20, kTime, kDate, kFatFirst, 5000));
  triple.fat.setLink(50, 50);
  triple.fat.setEntry(1, dosEntry("SELF", "BIN", 0x20, kTime, kDate, 50, 3000));
  DiskOutcome fat;
  fat.out = fatLine("CYCLE.BIN", 5000) + "\n" + fatLine("SELF.BIN", 3000) + "\n";
  fat.err = std::string(kBrokenChain) + kBrokenChain;
  fat.files["CYCLE.BIN"] = stamped(triple.sector(58) + triple.sector(61)); // each cluster once
  fat.files["SELF.BIN"] = stamped(triple.sector(59));
  return single(triple, triple.toD88(), triple.volOutcome(triple.volFile()), fat,
                triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage fatChainsThatLeaveTheRange() {
  TripleDisk triple(0);
  triple.fat.setLink(kFatFirst, 1231);
  triple.fat.setEntry(0, dosEntry("OUT", "BIN", 0x20, kTime, kDate, kFatFirst, 5000));
  triple.fat.setLink(kFatSecond, 0xFF7);
  triple.fat.setEntry(1, dosEntry("BAD", "BIN", 0x20, kTime, kDate, kFatSecond, 5000));
  // The last cluster inside the buffer ends its chain: the tail stops at the buffer's end.
  triple.fat.setLink(1230, kFatEndOfChain);
  triple.fat.setEntry(2, dosEntry("EDGE", "BIN", 0x20, kTime, kDate, 1230, 5000));
  DiskOutcome fat;
  fat.out = fatLine("OUT.BIN", 5000) + "\n" + fatLine("BAD.BIN", 5000) + "\n" +
            fatLine("EDGE.BIN", 5000) + "\n";
  fat.err = std::string(kBrokenChain) + kBrokenChain;
  fat.files["OUT.BIN"] = stamped(triple.sector(58));
  fat.files["BAD.BIN"] = stamped(triple.sector(61));
  fat.files["EDGE.BIN"] = stamped(zeros(1024));
  return single(triple, triple.toD88(), triple.volOutcome(triple.volFile()), fat,
                triple.cpmOutcome(1, triple.cpmFile()));
}

HostileImage startsOutOfRange() {
  TripleDisk triple(0);
  // d88vol: start 1231 is logical 1240 (track 155), 0xFFFF logical 65544 (track 8193): tracks
  // the image does not have, so both files are zero bytes.
  triple.setVolSlot(2, dosEntry("S1231", "BIN", 0x20, kTime, kDate, 1231, 100));
  triple.setVolSlot(3, dosEntry("SFFFF", "BIN", 0x20, kTime, kDate, 0xFFFF, 100));
  // d88fat: a first cluster above 1230 breaks the chain at once; the file is empty.
  triple.fat.setEntry(1, dosEntry("S1231", "BIN", 0x20, kTime, kDate, 1231, 100));
  triple.fat.setEntry(2, dosEntry("SFFFF", "BIN", 0x20, kTime, kDate, 0xFFFF, 100));
  triple.fat.setEntry(3, dosEntry("S8000", "BIN", 0x20, kTime, kDate, 0x8000, 100));
  // d88cpm: block 255 lies on track 104, which the disk does not have: the data buffer keeps
  // CPM.BIN's bytes.
  triple.setCpmEntry(2, TripleDisk::cpmFile("FAR", "BIN", kCpmRecords, {255}));

  DiskOutcome vol = triple.volOutcome(triple.volFile());
  vol.out += volLine("S1231.BIN", 1231, 100) + volLine("SFFFF.BIN", 0xFFFF, 100);
  EXPECT_EQ(volLine("SFFFF.BIN", 0xFFFF, 100),
            "SFFFF.BIN    trk=8193 sec=1 size=0064 1991/05/12 23:59:58 A \n");
  vol.files["S1231.BIN"] = stamped(zeros(100));
  vol.files["SFFFF.BIN"] = stamped(zeros(100));
  DiskOutcome fat = triple.fatOutcome(triple.fatFile());
  for (const char* name : {"S1231.BIN", "SFFFF.BIN", "S8000.BIN"}) {
    fat.out += fatLine(name, 100) + "\n";
    fat.err += kBrokenChain;
    fat.files[name] = stamped({});
  }
  DiskOutcome cpm = triple.cpmOutcome(1, triple.cpmFile());
  cpm.files["DISK01/FAR.BIN"] = unstamped(triple.cpmFile());
  return single(triple, triple.toD88(), vol, fat, cpm);
}

HostileImage sizesWithTheTopBitSet() {
  TripleDisk triple(0);
  // d88vol reads the low 16 bits alone.
  triple.setVolSlot(2, dosEntry("BIG", "BIN", 0x20, kTime, kDate, 58 - 9, 0x80000010));
  triple.setVolSlot(3, dosEntry("HIGH", "BIN", 0x20, kTime, kDate, kVolStart, 0xFFFF0000));
  // d88fat takes the size as negative: whole clusters of the chain but the last, no tail.
  triple.fat.setEntry(1, dosEntry("NEG", "BIN", 0x20, kTime, kDate, kFatFirst, 0x80000000));
  triple.fat.setLink(50, kFatEndOfChain);
  triple.fat.setEntry(2, dosEntry("MINUS", "BIN", 0x20, kTime, kDate, 50, 0xFFFFFC00));
  // d88cpm: a record count with its top bit set, all sixteen blocks the same.
  triple.setCpmEntry(
      2, TripleDisk::cpmFile("MAX", "BIN", 0xFF, std::vector<std::uint8_t>(16, kCpmBlock)));

  DiskOutcome vol = triple.volOutcome(triple.volFile());
  vol.out += volLine("BIG.BIN", 58 - 9, 0x10) + volLine("HIGH.BIN", kVolStart, 0);
  vol.files["BIG.BIN"] = stamped(triple.sector(58, 16));
  vol.files["HIGH.BIN"] = stamped({});
  DiskOutcome fat = triple.fatOutcome(triple.fatFile());
  fat.out += fatLine("NEG.BIN", INT32_MIN) + "\n" + fatLine("MINUS.BIN", -1024) + "\n";
  EXPECT_EQ(fatLine("NEG.BIN", INT32_MIN), "NEG.BIN      -2147483648 1991/05/12 23:59:58 A    ");
  fat.files["NEG.BIN"] = stamped(triple.sector(58));
  fat.files["MINUS.BIN"] = stamped({}); // its size is not 0, so it is stamped
  DiskOutcome cpm = triple.cpmOutcome(1, triple.cpmFile());
  cpm.files["DISK01/MAX.BIN"] =
      unstamped(repeated(triple.cpmFile(), 15) + prefix(triple.cpmFile(), 255 * 128 - 15 * 2048));
  return single(triple, triple.toD88(), vol, fat, cpm);
}

// ---- Names ------------------------------------------------------------------------------------

// A triple disk with one file in each tool's directory for each of `names` (name and extension
// fields as stored), all of them with the data of that tool's file.
struct StoredName {
  std::string name, ext;
};

TripleDisk namedTriple(const std::vector<StoredName>& names) {
  TripleDisk triple(0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int n = static_cast<int>(i);
    triple.setVolSlot(
        n + 1, dosEntry(names[i].name, names[i].ext, 0x20, kTime, kDate, kVolStart, kFileSize));
    triple.fat.setEntry(
        n, dosEntry(names[i].name, names[i].ext, 0x20, kTime, kDate, kFatFirst, kFileSize));
    triple.setCpmEntry(n + 1, TripleDisk::cpmFile(names[i].name, names[i].ext));
  }
  return triple;
}

// Every name here makes a file; `listed` is the name as stored, `host` the file it gives.
HostileImage namesThatAreWritten(const std::vector<StoredName>& names,
                                 const std::vector<std::string>& listed,
                                 const std::vector<std::string>& host,
                                 const std::string& diskName = "") {
  const TripleDisk triple = namedTriple(names);
  DiskOutcome vol, fat, cpm;
  vol.out = recognisedLine(triple.letter);
  cpm.out = cpmExtracting(1);
  cpm.folder = "DISK01";
  for (std::size_t i = 0; i < names.size(); ++i) {
    vol.out += volLine(listed[i], kVolStart, kFileSize);
    vol.files[host[i]] = stamped(triple.volFile());
    fat.out += fatLine(listed[i], kFileSize) + "\n";
    fat.files[host[i]] = stamped(triple.fatFile());
    cpm.files["DISK01/" + host[i]] = unstamped(triple.cpmFile());
  }
  D88Disk disk = triple.toD88();
  HostileImage image = single(triple, disk, vol, fat, cpm);
  if (!diskName.empty()) {
    disk.name = diskName;
    image.bytes = buildD88({disk});
    image.diskNames = {diskName};
  }
  return image;
}

HostileImage namesWithSlashes() {
  // The disk's own name is only printed; "/" in a file name becomes "_".
  return namesThatAreWritten({{"../x", ""}, {"../../x", ""}, {"/", ""}, {"..", "/x"}},
                             {"../x", "../../x", "/", ".../x"}, {".._x", ".._.._x", "_", "..._x"},
                             "../../DISK/../x");
}

HostileImage namesWithControlBytes() {
  // Control bytes, 0xE5 after the first byte and a Shift-JIS character whose trail byte is 0x5C
  // pass unchanged; a zero byte ends the name.
  return namesThatAreWritten({{"\x01\x09\x0a\x1b\x7f\xff", "\x83\x5c~"},
                              {std::string("Z\0Z", 3), "BIN"},
                              {"A\xe5", "\x01"}},
                             {"\x01\x09\x0a\x1b\x7f\xff.\x83\x5c~", "Z", "A\xe5.\x01"},
                             {"\x01\x09\x0a\x1b\x7f\xff.\x83\x5c~", "Z", "A\xe5.\x01"});
}

// A name the host cannot create a file of, followed by a good file in each tool: d88vol and
// d88cpm report it and go on, d88fat ends the run there.
HostileImage nameThatCannotBeCreated(const StoredName& bad, const std::string& listed) {
  const TripleDisk triple = namedTriple({bad, {"AFTER", "BIN"}});
  DiskOutcome vol;
  vol.out = recognisedLine(triple.letter) + volLine(listed, kVolStart, kFileSize) +
            volLine("AFTER.BIN", kVolStart, kFileSize);
  vol.err = cannotWriteLine(listed);
  vol.files["AFTER.BIN"] = stamped(triple.volFile());
  vol.fails = true;
  DiskOutcome fat;
  fat.out = fatLine(listed, kFileSize); // the line is never ended
  fat.err = kFatCannotWrite;
  fat.endsRun = true;
  DiskOutcome cpm;
  cpm.out = cpmExtracting(1);
  cpm.err = cannotWriteLine("DISK01/" + listed);
  cpm.folder = "DISK01";
  cpm.files["DISK01/AFTER.BIN"] = unstamped(triple.cpmFile());
  cpm.fails = true;
  // A second disk that d88fat never reaches.
  HostileImage image;
  const TripleDisk second(1, '2');
  image.bytes = buildD88({triple.toD88(), second.toD88()});
  image.diskNames = {triple.name(), second.name()};
  image.vol = {vol, second.volOutcome(second.volFile())};
  image.fat = {fat};
  image.cpm = {cpm, second.cpmOutcome(2, second.cpmFile())};
  return image;
}

HostileImage nameDotDot() { return nameThatCannotBeCreated({"..", ""}, ".."); }
HostileImage nameDot() { return nameThatCannotBeCreated({".", ""}, "."); }
HostileImage nameEmpty() { return nameThatCannotBeCreated({"", ""}, ""); }

// ---- Disk counts and folder numbers -----------------------------------------------------------

// `count` triple disks, disk i with tag i and d88cpm folder byte folderByte(i); the reader
// finds the first 64.
HostileImage manyDisks(int count, std::uint8_t (*folderByte)(int)) {
  std::vector<TripleDisk> disks;
  for (int i = 0; i < count; ++i)
    disks.emplace_back(i, folderByte(i));
  std::vector<TripleDisk> reached;
  for (const TripleDisk& disk : disks) {
    if (reached.size() < 64) reached.push_back(disk);
  }
  HostileImage image = intact(reached);
  std::vector<D88Disk> built;
  for (const TripleDisk& disk : disks)
    built.push_back(disk.toD88());
  image.bytes = buildD88(built);
  return image;
}

HostileImage sixtyFourDisks() {
  // Folders 000 to 063; d88cpm folders DISK00 to DISK63.
  return manyDisks(64, [](int i) { return static_cast<std::uint8_t>('0' + i); });
}

HostileImage sixtyFiveDisks() {
  // Byte 0 gives DISK-48; disk 64 (DISK16) is never reached.
  return manyDisks(65, [](int i) { return static_cast<std::uint8_t>(i); });
}

HostileImage hundredDisks() {
  // Byte 0xFF gives DISK207, down to DISK144 for disk 63.
  return manyDisks(100, [](int i) { return static_cast<std::uint8_t>(0xFF - i); });
}

// ---- The table --------------------------------------------------------------------------------

struct HostileCase {
  const char* name;
  HostileImage (*make)();
  // The names are made of bytes a POSIX file system takes and Windows refuses (control bytes).
  bool posixNames = false;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const HostileCase& tested, std::ostream* os) { *os << tested.name; }

const HostileCase kCases[] = {
    {"IntactTripleDisk", [] { return intact({TripleDisk(0)}); }},
    {"TruncatedInsideTheFirstDiskHeader", truncatedInsideTheFirstDiskHeader},
    {"TruncatedInsideTheSecondDiskHeader", truncatedInsideTheSecondDiskHeader},
    {"TruncatedInsideASectorHeader", truncatedInsideASectorHeader},
    {"TruncatedInsideTheDataOfTheVolFile", truncatedInsideTheDataOfTheVolFile},
    {"TruncatedInsideTheDataOfTheFatFile", truncatedInsideTheDataOfTheFatFile},
    {"TruncatedInsideTheDataOfTheCpmFile", truncatedInsideTheDataOfTheCpmFile},
    {"DiskSizeZero", diskSizeZero},
    {"SecondDiskSizeZero", secondDiskSizeZero},
    {"DiskSizePastTheEnd", diskSizePastTheEnd},
    {"DiskSizeTwoToThe31", diskSizeTwoToThe31},
    {"DiskSizeAllOnes", diskSizeAllOnes},
    {"DiskSizeWrappingToTheStart", diskSizeWrappingToTheStart},
    {"TrackEntryTwoToThe31", trackEntryTwoToThe31},
    {"TrackEntryAllOnes", trackEntryAllOnes},
    {"TrackEntryBeyondTheDiskSize", trackEntryBeyondTheDiskSize},
    {"TrackEntryAtTheDiskSize", trackEntryAtTheDiskSize},
    {"TrackEntryWithTheTopBitOverItsOffset", trackEntryWithTheTopBitOverItsOffset},
    {"CountsTooLargeEverywhere", countsTooLargeEverywhere},
    {"CountsNeverMatchingThePosition", countsNeverMatchingThePosition},
    {"CountZeroFirst", countZeroFirst},
    {"CountOneEverywhere", countOneEverywhere},
    {"CountTooSmall", countTooSmall},
    {"LongDamagedTracks", longDamagedTracks},
    {"DataLengthZero", dataLengthZero},
    {"DataLength65535", dataLength65535},
    {"DataLengthBelowTheNominal", dataLengthBelowTheNominal},
    {"SizeCodeTwo", sizeCodeTwo},
    {"SizeCode255", sizeCode255},
    {"OtherSizeCodesBeforeTheSectors", otherSizeCodesBeforeTheSectors},
    {"FatChainsThatCycle", fatChainsThatCycle},
    {"FatChainsThatLeaveTheRange", fatChainsThatLeaveTheRange},
    {"StartsOutOfRange", startsOutOfRange},
    {"SizesWithTheTopBitSet", sizesWithTheTopBitSet},
    {"NamesWithSlashes", namesWithSlashes},
    {"NamesWithControlBytes", namesWithControlBytes, true},
    {"NameDotDot", nameDotDot},
    {"NameDot", nameDot},
    {"NameEmpty", nameEmpty},
    {"SixtyFourDisks", sixtyFourDisks},
    {"SixtyFiveDisks", sixtyFiveDisks},
    {"HundredDisks", hundredDisks},
};

// ---- Running the tools ------------------------------------------------------------------------

struct Expected {
  int status = 0;
  std::string out, err;
  std::map<std::string, bool> items; // every path in the output tree; true for a folder
  Files files;
};

// d88vol and d88fat: the driver's header line and folder per disk, or one folder for all.
Expected walkerExpected(const HostileImage& image, const std::vector<DiskOutcome>& disks,
                        bool folders) {
  Expected e;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const DiskOutcome& d = disks[i];
    const std::string folder = folderName("%03d", static_cast<int>(i));
    if (folders) {
      e.out += diskHeader(image.diskNames.at(i), folder);
      e.items[folder] = true;
    }
    e.out += d.out;
    e.err += d.err;
    for (const auto& [name, file] : d.files) {
      const std::string path = folders ? folder + "/" + name : name;
      e.items[path] = false;
      e.files[path] = file; // with "-d", a later disk's file replaces an earlier one
    }
    if (d.fails) e.status = 1;
    if (d.endsRun) {
      e.status = 1;
      break;
    }
  }
  return e;
}

Expected cpmExpected(const std::vector<DiskOutcome>& disks) {
  Expected e;
  for (const DiskOutcome& d : disks) {
    e.out += d.out;
    e.err += d.err;
    if (!d.folder.empty()) e.items[d.folder] = true;
    for (const auto& [path, file] : d.files) {
      e.items[path] = false;
      e.files[path] = file;
    }
    if (d.fails) e.status = 1;
  }
  return e;
}

void expectRun(const HostileImage& image, const std::string& tool,
               const std::vector<std::string>& extra, const Expected& e) {
  SCOPED_TRACE(tool + (extra.empty() ? "" : " " + extra[0]));
  ToolWorkspace ws;
  ASSERT_TRUE(writeBytesToFile(ws.image, image.bytes));
  std::vector<std::string> args = {ws.image};
  args.insert(args.end(), extra.begin(), extra.end());
  RunOptions options;
  options.timeoutSeconds = timeLimitSeconds();
  const RunResult result = ws.run(tool, args, options);
  // Read before anything else looks at the files: reading them moves their access times.
  const std::map<std::string, TreeItem> tree = ws.outputTree();

  EXPECT_FALSE(result.killed) << result.command;
  EXPECT_EQ(result.status, e.status) << result.command;
  EXPECT_EQ(result.err, e.err) << result.command << "\n" << hexDump(result.err.substr(0, 256));
  EXPECT_EQ(result.out, e.out) << result.command;
  EXPECT_EQ(ws.strayItems(), "") << result.command;

  std::string listing;
  for (const auto& [path, folder] : e.items)
    listing += path + (folder ? "/\n" : "\n");
  EXPECT_EQ(treeListing(tree), listing) << result.command;
  for (const auto& [path, file] : e.files) {
    SCOPED_TRACE(path);
    const auto item = tree.find(path);
    if (item == tree.end()) continue; // reported by the listing
    EXPECT_EQ(item->second.bytes.size(), file.bytes.size());
    EXPECT_TRUE(item->second.bytes == toString(file.bytes))
        << "starts " << hexDump(item->second.bytes.substr(0, 32));
    if (file.mtime) {
      EXPECT_EQ(item->second.mtime, *file.mtime);
    }
  }
}

// Lowers the soft limit on the size of files written, for this process and the tools it starts.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    saved = ::getrlimit(RLIMIT_FSIZE, &previous) == 0;
    rlimit lowered = previous;
    if (lowered.rlim_max == RLIM_INFINITY || lowered.rlim_max > bytes) lowered.rlim_cur = bytes;
    if (saved) (void)::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    if (saved) (void)::setrlimit(RLIMIT_FSIZE, &previous);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
  rlimit previous = {};
  bool saved = false;
};

class HostileImageTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileImageTest, EachToolDoesWhatTheRulesSayAndStaysInsideItsFolder) {
  if (GetParam().posixNames && toolsRunWrapped()) {
    GTEST_SKIP() << "Windows refuses these bytes in file names";
  }
  const HostileImage image = GetParam().make();
  const FileSizeLimit limit(kFileSizeLimit);
  ASSERT_EQ(image.vol.size(), image.diskNames.size());
  ASSERT_EQ(image.cpm.size(), image.diskNames.size());
  expectRun(image, "d88vol", {}, walkerExpected(image, image.vol, true));
  expectRun(image, "d88vol", {"-d"}, walkerExpected(image, image.vol, false));
  expectRun(image, "d88fat", {}, walkerExpected(image, image.fat, true));
  expectRun(image, "d88fat", {"-d"}, walkerExpected(image, image.fat, false));
  expectRun(image, "d88cpm", {}, cpmExpected(image.cpm));
}

// A walk that finds no last record would run on past its disk, and a disk header whose name bytes
// 14 and 15 hold 672 reads as one more record that skips the header: the damaged tracks of each of
// these disks would be searched through every disk after them, some 2000 searches per disk for
// d88cpm, in time growing with the square of the file (half an hour for these 64 disks). A walk
// ends after as many records as no track can hold, so the three tools take seconds.
// d88cpm rewrites the same 126 files of 32 KiB on every disk; ext4 writes out a file truncated
// and written again as it is closed, which on a slow disk takes longer than the walks. The run
// goes to a memory file system where there is one, so the limit measures the walk.
constexpr int kLongWalkDisks = 64;

std::string memoryFolder() { return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""; }

TEST(HostileImageTimeTest, DamagedTracksOnManyDisksEndWithinTheTimeLimit) {
  const FileSizeLimit limit(256 << 20);
  std::vector<D88Disk> disks;
  for (int i = 0; i < kLongWalkDisks; ++i) {
    D88Disk disk = longWalkDisk(i).disk;
    disk.name = folderName("LONGWALK %02d   ", i) + "\xA0\x02"; // bytes 14 and 15: 672
    disks.push_back(disk);
  }
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"d88vol", {}}, {"d88fat", {}}, {"d88cpm", {}}};
  for (const auto& [tool, extra] : runs) {
    SCOPED_TRACE(tool);
    const ToolWorkspace ws(memoryFolder());
    ASSERT_TRUE(ws.writeImage(disks));
    std::vector<std::string> args = {ws.image};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOptions options;
    options.timeoutSeconds = timeLimitSeconds();
    const RunResult result = ws.run(tool, args, options);
    EXPECT_FALSE(result.killed) << result.command;
    EXPECT_EQ(result.status, 0) << result.command;
    EXPECT_EQ(result.err, "") << result.command;
    EXPECT_EQ(ws.strayItems(), "") << result.command;
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileImageTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& tested) {
                           return std::string(tested.param.name);
                         });

} // namespace
