#include "hostfs.h"

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/utime.h>
#include <windows.h>
#else
#include <unistd.h>
#include <utime.h>
#endif

struct OutputFile {
  int descriptor;
  std::size_t capacity; // bytes of `buffer` in use as the stream's buffer
  std::size_t used;
  bool failed;
  std::uint8_t buffer[65536];
};

namespace {

#ifdef _WIN32
constexpr unsigned kJapaneseCodePage = 932;

bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Names Windows takes for devices whatever folder they stand in, with or without an extension.
bool isDeviceName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::size_t length = std::strcspn(name, ".");
  while (length > 0 && name[length - 1] == ' ')
    --length;
  for (const char* device : kDevices) {
    if (length == std::strlen(device) && _strnicmp(name, device, length) == 0) return true;
  }
  return length == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0) &&
         name[3] >= '0' && name[3] <= '9';
}
#endif

constexpr std::size_t kDefaultBufferSize = 4096;

OutputFile output;
bool outputOpen = false;

// Writes `size` bytes to the file, all of them or fail.
bool writeOut(int descriptor, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
#ifdef _WIN32
    const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    const int written = _write(descriptor, data, static_cast<unsigned>(chunk));
#else
    const ssize_t written = ::write(descriptor, data, size);
#endif
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool flushOutput(OutputFile& file) {
  if (!file.failed && file.used > 0 && !writeOut(file.descriptor, file.buffer, file.used)) {
    file.failed = true;
  }
  file.used = 0;
  return !file.failed;
}

} // namespace

void hostFileName(const char* stored, char* host) {
#ifdef _WIN32
  // Only where the system reads names as code page 932 is a 0x5C after a lead byte part of a
  // character; elsewhere every 0x5C is a separator.
  const bool japanese = GetACP() == kJapaneseCodePage;
  bool trail = false;
  for (; *stored != '\0'; ++stored, ++host) {
    const unsigned char code = static_cast<unsigned char>(*stored);
    const bool separator = code == '/' || code == ':' || (code == '\\' && !trail);
    *host = separator ? '_' : *stored;
    trail = japanese && !trail && isLeadByte(code);
  }
#else
  for (; *stored != '\0'; ++stored, ++host)
    *host = *stored == '/' ? '_' : *stored;
#endif
  *host = '\0';
}

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

bool seekFile(std::FILE* file, std::int64_t position) {
  if (position < 0) return false;
#ifdef _WIN32
  return _fseeki64(file, position, SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

#ifdef _WIN32
void makeFolder(const char* name) { (void)_mkdir(name); }
bool enterFolder(const char* name) { return _chdir(name) == 0; }
bool leaveFolder() { return _chdir("..") == 0; }
#else
void makeFolder(const char* name) { (void)::mkdir(name, 0777); }
bool enterFolder(const char* name) { return ::chdir(name) == 0; }
bool leaveFolder() { return ::chdir("..") == 0; }
#endif

OutputFile* createFile(const char* path) {
  if (outputOpen) return nullptr;
#ifdef _WIN32
  if (isDeviceName(path)) return nullptr;
  const int descriptor =
      _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
  if (descriptor < 0) return nullptr;
  output.descriptor = descriptor;
#ifdef _WIN32
  // Every write is a call into the system, and Windows suggests no size: the whole buffer.
  output.capacity = sizeof output.buffer;
#else
  output.capacity = kDefaultBufferSize;
  struct stat info;
  if (::fstat(descriptor, &info) == 0 && info.st_blksize > 0) {
    const std::size_t suggested = static_cast<std::size_t>(info.st_blksize);
    output.capacity = suggested < sizeof output.buffer ? suggested : sizeof output.buffer;
  }
#endif
  output.used = 0;
  output.failed = false;
  outputOpen = true;
  return &output;
}

bool writeBytes(OutputFile* file, const std::uint8_t* data, std::size_t size) {
  while (size > 0 && !file->failed) {
    // A full buffer is written out only when more bytes come, as the C library does.
    if (file->used == file->capacity && !flushOutput(*file)) break;
    if (file->used == 0 && size >= file->capacity) {
      // Whole buffers' worth go straight to the file.
      const std::size_t direct = size - size % file->capacity;
      if (!writeOut(file->descriptor, data, direct)) file->failed = true;
      data += direct;
      size -= direct;
      continue;
    }
    const std::size_t room = file->capacity - file->used;
    const std::size_t chunk = size < room ? size : room;
    std::memcpy(file->buffer + file->used, data, chunk);
    file->used += chunk;
    data += chunk;
    size -= chunk;
  }
  return !file->failed;
}

bool closeFile(OutputFile* file) {
  const bool flushed = flushOutput(*file);
#ifdef _WIN32
  const bool closed = _close(file->descriptor) == 0;
#else
  const bool closed = ::close(file->descriptor) == 0;
#endif
  outputOpen = false;
  return flushed && closed;
}

bool writeWholeFile(const char* path, const std::uint8_t* data, std::size_t size) {
  OutputFile* file = createFile(path);
  if (file == nullptr) return false;
  const bool written = writeBytes(file, data, size);
  return closeFile(file) && written;
}

void setFileTimes(const char* path, std::time_t stamp) {
  if (stamp == static_cast<std::time_t>(-1)) return;
#ifdef _WIN32
  struct _utimbuf times;
  times.actime = stamp;
  times.modtime = stamp;
  (void)_utime(path, &times);
#else
  struct utimbuf times;
  times.actime = stamp;
  times.modtime = stamp;
  (void)::utime(path, &times);
#endif
}
