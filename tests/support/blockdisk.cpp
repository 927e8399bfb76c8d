#include "blockdisk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kDirectorySector = blockStartSector(0);

void putPadded(Bytes& out, std::size_t at, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

// A fixture that writes outside its disk is a fault of the test itself.
void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "blockdisk: %s\n", what);
  std::abort();
}

} // namespace

Bytes blockEntryBytes(const BlockEntry& entry) {
  Bytes out(kBlockEntryBytes, 0);
  out[0] = entry.user;
  putPadded(out, 1, entry.name, 8);
  putPadded(out, 9, entry.ext, 3);
  out[12] = entry.extent;
  out[13] = entry.s1;
  out[14] = entry.s2;
  out[15] = entry.recordCount;
  for (std::size_t k = 0; k < entry.blocks.size() && k < 16; ++k)
    out[16 + k] = entry.blocks[k];
  return out;
}

BlockEntry volumeEntry(std::uint8_t folderByte) {
  BlockEntry entry;
  entry.name = "VOLUME";
  entry.ext = std::string{'S', static_cast<char>(folderByte)};
  return entry;
}

BlockDisk::BlockDisk(int trackCount) : flat(5, trackCount) {}

void BlockDisk::setEntry(int index, const BlockEntry& entry) {
  setEntryBytes(index, blockEntryBytes(entry));
}

void BlockDisk::setEntryBytes(int index, const Bytes& bytes) {
  require(index >= 0 && index < kBlockDirectoryEntries && bytes.size() == kBlockEntryBytes,
          "directory entry out of range");
  require(flat.trackCount > 2, "disk too short for the directory");
  flat.put(kDirectorySector, bytes, static_cast<std::size_t>(index) * kBlockEntryBytes);
}

void BlockDisk::putBlock(int block, const Bytes& data) {
  require(data.size() <= kBlockBytes, "block data longer than a block");
  require(block >= 0 && (blockStartSector(block) + 2) * 1024 <= static_cast<int>(flat.bytes.size()),
          "block beyond the disk's tracks");
  flat.put(blockStartSector(block), data);
}

Bytes BlockDisk::block(int block) const {
  require(block >= 0 && (blockStartSector(block) + 2) * 1024 <= static_cast<int>(flat.bytes.size()),
          "block beyond the disk's tracks");
  const auto from = flat.bytes.begin() + blockStartSector(block) * 1024;
  return Bytes(from, from + kBlockBytes);
}

void BlockDisk::addFile(int index, const std::string& name, const std::string& ext,
                        const Bytes& data, const std::vector<std::uint8_t>& blocks) {
  require(data.size() <= 255 * 128 && data.size() <= blocks.size() * kBlockBytes,
          "file data longer than its entry can hold");
  for (std::size_t k = 0; k * kBlockBytes < data.size(); ++k) {
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(k * kBlockBytes);
    const auto to =
        data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), (k + 1) * kBlockBytes));
    putBlock(blocks[k], Bytes(from, to));
  }
  BlockEntry entry;
  entry.name = name;
  entry.ext = ext;
  entry.recordCount = static_cast<std::uint8_t>((data.size() + 127) / 128);
  entry.blocks = blocks;
  setEntry(index, entry);
}

Bytes BlockDisk::fileBytes(const std::vector<std::uint8_t>& blocks, std::size_t size) const {
  Bytes out;
  for (std::uint8_t b : blocks) {
    const Bytes part = block(b);
    out.insert(out.end(), part.begin(), part.end());
  }
  require(out.size() >= size, "file longer than its blocks");
  out.resize(size);
  return out;
}
