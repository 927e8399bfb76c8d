// DosDirEntry: the 32-byte MS-DOS-layout directory entry of GAUDI and FAT12 volumes.
//
//   offset  width  field  meaning
//   0       8      name   base name, blank-padded; byte 0 is also the marker:
//                         0xE5 deleted (skipped), 0x00 end of directory, else in use
//   8       3      ext    extension, blank-padded
//   11      1      attr   DosAttr bits
//   12      10     -      not interpreted
//   22      2      time   hour << 11 | minute << 5 | second / 2
//   24      2      date   (year - 1980) << 9 | month << 5 | day
//   26      2      start  GAUDI: first logical sector - 9; FAT12: first cluster
//   28      4      size   FAT12: all 32 bits, signed; GAUDI: bytes 28 and 29 only
//
// Nothing here keeps state between entries.
#ifndef D88_DOSENTRY_H
#define D88_DOSENTRY_H

#include <cstddef>
#include <cstdint>
#include <ctime>

constexpr int kDosEntrySize = 32;
constexpr std::uint8_t kDeletedEntry = 0xE5;
constexpr std::uint8_t kEndOfDirectory = 0x00;
// Longest name: 8 base bytes, a dot, 3 extension bytes, and the terminating zero.
constexpr std::size_t kDosNameBuffer = 13;

struct DosDirEntry {
  std::uint8_t name[8];
  std::uint8_t ext[3];
  std::uint8_t attr;
  std::uint16_t time;
  std::uint16_t date;
  std::uint16_t start;
  std::uint32_t size;
};

// Attribute bits, in the order the listing prints them.
enum DosAttr : std::uint8_t {
  Archive = 0x20,
  Directory = 0x10,
  Volume = 0x08,
  System = 0x04,
  Hidden = 0x02,
  ReadOnly = 0x01,
};

// Date and time exactly as unpacked, with no range check (month 0, hour 31 and the like pass).
struct DosDateTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// Reads the entry from its 32 bytes on the disk.
DosDirEntry readDosDirEntry(const std::uint8_t* bytes);

// The name as stored: base name up to its first blank, then "." and the extension up to its
// first blank unless the extension starts with a blank. A zero byte ends the name where it
// stands. `out` receives 0 to 12 bytes and a terminating zero; no byte is changed.
void dosFileName(const DosDirEntry& entry, char (&out)[kDosNameBuffer]);

DosDateTime decodeDosDateTime(const DosDirEntry& entry);

// Writes "A ", "D ", "V ", "S ", "H ", "R" to standard output for each bit set, in that order.
void printAttributeLetters(std::uint8_t attr);

// Files are extracted unless they are volume labels or directories, which are only listed.
bool isExtractable(std::uint8_t attr);

// The instant of that local date and time, fields out of range carried over as mktime does
// them (month 0 is December of the year before); daylight saving is left to the conversion.
// -1 when the conversion fails.
std::time_t fileStamp(const DosDateTime& when);

// Sets the file's last-access and last-modification times to `stamp`; the outcome is not told.
void stampFile(const char* name, std::time_t stamp);

#endif
