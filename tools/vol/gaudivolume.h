// GAUDI volumes, as d88vol reads them.
//
//   sector          1024 bytes, size code 3, numbers 1 to 8 on every track
//   logical sector  L lies on track index L / 8 as sector L % 8 + 1 (track index t is cylinder
//                   t / 2, head t % 2), so a run goes from sector 8 to sector 1 of the next track
//   directory       track index 1, sectors 1 to 4 (logical 8 to 11): 128 slots of 32 bytes
//   slot 0          "GAUDI" (bytes 0 to 4, exact) and the disk letter (byte 5)
//   slots 1-127     DosDirEntry; start = first logical sector - 9; size = bytes 28 and 29 only
//   file data       size bytes in consecutive logical sectors from start + 9 on
#ifndef D88_GAUDIVOLUME_H
#define D88_GAUDIVOLUME_H

#include <cstdint>

#include "d88image.h"
#include "diskwalker.h"

// The volume handler of d88vol: lists the selected disk's directory on standard output and
// extracts its files into the current directory with their stored times. A disk without the
// signature prints nothing. Yields ContinueFailed when a file could not be written, else
// Continue: d88vol never ends a run early.
VolumeResult extractGaudiVolume(D88Image& image);

// Reads `size` bytes from the given first sector on and writes them to `name` in the current
// directory; bytes the disk does not deliver are written as zero bytes. False when the file
// could not be created, written or closed.
bool extractGaudiFile(D88Image& image, const char* name, int track, int cylinder, int head,
                      int sector, std::uint32_t size);

#endif
