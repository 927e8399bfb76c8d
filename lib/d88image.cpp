#include "d88image.h"

#include <cstring>

#include "byteorder.h"
#include "hostfs.h"

namespace {

// Disk header fields read by the reader.
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;

// Sector record header fields.
constexpr int kRecordC = 0;
constexpr int kRecordH = 1;
constexpr int kRecordR = 2;
constexpr int kRecordN = 3;
constexpr int kRecordCount = 4;
constexpr int kRecordDataLength = 14;

// Offsets and sizes are held as signed 32-bit values; anything stored at 2^31 or more is out of
// reach of an image below 2 GiB.
constexpr std::uint32_t kMaxHeld = INT32_MAX;

} // namespace

D88Image::D88Image()
    : imageFile(nullptr), currentIndex(-1), numDisks(0), firstSector(1), lastSector(16),
      diskOffsets(), diskSize(0), diskOffset(-1), trackOffsets(), media(-1), nameText(),
      streamPosition(0), seekAnchor(-1), windowStart(-1), windowLength(0), window() {}

D88Image::~D88Image() { closeImage(); }

void D88Image::closeImage() {
  if (imageFile != nullptr) std::fclose(imageFile);
  imageFile = nullptr;
  windowStart = -1;
  windowLength = 0;
}

void D88Image::clearSelection() {
  diskOffset = -1;
  currentIndex = -1;
  media = -1;
  diskSize = 0;
  nameText[0] = '\0';
}

bool D88Image::open(const char* path) {
  closeImage();
  if (path == nullptr) {
    numDisks = 0;
    currentIndex = -1;
    media = -1;
    return true;
  }
  // Whatever was selected belonged to a file that is closed now, even when this one fails to open.
  clearSelection();
  imageFile = openForReading(path);
  if (imageFile == nullptr) return false;
  // The read-ahead window is the buffer: the stream itself reads straight into it.
  (void)std::setvbuf(imageFile, nullptr, _IONBF, 0);
  streamPosition = 0;

  // The scan: disk k + 1 starts where disk k's size says it ends. Any 688 bytes at a chained
  // offset count as a disk; a size of 0 counts the same header again up to the limit.
  std::int64_t offset = 0;
  numDisks = 0;
  while (numDisks < kMaxDisks) {
    diskOffsets[numDisks] = static_cast<std::int32_t>(offset);
    std::uint8_t header[kDiskHeaderSize];
    std::int32_t got = 0;
    if (!seekTo(offset) || !readBytes(header, kDiskHeaderSize, got)) break;
    ++numDisks;
    offset += le32(header + kDiskSizeOffset);
    // The next image would lie beyond what a signed 32-bit offset can hold.
    if (offset > static_cast<std::int64_t>(kMaxHeld)) break;
  }
  return true;
}

bool D88Image::selectDisk(std::int32_t index) {
  if (imageFile == nullptr) return false;
  clearSelection();
  if (index < 0 || index >= numDisks) return false;

  // The scan read this header whole; should the file have shrunk since, the bytes not read
  // count as zero (absent tracks, empty name).
  std::uint8_t header[kDiskHeaderSize] = {};
  std::int32_t got = 0;
  if (seekTo(diskOffsets[index])) (void)readBytes(header, kDiskHeaderSize, got);
  diskOffset = diskOffsets[index];
  for (int t = 0; t < kTrackCount; ++t) {
    std::uint32_t entry = le32(header + kTrackTableOffset + 4 * t);
    // An entry of 2^31 or more is refused like an entry beyond the disk: 0 marks it unusable.
    trackOffsets[t] = entry > kMaxHeld ? 0 : static_cast<std::int32_t>(entry);
  }
  media = header[kMediaTypeOffset];
  // A stored size of 2^31 or more lies beyond any image this reader can hold; it bounds no track
  // entry any tighter than the largest held value does.
  std::uint32_t size = le32(header + kDiskSizeOffset);
  diskSize = static_cast<std::int32_t>(size > kMaxHeld ? kMaxHeld : size);
  int length = 0;
  while (length < kNameLength && header[length] != 0)
    ++length;
  std::memcpy(nameText, header, static_cast<std::size_t>(length));
  std::memset(nameText + length, 0, static_cast<std::size_t>(kNameLength - length));
  currentIndex = index;
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  firstSector = first;
  lastSector = last;
}

bool D88Image::seekTrack(std::int32_t track) {
  if (imageFile == nullptr || track < 0 || track >= kTrackCount) return false;
  std::int32_t entry = trackOffsets[track];
  if (entry == 0 || entry > diskSize) return false;
  return seekTo(static_cast<std::int64_t>(diskOffset) + entry);
}

bool D88Image::seekTo(std::int64_t position) {
  streamPosition = position;
  seekAnchor = position;
  return position >= 0;
}

bool D88Image::fillWindow() {
  // Windows start on half-window boundaries, at or before the last place sought (a track's first
  // record) while the read is still within a window's reach of it: a track of up to half a window
  // then stays in one window however often it is walked again.
  constexpr std::int64_t kStep = kWindowSize / 2;
  std::int64_t start = streamPosition - streamPosition % kStep;
  const std::int64_t anchorStart = seekAnchor - seekAnchor % kStep;
  if (seekAnchor >= 0 && seekAnchor <= streamPosition &&
      streamPosition < anchorStart + kWindowSize) {
    start = anchorStart;
  }
  windowStart = -1;
  windowLength = 0;
  if (!seekFile(imageFile, start)) return false;
  windowLength = static_cast<std::int32_t>(std::fread(window, 1, sizeof window, imageFile));
  windowStart = start;
  return streamPosition < windowStart + windowLength;
}

bool D88Image::readBytes(std::uint8_t* dest, std::int32_t length, std::int32_t& got) {
  got = 0;
  while (got < length) {
    const bool inWindow = windowStart >= 0 && streamPosition >= windowStart &&
                          streamPosition < windowStart + windowLength;
    if (!inWindow && !fillWindow()) break; // the end of the file
    const std::int64_t available = windowStart + windowLength - streamPosition;
    const std::int32_t chunk =
        available < length - got ? static_cast<std::int32_t>(available) : length - got;
    std::memcpy(dest + got, window + (streamPosition - windowStart),
                static_cast<std::size_t>(chunk));
    got += chunk;
    streamPosition += chunk;
  }
  return got == length;
}

bool D88Image::skipBytes(std::int32_t length) {
  // Past the end of the file the next read comes back short and ends the walk.
  streamPosition += length;
  return true;
}

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* dest,
                                  std::int32_t maxLength) {
  if (maxLength < 0 || !seekTrack(track)) return 0;
  for (std::int32_t k = 0; k < kMaxTrackRecords; ++k) {
    std::uint8_t header[kSectorHeaderSize];
    std::int32_t got = 0;
    // A header cut off by the end of the file is never interpreted: the walk ends as not found.
    if (!readBytes(header, kSectorHeaderSize, got)) return 0;
    std::int32_t count = le16(header + kRecordCount);
    std::int32_t length = le16(header + kRecordDataLength);
    if (count == 0) return 0;
    if (header[kRecordC] == c && header[kRecordH] == h && header[kRecordR] == r &&
        header[kRecordN] == n) {
      std::int32_t wanted = length < maxLength ? length : maxLength;
      (void)readBytes(dest, wanted, got); // data cut off by the end of the file: what was there
      return got;
    }
    // Past the end of the file a skip fails, and the walk ends there.
    if (!skipBytes(length)) return 0;
    if (k == count - 1) return 0;
  }
  return 0;
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* dest,
                                   std::int32_t total) {
  if (n < 0 || n > kMaxSizeCode) return 0;
  const std::int32_t sectorSize = 128 << n;
  std::int32_t done = 0;
  while (done < total) {
    std::int32_t ask = total - done < sectorSize ? total - done : sectorSize;
    if (readSector(track, c, h, r, n, dest + done, ask) < ask) return done;
    done += ask;
    // Only IDs of 0 to 255 ever match, so a run stops before any of these can grow far.
    if (r == lastSector) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = firstSector;
    } else {
      ++r;
    }
  }
  return done;
}

std::int32_t D88Image::readSectorIds(std::int32_t track, std::uint8_t* dest, std::int32_t length) {
  if (!seekTrack(track)) return 0;
  std::int32_t written = 0;
  for (std::int32_t k = 0; k < kMaxTrackRecords && length - written >= 4; ++k) {
    std::uint8_t header[kSectorHeaderSize];
    std::int32_t got = 0;
    if (!readBytes(header, kSectorHeaderSize, got)) break;
    std::int32_t count = le16(header + kRecordCount);
    // A count of 0 ends the track, as it does for readSector.
    if (count == 0) break;
    std::memcpy(dest + written, header, 4);
    written += 4;
    if (!skipBytes(le16(header + kRecordDataLength))) break;
    if (k == count - 1) break;
  }
  return written;
}
