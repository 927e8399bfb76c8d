// Lists the disks of a D88 image with their names and media types, and the sector IDs of each
// disk's track 0: a small use of the installed reader.
#include <d88image.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: d88list image\n");
    return 1;
  }
  D88Image image;
  if (!image.open(argv[1])) {
    std::fprintf(stderr, "d88list: cannot open %s\n", argv[1]);
    return 1;
  }
  for (int i = 0; i < image.diskCount(); ++i) {
    image.selectDisk(i);
    std::uint8_t ids[4 * 64];
    const int length = image.readSectorIds(1, ids, sizeof ids);
    std::printf("%d [%s] media %02x, track 1: %d sectors\n", i, image.diskName(), image.mediaType(),
                length / 4);
  }
  return 0;
}
