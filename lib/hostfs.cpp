#include "hostfs.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

void hostFileName(const char* stored, char* host) {
  for (; *stored != '\0'; ++stored, ++host)
    *host = *stored == '/' ? '_' : *stored;
  *host = '\0';
}

void makeFolder(const char* name) { (void)::mkdir(name, 0777); }

bool enterFolder(const char* name) { return ::chdir(name) == 0; }

bool leaveFolder() { return ::chdir("..") == 0; }

std::FILE* createFile(const char* path) { return std::fopen(path, "wb"); }

bool writeBytes(std::FILE* file, const std::uint8_t* data, std::size_t size) {
  return std::fwrite(data, 1, size, file) == size && std::ferror(file) == 0;
}

bool closeFile(std::FILE* file) { return std::fclose(file) == 0; }

bool writeWholeFile(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = createFile(path);
  if (file == nullptr) return false;
  bool written = writeBytes(file, data, size);
  return closeFile(file) && written;
}

void setFileTimes(const char* path, std::time_t stamp) {
  if (stamp == static_cast<std::time_t>(-1)) return;
  struct utimbuf times;
  times.actime = stamp;
  times.modtime = stamp;
  (void)::utime(path, &times);
}
