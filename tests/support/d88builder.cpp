#include "d88builder.h"

#include <cstdio>

namespace {

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kRecordHeaderSize = 16;
constexpr int kTrackCount = 164;

void put16(Bytes& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& out, std::size_t at, std::uint32_t value) {
  put16(out, at, value & 0xFFFF);
  put16(out, at + 2, value >> 16);
}

} // namespace

SectorRecord makeSector(int c, int h, int r, int n, int length, std::uint8_t fill) {
  SectorRecord record;
  record.c = static_cast<std::uint8_t>(c);
  record.h = static_cast<std::uint8_t>(h);
  record.r = static_cast<std::uint8_t>(r);
  record.n = static_cast<std::uint8_t>(n);
  record.data.assign(static_cast<std::size_t>(length), fill);
  return record;
}

D88Track makeTrack(int track, int first, int last, const Bytes& data) {
  D88Track result;
  for (int r = first; r <= last; ++r) {
    SectorRecord record = makeSector(track / 2, track % 2, r, 3, 1024, 0);
    const std::size_t from = static_cast<std::size_t>(r - first) * 1024;
    for (std::size_t i = 0; i < 1024 && from + i < data.size(); ++i)
      record.data[i] = data[from + i];
    result.records.push_back(std::move(record));
  }
  return result;
}

Bytes buildD88(const std::vector<D88Disk>& disks) {
  Bytes out;
  for (const D88Disk& disk : disks) {
    const std::size_t start = out.size();
    out.resize(start + kHeaderSize, 0);
    for (std::size_t i = 0; i < disk.name.size() && i < 16; ++i) {
      out[start + i] = static_cast<std::uint8_t>(disk.name[i]);
    }
    out[start + 0x1B] = disk.mediaType;
    for (const auto& [index, track] : disk.tracks) {
      if (index >= 0 && index < kTrackCount) {
        put32(out, start + 0x20 + 4 * static_cast<std::size_t>(index),
              static_cast<std::uint32_t>(out.size() - start));
      }
      const std::size_t count = track.records.size();
      for (const SectorRecord& record : track.records) {
        const std::size_t at = out.size();
        out.resize(at + kRecordHeaderSize, 0);
        out[at + 0] = record.c;
        out[at + 1] = record.h;
        out[at + 2] = record.r;
        out[at + 3] = record.n;
        put16(out, at + 4, record.count.value_or(static_cast<std::uint16_t>(count)));
        put16(out, at + 14,
              record.dataLength.value_or(static_cast<std::uint16_t>(record.data.size())));
        out.insert(out.end(), record.data.begin(), record.data.end());
      }
    }
    out.insert(out.end(), disk.trailer.begin(), disk.trailer.end());
    for (const auto& [index, entry] : disk.trackEntryOverride) {
      put32(out, start + 0x20 + 4 * static_cast<std::size_t>(index), entry);
    }
    put32(out, start + 0x1C,
          disk.sizeOverride.value_or(static_cast<std::uint32_t>(out.size() - start)));
    for (const auto& [offset, bytes] : disk.headerPatch) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[start + static_cast<std::size_t>(offset) + i] = bytes[i];
      }
    }
  }
  return out;
}

bool writeBytesToFile(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  // An empty vector may hold no buffer at all, and fwrite must not be handed a null pointer.
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}
