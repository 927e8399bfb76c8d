#include "gaudivolume.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "dosentry.h"
#include "hostfs.h"
#include "messages.h"

namespace {

constexpr int kSizeCode = 3; // 1024-byte sectors
constexpr int kSectorsPerTrack = 8;
constexpr int kDirectoryTrack = 1;
constexpr int kDirectorySector = 1;
constexpr int kDirectorySize = 4096;
constexpr int kSlotCount = 128;
constexpr int kStartBias = 9; // start counts logical sectors from 9
constexpr char kSignature[] = "GAUDI";
constexpr std::size_t kSignatureLength = 5;
constexpr int kDiskLetterOffset = 5;

// Disk %c を認識しました.\n
constexpr char kRecognised[] = "Disk %c \x82\xf0\x94"
                               "F\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n";
constexpr char kListingLine[] = "%-12s trk=%3d sec=%d size=%04x %04d/%02d/%02d %02d:%02d:%02d ";

std::uint8_t directoryBuffer[kDirectorySize];
// Room for a whole disk of 154 tracks of eight 1024-byte sectors; a file uses at most 65535.
std::uint8_t fileBuffer[1261568];

} // namespace

bool extractGaudiFile(D88Image& image, const char* name, int track, int cylinder, int head,
                      int sector, std::uint32_t size) {
  const std::int32_t length = static_cast<std::int32_t>(size);
  std::int32_t delivered =
      image.readSectors(track, cylinder, head, sector, kSizeCode, fileBuffer, length);
  // What the disk did not deliver is written as zero bytes, never as an earlier file's.
  std::memset(fileBuffer + delivered, 0, static_cast<std::size_t>(length - delivered));
  return writeWholeFile(name, fileBuffer, size);
}

VolumeResult extractGaudiVolume(D88Image& image) {
  std::int32_t delivered =
      image.readSectors(kDirectoryTrack, kDirectoryTrack / 2, kDirectoryTrack % 2, kDirectorySector,
                        kSizeCode, directoryBuffer, kDirectorySize);
  // A short read must not show an earlier disk's signature and entries.
  std::memset(directoryBuffer + delivered, 0, static_cast<std::size_t>(kDirectorySize - delivered));
  if (std::memcmp(directoryBuffer, kSignature, kSignatureLength) != 0)
    return VolumeResult::Continue;
  std::printf(kRecognised, directoryBuffer[kDiskLetterOffset]);

  VolumeResult result = VolumeResult::Continue;
  for (int s = 1; s < kSlotCount; ++s) {
    const std::uint8_t* slot = directoryBuffer + s * kDosEntrySize;
    if (slot[0] == kDeletedEntry) continue;
    if (slot[0] == kEndOfDirectory) break;

    const DosDirEntry entry = readDosDirEntry(slot);
    char stored[kDosNameBuffer];
    dosFileName(entry, stored);
    const DosDateTime when = decodeDosDateTime(entry);
    const std::time_t stamp = fileStamp(when);
    const int logical = entry.start + kStartBias;
    const int track = logical / kSectorsPerTrack;
    const int sector = logical % kSectorsPerTrack + 1;
    const std::uint32_t size = entry.size & 0xFFFF; // bytes 30 and 31 are not part of it

    std::printf(kListingLine, stored, track, sector, static_cast<unsigned>(size), when.year,
                when.month, when.day, when.hour, when.minute, when.second);
    printAttributeLetters(entry.attr);
    std::fputs("\n", stdout);

    if (!isExtractable(entry.attr)) continue;
    char name[kDosNameBuffer];
    hostFileName(stored, name);
    if (extractGaudiFile(image, name, track, track / 2, track % 2, sector, size)) {
      stampFile(name, stamp);
    } else {
      reportError(kCannotWriteFile, name);
      result = VolumeResult::ContinueFailed;
    }
  }
  return result;
}
