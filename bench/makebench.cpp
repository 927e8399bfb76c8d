// Writes the benchmark inputs: for each tool a D88 file of 64 full disks and one of a single
// disk (the first disk of the 64). Every byte comes from a fixed seed, so each run writes the
// same files.
//
//   vol-64.d88, vol-1.d88   GAUDI volumes, 154 tracks of eight 1024-byte sectors; 127 files per
//                           disk, sizes 1 to 65535 bytes (eight of them 65535), laid one after
//                           another from logical sector 12 (start 3) to the last sector, 1231
//   fat-64.d88, fat-1.d88   FAT12 volumes, 154 tracks of eight 1024-byte sectors; 192 root entries,
//                           all files, whose chains fill clusters 2, 3 and 10 to 1222 (4 to 9 are
//                           the root directory) and are cut into runs of 1 to 6 clusters laid out
//                           in shuffled order
//   cpm-64.d88, cpm-1.d88   block volumes, 105 tracks of five 1024-byte sectors (blocks 0 to 255);
//                           128 entries per disk of 1 to 255 records, blocks 2 to 255 taken in turn
//                           and reused once they run out; entry 0 of disk d numbers its folder d
//
// Usage: makebench <folder>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"

namespace {

constexpr int kDisks = 64;
constexpr int kSectorSize = 1024;

// GAUDI volume: directory on logical sectors 8 to 11, file data from logical sector 12 on.
constexpr int kGaudiTracks = 154;
constexpr int kGaudiDirectorySector = 8;
constexpr int kGaudiStartBias = 9;
constexpr int kGaudiFirstFileSector = 12;
constexpr int kGaudiFiles = 127;
constexpr int kGaudiBigFiles = 8;
constexpr int kGaudiMaxSectors = 64; // 65535 bytes
constexpr std::uint32_t kGaudiMaxSize = 65535;

// FAT12 volume: table on logical sectors 9 and 10, root directory on 13 to 18, cluster n on
// logical sector n + 9.
constexpr int kFatTracks = 154;
constexpr int kFatTableSector = 9;
constexpr int kFatTableBytes = 2048;
constexpr int kFatDirectorySector = 13;
constexpr int kFatEntries = 192;
constexpr int kFatFirstDirectoryCluster = 4;
constexpr int kFatLastDirectoryCluster = 9;
constexpr int kFatFirstCluster = 2;
constexpr int kFatLastCluster = 1222; // logical sector 1231, the last of the disk
constexpr int kFatMaxRun = 6;
constexpr std::uint16_t kFatEndOfChain = 0xFFF;

// Block volume: directory in blocks 0 and 1 (logical sectors 10 to 13), block b from logical
// sector 10 + 2b.
constexpr int kBlockTracks = 105;
constexpr int kBlockSectorsPerTrack = 5;
constexpr int kBlockVolumeSector = 10;
constexpr int kBlockEntries = 128;
constexpr int kBlockEntrySize = 32;
constexpr int kBlockDirectoryBytes = kBlockEntries * kBlockEntrySize;
constexpr int kBlockFirstData = 2;
constexpr int kBlockLast = 255;
constexpr int kBlockSize = 2048;
constexpr int kRecordSize = 128;
constexpr int kBlockFolderByte = 10;

// A fixed pseudo-random sequence (a 64-bit linear congruential generator, high bits out).
class Sequence {
public:
  explicit Sequence(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 32);
  }
  // 0 to n - 1.
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
  void fill(Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
      const std::uint32_t value = next();
      for (std::size_t b = 0; b < 4 && i + b < bytes.size(); ++b)
        bytes[i + b] = static_cast<std::uint8_t>(value >> (8 * b));
    }
  }

private:
  std::uint64_t state;
};

// Splits `total` units among `count` parts of 1 to `most` units each, in proportion to weights
// drawn from a mix of small and large ones, so that both tiny and long files occur.
std::vector<int> splitUnits(Sequence& random, int count, int total, int most) {
  static const int kWeights[] = {1, 1, 1, 1, 2, 2, 3, 4, 6, 8, 12, 20};
  const int weightCount = static_cast<int>(sizeof kWeights / sizeof kWeights[0]);
  std::vector<int> weights(static_cast<std::size_t>(count));
  long sum = 0;
  for (int& weight : weights) {
    weight = kWeights[random.below(weightCount)];
    sum += weight;
  }
  std::vector<int> parts(static_cast<std::size_t>(count));
  int used = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const long share = static_cast<long>(total) * weights[i] / sum;
    parts[i] = static_cast<int>(share < 1 ? 1 : share > most ? most : share);
    used += parts[i];
  }
  // Spread what rounding left over (or took too much) one unit at a time.
  for (std::size_t i = static_cast<std::size_t>(random.below(count)); used != total;
       i = (i + 1) % parts.size()) {
    if (used < total && parts[i] < most) {
      ++parts[i];
      ++used;
    } else if (used > total && parts[i] > 1) {
      --parts[i];
      --used;
    }
  }
  return parts;
}

// A byte count that needs exactly `units` units of `unit` bytes: mostly with a part-filled last
// unit, now and then a whole one.
std::uint32_t sizeFor(Sequence& random, int units, int unit) {
  const int last = random.below(8) == 0 ? unit : 1 + random.below(unit);
  return static_cast<std::uint32_t>((units - 1) * unit + last);
}

void putEntry(FlatDisk& disk, int sector, int index, const Bytes& entry) {
  disk.put(sector, entry, static_cast<std::size_t>(index) * 32);
}

// A DOS-style name of up to eight characters, unique by `index`, and an extension that may be
// empty.
std::pair<std::string, std::string> dosName(Sequence& random, int index) {
  static const char* const kStems[] = {"MAP", "SCN", "CHR", "BGM", "MSG", "GRP", "EVT", "OBJ"};
  static const char* const kExts[] = {"DAT", "BIN", "COM", "TXT", "PIC", "MUS", ""};
  char stem[16];
  std::snprintf(stem, sizeof stem, "%s%03d", kStems[random.below(8)], index);
  return {stem, kExts[random.below(7)]};
}

std::uint16_t randomDate(Sequence& random) {
  return dosDate(1986 + random.below(9), 1 + random.below(12), 1 + random.below(28));
}

std::uint16_t randomTime(Sequence& random) {
  return dosTime(random.below(24), random.below(60), 2 * random.below(30));
}

std::uint8_t randomAttr(Sequence& random) {
  static const std::uint8_t kAttrs[] = {0x20, 0x20, 0x20, 0x00, 0x21, 0x01, 0x22, 0x27};
  return kAttrs[random.below(8)];
}

D88Disk gaudiDisk(int index) {
  Sequence random(0x6A0D1000u + static_cast<unsigned>(index));
  FlatDisk disk(8, kGaudiTracks);
  random.fill(disk.bytes);
  disk.put(kGaudiDirectorySector, Bytes(4 * kSectorSize, 0));
  disk.put(kGaudiDirectorySector,
           {'G', 'A', 'U', 'D', 'I', static_cast<std::uint8_t>('A' + index % 26)});

  // Eight files of the largest size at random slots; the others share what is left.
  const int sectors = kGaudiTracks * 8 - kGaudiFirstFileSector;
  std::vector<int> small =
      splitUnits(random, kGaudiFiles - kGaudiBigFiles, sectors - kGaudiBigFiles * kGaudiMaxSectors,
                 kGaudiMaxSectors - 1);
  std::vector<bool> big(kGaudiFiles, false);
  for (int placed = 0; placed < kGaudiBigFiles;) {
    const int slot = random.below(kGaudiFiles);
    if (!big[static_cast<std::size_t>(slot)]) {
      big[static_cast<std::size_t>(slot)] = true;
      ++placed;
    }
  }
  int next = kGaudiFirstFileSector;
  std::size_t taken = 0;
  for (int f = 0; f < kGaudiFiles; ++f) {
    const bool isBig = big[static_cast<std::size_t>(f)];
    const int count = isBig ? kGaudiMaxSectors : small[taken++];
    const std::uint32_t size = isBig ? kGaudiMaxSize : sizeFor(random, count, kSectorSize);
    const auto [stem, ext] = dosName(random, f);
    putEntry(disk, kGaudiDirectorySector, f + 1,
             dosEntry(stem, ext, randomAttr(random), randomTime(random), randomDate(random),
                      static_cast<std::uint16_t>(next - kGaudiStartBias), size));
    next += count;
  }
  char name[17];
  std::snprintf(name, sizeof name, "GAUDI BENCH %02d", index);
  return disk.toD88(name);
}

D88Disk fatDisk(int index) {
  Sequence random(0xFA712000u + static_cast<unsigned>(index));
  FlatDisk disk(8, kFatTracks);
  random.fill(disk.bytes);
  disk.put(kFatTableSector, Bytes(kFatTableBytes, 0));
  disk.put(kFatDirectorySector, Bytes(kFatEntries * 32, 0));
  std::uint8_t* table = disk.logical(kFatTableSector);
  setFat12Entry(table, 0, 0xFFE); // media descriptor and the reserved entry
  setFat12Entry(table, 1, 0xFFF);

  // The free clusters in disk order, cut into runs that are then shuffled: each file's chain
  // jumps about the disk.
  std::vector<std::vector<int>> runs;
  for (int n = kFatFirstCluster; n <= kFatLastCluster;) {
    if (n >= kFatFirstDirectoryCluster && n <= kFatLastDirectoryCluster) {
      n = kFatLastDirectoryCluster + 1;
      continue;
    }
    std::vector<int> run;
    const int length = 1 + random.below(kFatMaxRun);
    for (; static_cast<int>(run.size()) < length && n <= kFatLastCluster &&
           !(n >= kFatFirstDirectoryCluster && n <= kFatLastDirectoryCluster);
         ++n)
      run.push_back(n);
    runs.push_back(run);
  }
  for (std::size_t i = runs.size() - 1; i > 0; --i)
    std::swap(runs[i], runs[static_cast<std::size_t>(random.below(static_cast<int>(i) + 1))]);
  std::vector<int> order;
  for (const auto& run : runs)
    order.insert(order.end(), run.begin(), run.end());

  const std::vector<int> lengths = splitUnits(random, kFatEntries, static_cast<int>(order.size()),
                                              static_cast<int>(order.size()));
  std::size_t next = 0;
  for (int e = 0; e < kFatEntries; ++e) {
    const int count = lengths[static_cast<std::size_t>(e)];
    const std::size_t first = next;
    for (int k = 0; k < count; ++k, ++next) {
      const bool last = k + 1 == count;
      setFat12Entry(table, order[next],
                    last ? kFatEndOfChain : static_cast<std::uint16_t>(order[next + 1]));
    }
    const auto [stem, ext] = dosName(random, e);
    putEntry(disk, kFatDirectorySector, e,
             dosEntry(stem, ext, randomAttr(random), randomTime(random), randomDate(random),
                      static_cast<std::uint16_t>(order[first]),
                      sizeFor(random, count, kSectorSize)));
  }
  char name[17];
  std::snprintf(name, sizeof name, "FAT12 BENCH %02d", index);
  return disk.toD88(name);
}

// Record counts of 1 to 255: a share of whole 16-block files, the rest spread.
int recordCount(Sequence& random) {
  switch (random.below(8)) {
  case 0:
    return 255;
  case 1:
    return 128;
  default:
    return 1 + random.below(160);
  }
}

D88Disk blockDisk(int index) {
  Sequence random(0xC0B3000u + static_cast<unsigned>(index));
  FlatDisk disk(kBlockSectorsPerTrack, kBlockTracks);
  random.fill(disk.bytes);
  Bytes directory(kBlockDirectoryBytes, 0);
  int block = kBlockFirstData + random.below(kBlockLast - kBlockFirstData + 1);
  for (int e = 0; e < kBlockEntries; ++e) {
    std::uint8_t* entry = directory.data() + e * kBlockEntrySize;
    // Entry 0 is SYSTEM.V?L, its middle extension byte numbering the disk folder: disk d goes
    // to DISKdd. The others are GAME001 to GAME127 with three kinds of extension.
    char stem[16];
    std::snprintf(stem, sizeof stem, "%-8.8s",
                  e == 0 ? "SYSTEM" : ("GAME" + std::to_string(1000 + e).substr(1)).c_str());
    const char* ext = e == 0 ? "VOL" : e % 3 == 0 ? "DAT" : e % 3 == 1 ? "COM" : "   ";
    entry[0] = 0; // user 0
    for (int i = 0; i < 8; ++i)
      entry[1 + i] = static_cast<std::uint8_t>(stem[i]);
    for (int i = 0; i < 3; ++i)
      entry[9 + i] = static_cast<std::uint8_t>(ext[i]);
    if (e == 0) entry[kBlockFolderByte] = static_cast<std::uint8_t>('0' + index);
    entry[12] = static_cast<std::uint8_t>(random.below(4)); // extent, not interpreted
    entry[13] = 0;                                          // s1
    const int records = recordCount(random);
    entry[15] = static_cast<std::uint8_t>(records);
    const int blocks = (records * kRecordSize + kBlockSize - 1) / kBlockSize;
    for (int k = 0; k < blocks; ++k) {
      entry[16 + k] = static_cast<std::uint8_t>(block);
      // Mostly the next block; now and then a jump. Past block 255 the blocks are used again.
      block += random.below(6) == 0 ? 1 + random.below(40) : 1;
      if (block > kBlockLast) block = kBlockFirstData + (block - kBlockLast - 1);
    }
  }
  disk.put(kBlockVolumeSector, directory);
  char name[17];
  std::snprintf(name, sizeof name, "BLOCK BENCH %02d", index);
  return disk.toD88(name);
}

// Writes disks 0 to count - 1 of a kind, one disk at a time: the disks of a D88 file are laid
// out independently, so appending them one by one gives the same bytes as building all at once.
bool writeImage(const std::string& path, int count, D88Disk (*makeDisk)(int)) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = true;
  for (int d = 0; d < count && ok; ++d) {
    const Bytes bytes = buildD88({makeDisk(d)});
    ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  }
  return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: makebench <folder>\n");
    return 1;
  }
  const std::string folder = argv[1];
  struct Kind {
    const char* name;
    D88Disk (*makeDisk)(int);
  };
  const Kind kinds[] = {{"vol", gaudiDisk}, {"fat", fatDisk}, {"cpm", blockDisk}};
  bool ok = true;
  for (const Kind& kind : kinds) {
    for (int count : {1, kDisks}) {
      const std::string path = folder + "/" + kind.name + "-" + std::to_string(count) + ".d88";
      if (!writeImage(path, count, kind.makeDisk)) {
        std::fprintf(stderr, "makebench: cannot write %s\n", path.c_str());
        ok = false;
      }
    }
  }
  return ok ? 0 : 1;
}
