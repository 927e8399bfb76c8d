// The sample images the project ships, one per kind of volume the tools read, built from the
// same builders the tests use. makesamples writes them; the fuzz seeds start from them.
#ifndef D88_TESTS_SAMPLEIMAGES_H
#define D88_TESTS_SAMPLEIMAGES_H

#include <vector>

#include "d88builder.h"

// Two GAUDI disks, letters A and B: a volume label, a text file, pattern files (one crossing
// from sector 8 to the next track) and a Shift-JIS name.
std::vector<D88Disk> sampleGaudiImage();
// One FAT12 disk: a volume label, files of one and of several clusters, a fragmented chain and a
// directory entry.
std::vector<D88Disk> sampleFatImage();
// One block volume numbered 1 (folder DISK01): files of 2, 1, 2 and 16 blocks.
std::vector<D88Disk> sampleBlockImage();

#endif
