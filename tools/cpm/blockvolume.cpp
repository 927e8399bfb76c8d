#include "blockvolume.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "hostfs.h"
#include "messages.h"
#include "paddedname.h"

namespace {

// Geometry of a block volume; nothing of it is read from the disk.
constexpr int kSizeCode = 3; // 1024-byte sectors
constexpr int kFirstSector = 1;
constexpr int kLastSector = 5;
constexpr int kFirstVolumeTrack = 2;
constexpr int kSectorsPerBlock = 2;
constexpr int kBlockSize = 2048;
constexpr int kRecordSize = 128;
constexpr int kDirectorySize = 4096;
constexpr int kDirectoryEntries = 128;
constexpr int kEntrySize = 32;
constexpr int kFolderDigitOffset = 10; // byte of entry 0 that numbers the disk folder

constexpr char kUsage[] = "Usage: d88cpm image\n";
// ディスク %d 枚目はミッドガルツまたはガウディのディスクではないようです.\n
constexpr char kNotBlockVolume[] =
    "\x83"
    "f\x83"
    "B\x83X\x83N %d \x96\x87\x96\xda\x82\xcd\x83~\x83"
    "b\x83h\x83K\x83\x8b\x83"
    "c\x82\xdc\x82\xbd\x82\xcd\x83K\x83"
    "E\x83"
    "f\x83"
    "B\x82\xcc\x83"
    "f\x83"
    "B\x83X\x83N\x82"
    "\xc5\x82\xcd\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7.\n";
// ディスク %d 枚目からファイルを抽出します.\n
constexpr char kExtracting[] = "\x83"
                               "f\x83"
                               "B\x83X\x83N %d \x96\x87\x96\xda\x82\xa9\x82\xe7\x83t\x83@\x83"
                               "C\x83\x8b\x82"
                               "\xf0\x92\x8a\x8fo\x82\xb5\x82\xdc\x82\xb7.\n";

// Zero at start; the directory is cleared before each read, the data buffer never: a block that
// cannot be read leaves there what an earlier file put at that offset.
std::uint8_t directoryBuffer[kDirectorySize];
std::uint8_t dataBuffer[65536];

// Entry 0 of a block volume belongs to user 0, has a name, and s1 0.
bool isBlockVolume(const std::uint8_t* directory) {
  return directory[0] == 0 && directory[1] != 0 && directory[13] == 0;
}

// Extracts every file of the recognised disk into `folder`. False when a file could not be
// written; the walk goes on with the next entry all the same.
bool extractEntries(D88Image& image, const char* folder) {
  bool allWritten = true;
  for (int e = 0; e < kDirectoryEntries; ++e) {
    const CpmDirEntry entry = readCpmDirEntry(directoryBuffer + e * kEntrySize);
    if (entry.user != 0 || entry.s1 != 0) break;
    const int size = entry.recordCount * kRecordSize;
    if (size == 0) continue;

    char stored[kCpmNameSize];
    cpmFileName(entry, stored);
    char name[kCpmNameSize];
    hostFileName(stored, name);

    const int blockCount = (size + kBlockSize - 1) / kBlockSize;
    for (int k = 0; k < blockCount; ++k) {
      int track = 0;
      int sector = 0;
      blockPosition(entry.blocks[k], track, sector);
      // A short read keeps what the buffer held at that offset before.
      (void)image.readSectors(track, track / 2, track % 2, sector, kSizeCode,
                              dataBuffer + k * kBlockSize, kBlockSize);
    }

    char path[kOutputPathSize];
    std::snprintf(path, sizeof path, "%s/%s", folder, name);
    if (!writeWholeFile(path, dataBuffer, static_cast<std::size_t>(size))) {
      reportError(kCannotWriteFile, path);
      allWritten = false;
    }
  }
  return allWritten;
}

} // namespace

CpmDirEntry readCpmDirEntry(const std::uint8_t* bytes) {
  CpmDirEntry entry;
  entry.user = bytes[0];
  std::memcpy(entry.name, bytes + 1, sizeof entry.name);
  std::memcpy(entry.ext, bytes + 9, sizeof entry.ext);
  entry.extent = bytes[12];
  entry.s1 = bytes[13];
  entry.s2 = bytes[14];
  entry.recordCount = bytes[15];
  std::memcpy(entry.blocks, bytes + 16, sizeof entry.blocks);
  return entry;
}

void cpmFileName(const CpmDirEntry& entry, char (&out)[kCpmNameSize]) {
  paddedName(entry.name, entry.ext, out);
}

void blockPosition(std::uint8_t block, int& track, int& sector) {
  const int volumeSector = kSectorsPerBlock * block;
  track = kFirstVolumeTrack + volumeSector / kLastSector;
  sector = volumeSector % kLastSector + kFirstSector;
}

bool extractBlockDisk(D88Image& image, int index) {
  (void)image.selectDisk(index);
  image.setSectorRange(kFirstSector, kLastSector);
  std::memset(directoryBuffer, 0, sizeof directoryBuffer);
  (void)image.readSectors(kFirstVolumeTrack, kFirstVolumeTrack / 2, kFirstVolumeTrack % 2,
                          kFirstSector, kSizeCode, directoryBuffer, kDirectorySize);
  if (!isBlockVolume(directoryBuffer)) {
    reportError(kNotBlockVolume, index + 1);
    return true;
  }
  std::printf(kExtracting, index + 1);

  char folder[kFolderNameSize];
  std::snprintf(folder, sizeof folder, "DISK%02d", directoryBuffer[kFolderDigitOffset] - '0');
  makeFolder(folder); // an existing folder is used as it is
  return extractEntries(image, folder);
}

int runBlockTool(int argc, char** argv) {
  prepareConsole();
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  D88Image image;
  if (!image.open(argv[1])) {
    reportError(kCannotOpenImage);
    return 1;
  }
  bool allWritten = true;
  const int diskCount = image.diskCount();
  for (int i = 0; i < diskCount; ++i) {
    if (!extractBlockDisk(image, i)) allWritten = false;
  }
  return allWritten ? 0 : 1;
}
