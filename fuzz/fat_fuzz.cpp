// Fuzzes d88fat's per-disk work: every disk of the input image through the FAT12 handler, in a
// scratch folder that is emptied before each run.
#include "d88image.h"
#include "fatvolume.h"
#include "fuzzimage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* path = writeFuzzImage(data, size);
  enterEmptyScratch();
  D88Image image;
  if (!image.open(path)) __builtin_trap();
  for (int i = 0; i < image.diskCount(); ++i) {
    (void)image.selectDisk(i);
    image.setSectorRange(1, 8);
    if (extractFatVolume(image) == VolumeResult::EndRun) break;
  }
  return 0;
}
