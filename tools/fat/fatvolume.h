// FAT12 volumes of eight 1024-byte sectors per track, as d88fat reads them.
//
//   logical sector a   track index a / 8, sector a % 8 + 1 (track index t: cylinder t / 2,
//                      head t % 2); track index 0 is never read
//   allocation table   logical sectors 9 and 10 (track index 1, sectors 2 and 3): 2048 bytes
//   root directory     logical sectors 13 to 18 (track index 1 sectors 6 to 8, track index 2
//                      sectors 1 to 3): 192 DosDirEntry
//   cluster n          logical sector n + 9, so clusters 0 and 1 are the table's own sectors and
//                      cluster 10 is the first sector after the directory
//   disk buffer        track indices 1 to 153, slot t - 1 of 8192 bytes each, plus one slot that
//                      is never written; cluster n is the 1024 bytes at (n + 1) * 1024, in range
//                      for n from 0 to 1230 (1223 to 1230 lie in the unwritten slot)
//
//   FAT12 packing      bytes b0 b1 b2 of group k hold entry 2k = b0 | (b1 & 0x0F) << 8 and
//                      entry 2k + 1 = b1 >> 4 | b2 << 4; 682 groups and two bytes over give
//                      entries 0 to 1364. 0xFFF ends a chain; every other value is a link.
#ifndef D88_FATVOLUME_H
#define D88_FATVOLUME_H

#include <cstdint>
#include <ctime>

#include "d88image.h"
#include "diskwalker.h"
#include "dosentry.h"

constexpr int kClusterTableSize = 3072;
constexpr int kRawTableSize = 2048;

// Decodes the 12-bit entries 0 to 1364 of `raw` (2048 bytes) into `table`, whose entries from
// 1365 on are left as they are. Nothing outside `raw` is read.
void decodeClusterTable(const std::uint8_t* raw, std::uint16_t* table);

// The volume handler of d88fat: loads the selected disk, decodes its table, lists the root
// directory on standard output and extracts its files into the current directory. Yields EndRun
// when a file could not be created, written or closed, else Continue.
VolumeResult extractFatVolume(D88Image& image);

// Writes one file of the loaded disk along its cluster chain under the host name `name`, and
// sets its times to `stamp` unless it is empty. Ends the entry's listing line with "\n" once the
// whole clusters are written, before the tail. Yields EndRun when the file cannot be created,
// written or closed; the message then ends the output of the run.
VolumeResult extractFatFile(const DosDirEntry& entry, const char* name, std::time_t stamp);

#endif
