// Fuzzes d88cpm's per-disk work: every disk of the input image through the block volume code,
// in a scratch folder that is emptied before each run (its DISK folders included).
#include "blockvolume.h"
#include "d88image.h"
#include "fuzzimage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* path = writeFuzzImage(data, size);
  enterEmptyScratch();
  D88Image image;
  if (!image.open(path)) __builtin_trap();
  for (int i = 0; i < image.diskCount(); ++i)
    (void)extractBlockDisk(image, i);
  return 0;
}
