// Block volumes for tests, laid out on a FlatDisk of five 1024-byte sectors a track.
//
//   track index 2, sectors 1 to 4   directory: blocks 0 and 1, 128 entries of 32 bytes
//   block b                         2048 bytes from logical sector 10 + 2b, that is track index
//                                   2 + 2b / 5, sector 2b % 5 + 1, running on to sector 1 of the
//                                   next track when it starts at sector 5
//
// A test states each directory entry field by field (BlockEntry) or as raw bytes, and writes
// block contents by block number, so a fixture shows exactly the bytes the tool meets.
#ifndef D88_TESTS_BLOCKDISK_H
#define D88_TESTS_BLOCKDISK_H

#include <cstdint>
#include <string>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"

constexpr int kBlockBytes = 2048;
constexpr int kBlockEntryBytes = 32;
constexpr int kBlockDirectoryEntries = 128;

// Logical sector of a five-sector FlatDisk at which block `block` begins.
constexpr int blockStartSector(int block) { return 10 + 2 * block; }

// One CP/M-style directory entry, byte for byte:
//   0 user, 1-8 name, 9-11 ext, 12 extent, 13 s1, 14 s2, 15 recordCount, 16-31 blocks.
struct BlockEntry {
  std::uint8_t user = 0;
  std::string name; // raw bytes, blank-padded (or cut) to 8
  std::string ext;  // raw bytes, blank-padded (or cut) to 3
  std::uint8_t extent = 0;
  std::uint8_t s1 = 0;
  std::uint8_t s2 = 0;
  std::uint8_t recordCount = 0;
  std::vector<std::uint8_t> blocks; // the first 16 are stored, zero bytes after them
};

Bytes blockEntryBytes(const BlockEntry& entry);

// An entry 0 that passes the volume test and makes no file: name "VOLUME", record count 0, and
// `folderByte` as byte 10 (the second extension byte), which numbers the disk folder.
BlockEntry volumeEntry(std::uint8_t folderByte = '1');

struct BlockDisk {
  // `trackCount` tracks of sectors 1 to 5, all zero bytes; 105 tracks reach block 255.
  explicit BlockDisk(int trackCount = 12);

  void setEntry(int index, const BlockEntry& entry);
  void setEntryBytes(int index, const Bytes& bytes);

  // Writes `data` (at most 2048 bytes) at the start of block `block`.
  void putBlock(int block, const Bytes& data);
  // The 2048 bytes of block `block` as they stand.
  Bytes block(int block) const;

  // Stores `data` across `blocks` in order and sets entry `index` to a file of that name with
  // (size + 127) / 128 records. The blocks' bytes beyond `data` stay as they were.
  void addFile(int index, const std::string& name, const std::string& ext, const Bytes& data,
               const std::vector<std::uint8_t>& blocks);

  // The bytes a file of `size` bytes stored in `blocks` holds: the blocks one after another,
  // cut to `size`.
  Bytes fileBytes(const std::vector<std::uint8_t>& blocks, std::size_t size) const;

  D88Disk toD88(const std::string& name = "BLOCK VOLUME") const { return flat.toD88(name); }

  FlatDisk flat;
};

#endif
