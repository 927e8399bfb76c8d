// An in-code D88 writer for tests, the sample generator, fuzz seeds and benchmarks.
//
// A test states the bytes that matter: disks made of tracks, tracks made of sector records with
// any C, H, R, N, sector count and data length, in any order; absent tracks; and fault knobs (a
// disk size or track table entry of any value, bytes after the disk). buildD88 lays the disks
// out back to back: each disk's header, then its tracks in ascending track index, each track's
// records in the order given.
#ifndef D88_TESTS_D88BUILDER_H
#define D88_TESTS_D88BUILDER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct SectorRecord {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 1;
  std::uint8_t n = 3;
  Bytes data;
  // Sector count stored in the record; unset: the number of records of its track.
  std::optional<std::uint16_t> count;
  // Data length stored in the record; unset: data.size(). Only data.size() bytes follow it.
  std::optional<std::uint16_t> dataLength;
};

struct D88Track {
  std::vector<SectorRecord> records;
};

struct D88Disk {
  // Up to 16 name bytes are stored; a shorter name is followed by zero bytes.
  std::string name;
  std::uint8_t mediaType = 0x20;
  std::map<int, D88Track> tracks; // by track index 0 to 163; missing ones are absent
  // Stored disk size; unset: header plus tracks plus `trailer`.
  std::optional<std::uint32_t> sizeOverride;
  // Raw values for track table entries, written over the laid-out offsets.
  std::map<int, std::uint32_t> trackEntryOverride;
  // Bytes placed after the disk's last track, counted in its size.
  Bytes trailer;
  // Raw header bytes written last, over anything else (offset -> bytes).
  std::map<int, Bytes> headerPatch;
};

// One sector record with the given ID; `fill` repeated to `length` bytes.
SectorRecord makeSector(int c, int h, int r, int n, int length, std::uint8_t fill);

// A track of sectors first..last, 1024 bytes each (N 3), with C = track / 2 and H = track % 2,
// the data of sector r taken from `data` at (r - first) * 1024 (zero bytes past its end).
D88Track makeTrack(int track, int first, int last, const Bytes& data = {});

Bytes buildD88(const std::vector<D88Disk>& disks);

// Writes `bytes` to `path`; false on failure.
bool writeBytesToFile(const std::string& path, const Bytes& bytes);

#endif
