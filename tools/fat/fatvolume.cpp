#include "fatvolume.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "hostfs.h"

namespace {

constexpr int kSizeCode = 3; // 1024-byte sectors
constexpr int kClusterSize = 1024;
constexpr int kTrackSize = 8192;
constexpr int kFirstLoadedTrack = 1;
constexpr int kLastLoadedTrack = 153;
constexpr int kTableTrack = 1;
constexpr int kTableSector = 2;
constexpr int kDirectoryTrack = 1;
constexpr int kDirectorySector = 6;
constexpr int kDirectoryEntries = 192;
constexpr int kDirectorySize = kDirectoryEntries * 32;
constexpr int kDiskBufferSize = 154 * kTrackSize;
constexpr int kLastCluster = kDiskBufferSize / kClusterSize - 2; // 1230: wholly inside
constexpr int kLastTableEntry = 1364; // the last entry the 2048 table bytes hold
constexpr std::uint16_t kEndOfChain = 0xFFF;

constexpr char kListingLine[] = "%-12s %8d %04d/%02d/%02d %02d:%02d:%02d ";
constexpr char kLetterGap[] = "   ";
// ファイルを書き込めません. \n
constexpr char kCannotWrite[] =
    "\x83t\x83@\x83"
    "C\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1. \n";
// \nクラスタが破損しています.\n
constexpr char kBrokenChain[] =
    "\n\x83N\x83\x89\x83X\x83^\x82\xaa\x94j\x91\xb9\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7.\n";

// Zero at start and never cleared: a sector a disk does not deliver keeps what an earlier disk
// left there.
std::uint8_t directoryBuffer[kDirectorySize];
std::uint8_t rawTable[kRawTableSize];
std::uint16_t clusterTable[kClusterTableSize];
std::uint8_t diskBuffer[kDiskBufferSize];

// Clusters written so far by the current chain: a link back to one of them would loop forever.
std::uint8_t visitedClusters[(kLastCluster + 1 + 7) / 8];

bool visited(int cluster) { return (visitedClusters[cluster / 8] >> (cluster % 8) & 1) != 0; }
void markVisited(int cluster) {
  visitedClusters[cluster / 8] =
      static_cast<std::uint8_t>(visitedClusters[cluster / 8] | 1 << (cluster % 8));
}

const std::uint8_t* clusterData(int cluster) { return diskBuffer + (cluster + 1) * kClusterSize; }

// The run ends with this message; the file stays as far as it was written.
VolumeResult failWrite(OutputFile* file) {
  reportError(kCannotWrite);
  if (file != nullptr) (void)closeFile(file);
  return VolumeResult::EndRun;
}

void loadDisk(D88Image& image) {
  // Short reads leave the rest of each buffer as it was.
  (void)image.readSectors(kTableTrack, kTableTrack / 2, kTableTrack % 2, kTableSector, kSizeCode,
                          rawTable, kRawTableSize);
  (void)image.readSectors(kDirectoryTrack, kDirectoryTrack / 2, kDirectoryTrack % 2,
                          kDirectorySector, kSizeCode, directoryBuffer, kDirectorySize);
  for (int t = kFirstLoadedTrack; t <= kLastLoadedTrack; ++t) {
    (void)image.readSectors(t, t / 2, t % 2, 1, kSizeCode,
                            diskBuffer + (t - kFirstLoadedTrack) * kTrackSize, kTrackSize);
  }
}

} // namespace

void decodeClusterTable(const std::uint8_t* raw, std::uint16_t* table) {
  int entry = 0;
  for (int byte = 0; entry + 1 <= kLastTableEntry; byte += 3, entry += 2) {
    table[entry] = static_cast<std::uint16_t>(raw[byte] | (raw[byte + 1] & 0x0F) << 8);
    table[entry + 1] = static_cast<std::uint16_t>(raw[byte + 1] >> 4 | raw[byte + 2] << 4);
  }
  // The two bytes over the last whole group give entry 1364 by the first rule.
  table[entry] = static_cast<std::uint16_t>(raw[2046] | (raw[2047] & 0x0F) << 8);
}

VolumeResult extractFatFile(const DosDirEntry& entry, const char* name, std::time_t stamp) {
  OutputFile* file = createFile(name);
  if (file == nullptr) return failWrite(nullptr);
  const std::int32_t size = static_cast<std::int32_t>(entry.size);
  if (size == 0) {
    // An empty file keeps the time it was created at.
    const bool closed = closeFile(file);
    std::fputs("\n", stdout);
    return closed ? VolumeResult::Continue : failWrite(nullptr);
  }

  std::int64_t remaining = size;
  int current = entry.start;
  bool broken = current > kLastCluster;
  if (!broken) {
    std::memset(visitedClusters, 0, sizeof visitedClusters);
    while (clusterTable[current] != kEndOfChain) {
      markVisited(current);
      if (!writeBytes(file, clusterData(current), kClusterSize)) return failWrite(file);
      remaining -= kClusterSize;
      const int next = clusterTable[current];
      if (next > kLastCluster || visited(next)) {
        broken = true;
        break;
      }
      current = next;
    }
  }
  if (broken) reportError(kBrokenChain);
  std::fputs("\n", stdout);

  // The tail: the used part of the last cluster, or, when the chain ends before the size is
  // covered, the bytes that follow it on the disk, as far as the disk buffer reaches. A broken
  // chain and a size already covered write none.
  if (!broken && remaining > 0) {
    const std::int64_t offset = static_cast<std::int64_t>(current + 1) * kClusterSize;
    const std::int64_t inside = kDiskBufferSize - offset;
    const std::int64_t length = remaining < inside ? remaining : inside;
    if (!writeBytes(file, diskBuffer + offset, static_cast<std::size_t>(length))) {
      return failWrite(file);
    }
  }
  if (!closeFile(file)) return failWrite(nullptr);
  stampFile(name, stamp);
  return VolumeResult::Continue;
}

VolumeResult extractFatVolume(D88Image& image) {
  loadDisk(image);
  decodeClusterTable(rawTable, clusterTable);

  for (int e = 0; e < kDirectoryEntries; ++e) {
    const std::uint8_t* bytes = directoryBuffer + e * kDosEntrySize;
    if (bytes[0] == kDeletedEntry) continue;
    if (bytes[0] == kEndOfDirectory) break;

    const DosDirEntry entry = readDosDirEntry(bytes);
    char stored[kDosNameBuffer];
    dosFileName(entry, stored);
    const DosDateTime when = decodeDosDateTime(entry);
    const std::time_t stamp = fileStamp(when);
    std::printf(kListingLine, stored, static_cast<std::int32_t>(entry.size), when.year, when.month,
                when.day, when.hour, when.minute, when.second);
    printAttributeLetters(entry.attr);
    std::fputs(kLetterGap, stdout);

    if (!isExtractable(entry.attr)) {
      std::fputs("\n", stdout);
      continue;
    }
    char name[kDosNameBuffer];
    hostFileName(stored, name);
    if (extractFatFile(entry, name, stamp) == VolumeResult::EndRun) return VolumeResult::EndRun;
  }
  return VolumeResult::Continue;
}
