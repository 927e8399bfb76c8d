// A FAT12 volume of the kind d88fat reads, built on a flat disk of eight 1024-byte sectors per
// track and 154 tracks (logical sectors 0 to 1231).
//
//   allocation table   logical sectors 9 and 10, 2048 bytes; group k of bytes b0 b1 b2 at 3k
//                      holds entry 2k = b0 | (b1 & 0x0F) << 8 and entry 2k + 1 = b1 >> 4 | b2 << 4;
//                      entry 1364 sits alone in bytes 2046 and 2047 by the first rule
//   root directory     logical sectors 13 to 18: 192 entries of 32 bytes
//   cluster n          logical sector n + 9; the disk holds clusters 0 to 1222 (0 and 1 are the
//                      table's sectors, 4 to 9 the directory's)
//
// d88fat loads track indices 1 to 153 into a buffer of 154 track slots, so clusters 1223 to 1230
// lie in its last slot, which no disk fills, and read as zero bytes; diskBytes gives the bytes of
// that buffer.
#ifndef D88_TESTS_FATDISK_H
#define D88_TESTS_FATDISK_H

#include <cstdint>
#include <string>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"

constexpr int kFatLastTableEntry = 1364;    // the last entry the 2048 table bytes hold
constexpr int kFatLastDiskCluster = 1222;   // on logical sector 1231, the disk's last
constexpr int kFatLastBufferCluster = 1230; // the last cluster wholly inside d88fat's buffer
constexpr int kFatDirectoryEntries = 192;
constexpr std::uint16_t kFatEndOfChain = 0xFFF;

struct FatDisk {
  FatDisk();

  // The 2048 table bytes as stored on the disk.
  std::uint8_t* table() { return flat.logical(9); }
  // Sets table entry `cluster` (0 to 1364) to the low 12 bits of `value`, leaving the other
  // entries that share its bytes as they are.
  void setLink(int cluster, std::uint16_t value);
  std::uint16_t link(int cluster) const;
  // Links each cluster of `chain` to the next one and the last one to `end`.
  void setChain(const std::vector<int>& chain, std::uint16_t end = kFatEndOfChain);
  // Puts `data` along `chain`, 1024 bytes to a cluster (the last one partly filled), and links
  // the chain with `end` after its last cluster. Every cluster that takes data must be on the
  // disk (0 to 1222).
  void writeFile(const std::vector<int>& chain, const Bytes& data,
                 std::uint16_t end = kFatEndOfChain);
  // Copies `data` from the start of cluster `cluster` on, running into the clusters after it.
  void putClusters(int cluster, const Bytes& data);
  std::uint8_t* cluster(int n) { return flat.logical(n + 9); }

  // Gives every cluster from 10 (the first after the directory) to 1222 bytes of its own: bytes 0
  // and 1 hold the cluster number, byte 2 `tag`, the rest a pattern seeded by both.
  void fillClusters(int tag = 0);

  // Directory entry `index` (0 to 191).
  void setEntry(int index, const Bytes& entry);
  std::uint8_t* entry(int index) { return flat.logical(13) + index * 32; }

  // `count` bytes from cluster `cluster` on as d88fat's disk buffer holds them once the whole
  // disk is loaded: zero bytes from cluster 1223 on. Aborts past the end of that buffer.
  Bytes diskBytes(int cluster, std::size_t count) const;

  D88Disk toD88(const std::string& name) const { return flat.toD88(name); }

  FlatDisk flat;
};

#endif
