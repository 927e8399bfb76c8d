#include "flatdisk.h"

#include <algorithm>

FlatDisk::FlatDisk(int sectors, int tracks)
    : sectorsPerTrack(sectors), trackCount(tracks),
      bytes(static_cast<std::size_t>(sectors) * static_cast<std::size_t>(tracks) * 1024, 0) {}

void FlatDisk::put(int sector, const Bytes& data, std::size_t offset) {
  std::copy(data.begin(), data.end(), logical(sector) + offset);
}

D88Disk FlatDisk::toD88(const std::string& name) const {
  D88Disk disk;
  disk.name = name;
  const std::size_t trackBytes = static_cast<std::size_t>(sectorsPerTrack) * 1024;
  for (int t = 0; t < trackCount; ++t) {
    if (absentTracks.count(t) != 0) continue;
    const auto from =
        bytes.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(t) * trackBytes);
    disk.tracks[t] = makeTrack(t, 1, sectorsPerTrack,
                               Bytes(from, from + static_cast<std::ptrdiff_t>(trackBytes)));
  }
  return disk;
}

Bytes dosEntry(const std::string& name, const std::string& ext, std::uint8_t attr,
               std::uint16_t time, std::uint16_t date, std::uint16_t start, std::uint32_t size) {
  Bytes entry(32, 0);
  for (std::size_t i = 0; i < 8; ++i)
    entry[i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ';
  for (std::size_t i = 0; i < 3; ++i)
    entry[8 + i] = i < ext.size() ? static_cast<std::uint8_t>(ext[i]) : ' ';
  entry[11] = attr;
  entry[22] = static_cast<std::uint8_t>(time);
  entry[23] = static_cast<std::uint8_t>(time >> 8);
  entry[24] = static_cast<std::uint8_t>(date);
  entry[25] = static_cast<std::uint8_t>(date >> 8);
  entry[26] = static_cast<std::uint8_t>(start);
  entry[27] = static_cast<std::uint8_t>(start >> 8);
  for (int i = 0; i < 4; ++i)
    entry[28 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
  return entry;
}

std::uint16_t dosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}

std::uint16_t dosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}

Bytes patternBytes(std::size_t count, int seed) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed));
  return out;
}

void setFat12Entry(std::uint8_t* table, int cluster, std::uint16_t value) {
  std::uint8_t* group = table + cluster / 2 * 3;
  if (cluster % 2 == 0) {
    group[0] = static_cast<std::uint8_t>(value);
    group[1] = static_cast<std::uint8_t>((group[1] & 0xF0) | (value >> 8 & 0x0F));
  } else {
    group[1] = static_cast<std::uint8_t>((group[1] & 0x0F) | (value & 0x0F) << 4);
    group[2] = static_cast<std::uint8_t>(value >> 4);
  }
}
