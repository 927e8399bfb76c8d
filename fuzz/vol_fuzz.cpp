// Fuzzes d88vol's per-disk work: every disk of the input image through the GAUDI handler, in a
// scratch folder that is emptied before each run.
#include "d88image.h"
#include "fuzzimage.h"
#include "gaudivolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* path = writeFuzzImage(data, size);
  enterEmptyScratch();
  D88Image image;
  if (!image.open(path)) __builtin_trap();
  for (int i = 0; i < image.diskCount(); ++i) {
    (void)image.selectDisk(i);
    image.setSectorRange(1, 8);
    (void)extractGaudiVolume(image);
  }
  return 0;
}
