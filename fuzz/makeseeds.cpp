// Writes the seed corpora of the fuzz targets: the sample images, single disks of them, and a few
// crafted images of odd records. Usage: makeseeds <corpus folder>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "d88builder.h"
#include "sampleimages.h"

namespace {

bool writeSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
  ::mkdir(folder.c_str(), 0755);
  if (writeBytesToFile(folder + "/" + name, bytes)) return true;
  std::fprintf(stderr, "makeseeds: cannot write %s/%s\n", folder.c_str(), name.c_str());
  return false;
}

// Records out of order, of odd lengths and size codes, a zero count, an absent track and a
// disk size pointing past the end.
Bytes oddRecords() {
  D88Disk disk;
  disk.name = "ODD";
  D88Track& track = disk.tracks[1];
  track.records.push_back(makeSector(0, 1, 3, 3, 512, 0x33));
  track.records.push_back(makeSector(0, 1, 1, 2, 1024, 0x11));
  track.records.push_back(makeSector(0, 1, 2, 3, 0, 0x22));
  SectorRecord zero = makeSector(0, 1, 4, 3, 16, 0x44);
  zero.count = 0;
  track.records.push_back(zero);
  disk.tracks[2] = makeTrack(2, 1, 8);
  disk.trackEntryOverride[3] = 0x7FFFFFFF;
  D88Disk second = disk;
  second.sizeOverride = 0x100000;
  return buildD88({disk, second});
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: makeseeds <corpus folder>\n");
    return 1;
  }
  const std::string root = argv[1];
  ::mkdir(root.c_str(), 0755);
  const std::vector<std::pair<std::string, std::vector<D88Disk>>> images = {
      {"gaudi", sampleGaudiImage()}, {"fat", sampleFatImage()}, {"block", sampleBlockImage()}};
  bool ok = true;
  for (const char* target : {"vol", "fat", "cpm"}) {
    const std::string folder = root + "/" + target;
    for (const auto& [name, disks] : images) {
      ok = writeSeed(folder, name + ".d88", buildD88(disks)) && ok;
      ok = writeSeed(folder, name + "-disk0.d88", buildD88({disks.front()})) && ok;
    }
    ok = writeSeed(folder, "odd.d88", oddRecords()) && ok;
  }
  // The reader's target takes 24 bytes of call arguments before the image.
  const std::string reader = root + "/reader";
  const std::vector<Bytes> arguments = {Bytes(24, 0), Bytes(24, 0x40), Bytes(24, 0xFF)};
  int index = 0;
  for (const Bytes& head : arguments) {
    for (const Bytes& image : {oddRecords(), buildD88(sampleGaudiImage())}) {
      Bytes seed = head;
      seed.insert(seed.end(), image.begin(), image.end());
      ok = writeSeed(reader, "seed" + std::to_string(index++) + ".bin", seed) && ok;
    }
  }
  return ok ? 0 : 1;
}
