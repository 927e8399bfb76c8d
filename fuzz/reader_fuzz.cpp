// Fuzzes the reader: the scan, selection, and every kind of read with arguments taken from the
// input's first bytes, on the rest of the input as the image file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "d88image.h"
#include "fuzzimage.h"

namespace {

constexpr std::size_t kParameterBytes = 24;
constexpr int kDestSize = 65536;
constexpr int kGuard = 64;
std::uint8_t dest[kDestSize + kGuard];

void checkGuard() {
  for (int i = 0; i < kGuard; ++i) {
    if (dest[kDestSize + i] != 0xA5) __builtin_trap();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kParameterBytes) return 0;
  FuzzedDataProvider parameters(data, kParameterBytes);
  const char* path = writeFuzzImage(data + kParameterBytes, size - kParameterBytes);
  std::memset(dest + kDestSize, 0xA5, kGuard);

  D88Image image;
  if (!image.open(path)) __builtin_trap();
  const int disks = image.diskCount();
  if (disks < 0 || disks > 64) __builtin_trap();
  image.setSectorRange(parameters.ConsumeIntegralInRange<int>(-2, 20),
                       parameters.ConsumeIntegralInRange<int>(-2, 20));
  const int track = parameters.ConsumeIntegralInRange<int>(-2, 166);
  const int c = parameters.ConsumeIntegralInRange<int>(-1, 256);
  const int h = parameters.ConsumeIntegralInRange<int>(-1, 2);
  const int r = parameters.ConsumeIntegralInRange<int>(-1, 256);
  const int n = parameters.ConsumeIntegralInRange<int>(-1, 25);
  const int total = parameters.ConsumeIntegralInRange<int>(-1, kDestSize);
  const int idLength = parameters.ConsumeIntegralInRange<int>(-1, 1024);

  for (int i = -1; i <= disks; ++i) {
    const bool selected = image.selectDisk(i);
    if (selected != (i >= 0 && i < disks)) __builtin_trap();
    if (std::strlen(image.diskName()) > 16) __builtin_trap();
    if (!selected) continue;
    if (image.readSectors(track, c, h, r, n, dest, total) > (total > 0 ? total : 0))
      __builtin_trap();
    if (image.readSector(track, c, h, r, n, dest, total) > (total > 0 ? total : 0))
      __builtin_trap();
    if (image.readSectorIds(track, dest, idLength) > (idLength > 0 ? idLength : 0))
      __builtin_trap();
    // Every track as the tools read them.
    for (int t = 0; t < 164; ++t) {
      (void)image.readSectors(t, t / 2, t % 2, 1, 3, dest, 8192);
      (void)image.readSectorIds(t, dest, 4 * 64);
    }
    checkGuard();
  }
  (void)image.open(nullptr);
  return 0;
}
