#include "dosentry.h"

#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "hostfs.h"
#include "paddedname.h"

namespace {

constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kExtOffset = 8;
constexpr std::size_t kAttrOffset = 11;
constexpr std::size_t kTimeOffset = 22;
constexpr std::size_t kDateOffset = 24;
constexpr std::size_t kStartOffset = 26;
constexpr std::size_t kSizeOffset = 28;

struct AttributeLetter {
  std::uint8_t bit;
  const char* text;
};
constexpr AttributeLetter kAttributeLetters[] = {
    {Archive, "A "}, {Directory, "D "}, {Volume, "V "},
    {System, "S "},  {Hidden, "H "},    {ReadOnly, "R"},
};

} // namespace

DosDirEntry readDosDirEntry(const std::uint8_t* bytes) {
  DosDirEntry entry;
  std::memcpy(entry.name, bytes + kNameOffset, sizeof entry.name);
  std::memcpy(entry.ext, bytes + kExtOffset, sizeof entry.ext);
  entry.attr = bytes[kAttrOffset];
  entry.time = le16(bytes + kTimeOffset);
  entry.date = le16(bytes + kDateOffset);
  entry.start = le16(bytes + kStartOffset);
  entry.size = le32(bytes + kSizeOffset);
  return entry;
}

void dosFileName(const DosDirEntry& entry, char (&out)[kDosNameBuffer]) {
  paddedName(entry.name, entry.ext, out);
}

DosDateTime decodeDosDateTime(const DosDirEntry& entry) {
  DosDateTime when;
  when.hour = entry.time >> 11;
  when.minute = (entry.time & 0x07E0) >> 5;
  when.second = (entry.time & 0x001F) * 2;
  when.year = (entry.date >> 9) + 1980;
  when.month = (entry.date & 0x01E0) >> 5;
  when.day = entry.date & 0x001F;
  return when;
}

void printAttributeLetters(std::uint8_t attr) {
  for (const AttributeLetter& letter : kAttributeLetters) {
    if ((attr & letter.bit) != 0) std::fputs(letter.text, stdout);
  }
}

bool isExtractable(std::uint8_t attr) { return (attr & (Volume | Directory)) == 0; }

std::time_t fileStamp(const DosDateTime& when) {
  std::tm local = {};
  local.tm_year = when.year - 1900;
  local.tm_mon = when.month - 1;
  local.tm_mday = when.day;
  local.tm_hour = when.hour;
  local.tm_min = when.minute;
  local.tm_sec = when.second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

void stampFile(const char* name, std::time_t stamp) { setFileTimes(name, stamp); }
