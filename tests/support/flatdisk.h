// A disk of 1024-byte sectors held as one flat run of bytes, for building volumes.
//
// Logical sector a is sector a % sectorsPerTrack + 1 of track index a / sectorsPerTrack, with
// C = track / 2 and H = track % 2, which is how every volume the tools read places its sectors.
// A volume builder writes into the flat bytes; toD88 turns them into tracks of records.
#ifndef D88_TESTS_FLATDISK_H
#define D88_TESTS_FLATDISK_H

#include <cstdint>
#include <set>
#include <string>

#include "d88builder.h"

struct FlatDisk {
  FlatDisk(int sectorsPerTrack, int trackCount);

  std::uint8_t* logical(int sector) {
    return bytes.data() + static_cast<std::size_t>(sector) * 1024;
  }
  std::uint8_t* at(int track, int r) { return logical(track * sectorsPerTrack + r - 1); }
  // Copies `data` to the flat bytes from logical sector `sector` on.
  void put(int sector, const Bytes& data, std::size_t offset = 0);

  // Tracks 0 to trackCount - 1 of sectors 1 to sectorsPerTrack, leaving out `absentTracks`.
  D88Disk toD88(const std::string& name) const;

  int sectorsPerTrack;
  int trackCount;
  Bytes bytes;
  std::set<int> absentTracks;
};

// The 32 bytes of a DOS-style directory entry; `name` and `ext` are blank-padded to 8 and 3.
Bytes dosEntry(const std::string& name, const std::string& ext, std::uint8_t attr,
               std::uint16_t time, std::uint16_t date, std::uint16_t start, std::uint32_t size);

// Packs a date and time the way DOS-style entries store them.
std::uint16_t dosTime(int hour, int minute, int second);
std::uint16_t dosDate(int year, int month, int day);

// Packs `value` as the 12-bit entry `cluster` of a FAT12 table: entry 2k in the low 8 bits of
// byte 3k and the low 4 of byte 3k + 1, entry 2k + 1 in the high 4 of byte 3k + 1 and byte 3k + 2.
void setFat12Entry(std::uint8_t* table, int cluster, std::uint16_t value);

// `count` bytes of a recognisable pattern: byte i is (i * 7 + seed) & 0xFF.
Bytes patternBytes(std::size_t count, int seed);

#endif
