// D88Image: the reader over one D88 image file.
//
// A D88 file holds the images of one or more floppy disks back to back. Each image is a 688-byte
// disk header followed by its tracks; each track is a run of sector records, a 16-byte sector
// header followed by the sector's data:
//
//   disk header                          sector record
//   0x00  16  name, zero-ended if short  0   1  C  cylinder of the sector ID
//   0x10  10  (name end, reserved)       1   1  H  head
//   0x1A   1  (write protect)            2   1  R  sector number
//   0x1B   1  media type                 3   1  N  size code, nominal length 128 << N
//   0x1C   4  disk size, header included 4   2  sector count of the track (same in every record)
//   0x20 656  164 track offsets, from    6   8  (density, deleted mark, status, reserved)
//             the header's first byte;   14  2  data length: bytes of data after this header
//             0 = track absent           16  .. data
//
// Images are found by chaining disk sizes from offset 0 (at most 64). Records of a track need
// not be in sector order, and a record's data length need not be its nominal length: sectors are
// found by their recorded C, H, R, N and copied by the data length alone. All numbers are
// little-endian.
//
// The reader prints nothing and never ends the program: every operation reports failure by its
// result (false or 0). Nothing of the image is held in memory apart from the selected disk's
// header fields and the stream's read-ahead buffer: every read goes to the file, and walks a
// track from its first record. Track index t stands for cylinder t / 2 and head t % 2 on the
// disks the tools read.
#ifndef D88_D88IMAGE_H
#define D88_D88IMAGE_H

#include <cstdint>
#include <cstdio>

class D88Image {
public:
  static constexpr std::int32_t kMaxDisks = 64;
  static constexpr std::int32_t kTrackCount = 164;
  static constexpr std::int32_t kDiskHeaderSize = 0x2B0; // 688 bytes
  static constexpr std::int32_t kSectorHeaderSize = 16;
  static constexpr std::int32_t kNameLength = 16;
  static constexpr std::int32_t kMaxSizeCode = 23; // 128 << 23 is the last positive 32-bit size
  // No track of a floppy disk holds this many sectors: even ID fields alone, some twenty bytes
  // each on the medium, would fill a high-density track about twice. A walk that has passed this
  // many records is on a damaged track whose counts never mark its last record, and ends there:
  // left to run on to the end of the file, each search would cross every later disk, and a
  // file of such disks would take time growing with the square of its size.
  static constexpr std::int32_t kMaxTrackRecords = 1024;

  // No file open and no disk selected: every read yields 0 until open and selectDisk succeed.
  D88Image();
  // Closes the image file if one is open.
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // Opens `path` read-only in binary mode and indexes its disk images. True when the file
  // opened, whatever number of images it holds (0 included). False when it cannot be opened; the
  // reader then has no file. A file already open is closed first and the selection cleared.
  // With a null path: closes the file, forgets the disks and yields true.
  bool open(const char* path);

  // Number of disk images found by the last successful open, 0 to 64.
  std::int32_t diskCount() const { return numDisks; }

  // Loads disk `index` (0 to diskCount() - 1): its name, media type, size and track table.
  // False with no file open (nothing changes) or an index out of range (no disk selected then).
  bool selectDisk(std::int32_t index);

  // Index of the selected disk, or -1 when none is selected.
  std::int32_t currentDisk() const { return currentIndex; }

  // The selected disk's name: up to 16 bytes as stored, always zero-terminated; empty when no
  // disk is selected. The view stays owned by the reader and changes with the next selectDisk.
  const char* diskName() const { return nameText; }

  // The selected disk's media-type byte (0 to 255), or -1 when none is selected.
  std::int32_t mediaType() const { return media; }

  // Sector numbers of a track for readSectors: after sector `last` a run goes on at sector
  // `first` of the next track index. A new reader runs with 1 and 16.
  void setSectorRange(std::int32_t first, std::int32_t last);

  // Copies the sector with ID (c, h, r, n) of track index `track` into dest, at most maxLength
  // bytes. Yields the number of bytes copied: the lesser of the record's data length and
  // maxLength, fewer when the file ends inside the data, 0 when the sector is not found (no file,
  // no disk, track index outside 0 to 163, track absent or beyond the disk, no such record).
  // The walk over a track ends at its last record by the sector count, at a count of 0, or after
  // kMaxTrackRecords records.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* dest, std::int32_t maxLength);

  // Reads `total` bytes as consecutive sectors from (track, c, h, r, n) on: r counts up to the
  // last sector number of the range, then the run moves to the first sector of the next track
  // index, toggling the head and stepping the cylinder after head 1. Stops at the first sector
  // that is missing or shorter than asked and yields the bytes of the whole sectors before it
  // (dest may already hold part of the short one). Yields 0 for a size code outside 0 to 23.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* dest, std::int32_t total);

  // Lists the IDs of track index `track` in track order, 4 bytes (C, H, R, N) per record, at most
  // length / 4 of them (a partial last entry is dropped). Yields the bytes written.
  std::int32_t readSectorIds(std::int32_t track, std::uint8_t* dest, std::int32_t length);

private:
  // Seeks to the first record of `track` when it passes the track test; false otherwise.
  bool seekTrack(std::int32_t track);
  void clearSelection();
  void closeImage();
  // The image stream: reads go through a read-ahead window of 64 KiB of the file, starting on a
  // 32 KiB boundary, so that walking a track again from its first record costs no call to the
  // system. Seeking and skipping only move the position; a read past the end of the file comes
  // back short.
  bool seekTo(std::int64_t position);
  bool readBytes(std::uint8_t* dest, std::int32_t length, std::int32_t& got);
  bool skipBytes(std::int32_t length);
  bool fillWindow();

  std::FILE* imageFile;
  std::int32_t currentIndex;
  std::int32_t numDisks;
  std::int32_t firstSector;
  std::int32_t lastSector;
  std::int32_t diskOffsets[kMaxDisks];
  std::int32_t diskSize;
  std::int32_t diskOffset;
  std::int32_t trackOffsets[kTrackCount];
  std::int32_t media;
  char nameText[kNameLength + 1];
  static constexpr std::int32_t kWindowSize = 65536;
  std::int64_t streamPosition; // where the next read starts
  std::int64_t seekAnchor;     // the last position sought
  std::int64_t windowStart;    // file offset of window[0]; -1 when it holds nothing
  std::int32_t windowLength;   // bytes of the file in the window
  std::uint8_t window[kWindowSize];
};

#endif
