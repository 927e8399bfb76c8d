// Little-endian numbers as the disk images and volumes store them.
//
// Every multi-byte number in a D88 image, a DOS-style directory entry or a FAT12 table is stored
// least significant byte first. These helpers assemble them from bytes, so no structure is ever
// read by casting a buffer, whatever the host's byte order and alignment.
#ifndef D88_BYTEORDER_H
#define D88_BYTEORDER_H

#include <cstdint>

constexpr std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

#endif
