// Writes the sample images the project ships into a folder. Usage: makesamples <folder>
#include <cstdio>
#include <string>

#include "d88builder.h"
#include "sampleimages.h"

namespace {

bool write(const std::string& folder, const std::string& name, const std::vector<D88Disk>& disks) {
  const std::string path = folder + "/" + name;
  if (writeBytesToFile(path, buildD88(disks))) return true;
  std::fprintf(stderr, "makesamples: cannot write %s\n", path.c_str());
  return false;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: makesamples <folder>\n");
    return 1;
  }
  const std::string folder = argv[1];
  bool ok = write(folder, "gaudi.d88", sampleGaudiImage());
  ok = write(folder, "fat.d88", sampleFatImage()) && ok;
  ok = write(folder, "block.d88", sampleBlockImage()) && ok;
  return ok ? 0 : 1;
}
