#include "hostfs.h"

#include <cstring>

#ifdef _WIN32
#include <direct.h>
#include <sys/utime.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

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

bool skipFile(std::FILE* file, std::int32_t length) {
#ifdef _WIN32
  return _fseeki64(file, length, SEEK_CUR) == 0;
#else
  return fseeko(file, length, SEEK_CUR) == 0;
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

std::FILE* createFile(const char* path) {
#ifdef _WIN32
  if (isDeviceName(path)) return nullptr;
#endif
  return std::fopen(path, "wb");
}

bool writeBytes(std::FILE* file, const std::uint8_t* data, std::size_t size) {
  return std::fwrite(data, 1, size, file) == size && std::ferror(file) == 0;
}

bool closeFile(std::FILE* file) { return std::fclose(file) == 0; }

bool writeWholeFile(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = createFile(path);
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
