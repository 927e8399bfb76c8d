#include "fuzzimage.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string scratchRoot;
std::string imagePath;

void setUp() {
  if (!scratchRoot.empty()) return;
  // A memory file system where there is one: every run writes an image and extracts files.
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/d88fuzz.XXXXXX";
  const char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) std::abort();
  scratchRoot = std::string(made) + "/out";
  imagePath = std::string(made) + "/image.d88";
  if (::mkdir(scratchRoot.c_str(), 0700) != 0 || ::chdir(scratchRoot.c_str()) != 0) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

void removeBelow(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      removeBelow(path);
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

} // namespace

const char* writeFuzzImage(const std::uint8_t* data, std::size_t size) {
  setUp();
  std::FILE* file = std::fopen(imagePath.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
  return imagePath.c_str();
}

void enterEmptyScratch() {
  setUp();
  // The volume code never changes directory: a run that left the scratch folder is a fault.
  char here[4096];
  if (::getcwd(here, sizeof here) == nullptr || scratchRoot != here) __builtin_trap();
  removeBelow(scratchRoot);
}
