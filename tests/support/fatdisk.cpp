#include "fatdisk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kSectorSize = 1024;
constexpr int kTableSector = 9;
constexpr int kDirectorySector = 13;
constexpr int kFirstDataCluster = 10;
constexpr int kClusterSector = 9; // cluster n is on logical sector n + 9
// d88fat's buffer starts at logical sector 8 and has 154 slots of eight sectors.
constexpr std::size_t kBufferStart = 8 * kSectorSize;
constexpr std::size_t kBufferEnd = kBufferStart + 154 * 8 * kSectorSize;

[[noreturn]] void misuse(const char* what, int value) {
  std::fprintf(stderr, "FatDisk: %s %d\n", what, value);
  std::abort();
}

std::size_t clusterOffset(int cluster) {
  return static_cast<std::size_t>(cluster + kClusterSector) * kSectorSize;
}

} // namespace

FatDisk::FatDisk() : flat(8, 154) {}

void FatDisk::setLink(int cluster, std::uint16_t value) {
  if (cluster < 0 || cluster > kFatLastTableEntry) misuse("no table entry", cluster);
  setFat12Entry(table(), cluster, value);
}

std::uint16_t FatDisk::link(int cluster) const {
  if (cluster < 0 || cluster > kFatLastTableEntry) misuse("no table entry", cluster);
  const std::uint8_t* group =
      flat.bytes.data() + kTableSector * kSectorSize + static_cast<std::size_t>(cluster / 2) * 3;
  if (cluster % 2 == 0) return static_cast<std::uint16_t>(group[0] | (group[1] & 0x0F) << 8);
  return static_cast<std::uint16_t>(group[1] >> 4 | group[2] << 4);
}

void FatDisk::setChain(const std::vector<int>& chain, std::uint16_t end) {
  for (std::size_t i = 0; i < chain.size(); ++i) {
    setLink(chain[i], i + 1 < chain.size() ? static_cast<std::uint16_t>(chain[i + 1]) : end);
  }
}

void FatDisk::writeFile(const std::vector<int>& chain, const Bytes& data, std::uint16_t end) {
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const std::size_t from = i * kSectorSize;
    if (from >= data.size()) break;
    if (chain[i] < 0 || chain[i] > kFatLastDiskCluster) misuse("cluster off the disk", chain[i]);
    const std::size_t count = std::min<std::size_t>(kSectorSize, data.size() - from);
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(from),
              data.begin() + static_cast<std::ptrdiff_t>(from + count), cluster(chain[i]));
  }
  setChain(chain, end);
}

void FatDisk::putClusters(int first, const Bytes& data) {
  if (first < 0 || clusterOffset(first) + data.size() > flat.bytes.size()) {
    misuse("data past the disk from cluster", first);
  }
  flat.put(first + kClusterSector, data);
}

void FatDisk::fillClusters(int tag) {
  for (int n = kFirstDataCluster; n <= kFatLastDiskCluster; ++n) {
    Bytes data = patternBytes(kSectorSize, n * 5 + tag * 31);
    data[0] = static_cast<std::uint8_t>(n);
    data[1] = static_cast<std::uint8_t>(n >> 8);
    data[2] = static_cast<std::uint8_t>(tag);
    putClusters(n, data);
  }
}

void FatDisk::setEntry(int index, const Bytes& bytes) {
  if (index < 0 || index >= kFatDirectoryEntries || bytes.size() != 32) {
    misuse("no directory entry", index);
  }
  flat.put(kDirectorySector, bytes, static_cast<std::size_t>(index) * 32);
}

Bytes FatDisk::diskBytes(int first, std::size_t count) const {
  const std::size_t from = clusterOffset(first);
  if (first < 0 || from + count > kBufferEnd) misuse("bytes past the disk buffer from", first);
  Bytes out(count, 0);
  for (std::size_t i = 0; i < count && from + i < flat.bytes.size(); ++i)
    out[i] = flat.bytes[from + i];
  return out;
}
