// Block volumes of the Midgarts and Gaudi game disks, as d88cpm reads them.
//
//   sector            1024 bytes, size code 3, numbers 1 to 5 on every track
//   track index t     cylinder t / 2, head t % 2; tracks 0 and 1 are never read
//   block b           2048 bytes: volume sectors 2b and 2b + 1, counting sector 1 of track
//                     index 2 as volume sector 0, so it starts on track index 2 + 2b / 5,
//                     sector 2b % 5 + 1, and runs on to sector 1 of the next track after 5
//   directory         blocks 0 and 1 (track index 2, sectors 1 to 4): 128 CpmDirEntry
//
//   CpmDirEntry (CP/M 2.2 layout)
//   0      user         0 for every entry read; anything else ends the directory
//   1-8    name         blank-padded
//   9-11   ext          blank-padded; byte 10 of entry 0 numbers the disk folder
//   12     extent       not interpreted
//   13     s1           must be 0; anything else ends the directory
//   14     s2           not interpreted
//   15     recordCount  128-byte records: the file holds recordCount * 128 bytes
//   16-31  blocks       block numbers in file order
//
// Each entry is a file of its own: extents are not joined.
#ifndef D88_BLOCKVOLUME_H
#define D88_BLOCKVOLUME_H

#include <cstddef>
#include <cstdint>

#include "d88image.h"

struct CpmDirEntry {
  std::uint8_t user;
  std::uint8_t name[8];
  std::uint8_t ext[3];
  std::uint8_t extent;
  std::uint8_t s1;
  std::uint8_t s2;
  std::uint8_t recordCount;
  std::uint8_t blocks[16];
};

// Text buffers: "DISK%02d" needs at most 7 characters ("DISK-48"), a name 12, the path
// "folder/name" 20, each with its terminating zero.
constexpr std::size_t kFolderNameSize = 8;
constexpr std::size_t kCpmNameSize = 13;
constexpr std::size_t kOutputPathSize = 32;

CpmDirEntry readCpmDirEntry(const std::uint8_t* bytes);

// The name as stored: base name up to its first blank, then "." and the extension up to its
// first blank unless the extension starts with a blank. A zero byte ends the name there.
void cpmFileName(const CpmDirEntry& entry, char (&out)[kCpmNameSize]);

// Where block b begins: track index and sector number.
void blockPosition(std::uint8_t block, int& track, int& sector);

// One disk of the image: selects disk `index`, reads its directory, and when it is a block
// volume prints the extraction line, makes its folder "DISK%02d" and writes its files there;
// otherwise reports it as not recognised. False when a file could not be written.
bool extractBlockDisk(D88Image& image, int index);

// The d88cpm program: usage check, open, and every disk of the image in turn. Yields the exit
// status: 1 for a wrong argument count, an image that cannot be opened, or a file that could not
// be written (after the last disk); 0 otherwise.
int runBlockTool(int argc, char** argv);

#endif
