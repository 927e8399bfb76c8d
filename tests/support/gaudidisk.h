// A GAUDI volume for tests, built on a flat disk of eight 1024-byte sectors per track, and what
// d88vol is expected to print for it.
//
//   logical sector 8 (track index 1, sectors 1-4): the directory, 128 slots of 32 bytes
//   slot 0        "GAUDI" and the disk letter; the rest of the slot is not read
//   slots 1-127   DOS-style entries; start = first logical sector - 9, size in bytes 28-29
//   file data     from logical sector start + 9 on, sector after sector across tracks
//
// The disk holds only the tracks a test asks for; everything not written is zero bytes.
#ifndef D88_TESTS_GAUDIDISK_H
#define D88_TESTS_GAUDIDISK_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "d88builder.h"
#include "flatdisk.h"
#include "runtool.h"

constexpr int kGaudiDirectorySector = 8; // logical sector of slot 0
constexpr int kGaudiStartBias = 9;       // start counts logical sectors from this one
constexpr int kGaudiSlotCount = 128;

struct GaudiDisk : FlatDisk {
  // Tracks 0 to tracks - 1; the signature "GAUDI" and `letter` in slot 0.
  explicit GaudiDisk(char letter, int tracks = 4);

  // The 32 bytes of slot 0 to 127.
  std::uint8_t* slot(int index) { return logical(kGaudiDirectorySector) + index * 32; }
  // Writes `entry` (32 bytes, or fewer to change only the first ones) into a slot.
  void setSlot(int index, const Bytes& entry);

  // An entry in slot `index` whose size is data.size() and whose data lie from logical sector
  // start + 9 on. The disk must have the tracks the data need.
  void addFile(int index, const std::string& name, const std::string& ext, std::uint16_t start,
               const Bytes& data, std::uint8_t attr = 0x20, std::uint16_t time = 0,
               std::uint16_t date = 0);
};

// The start field of a file whose data begin on `logicalSector`.
constexpr std::uint16_t gaudiStart(int logicalSector) {
  return static_cast<std::uint16_t>(logicalSector - kGaudiStartBias);
}

// Date and time as a listing line shows them.
struct ListedTime {
  int year, month, day, hour, minute, second;
};

// "Disk %c を認識しました.\n"
std::string recognisedLine(char letter);
// One d88vol listing line: name, track index, sector number, size, date and time, the
// attribute letters as printed, and the line end.
std::string gaudiListingLine(const std::string& name, int track, int sector, unsigned size,
                             const ListedTime& when, const std::string& letters);
// "\n[%s] -> %s\n"
std::string diskHeader(const std::string& diskName, const std::string& folder);
// "ファイルを書き込めません: %s\n"
std::string cannotWriteLine(const std::string& name);
// "フォルダ %s に移動できません.\n"
std::string cannotEnterLine(const std::string& folder);
// "ファイルをオープンできません\n"
extern const char kCannotOpenLine[];

// A fresh folder holding the image file "image.d88" and the folder "run" a tool starts in, so
// that whatever a run writes outside its starting folder shows up as a stray item.
struct ToolWorkspace {
  // The workspace lies below TMPDIR, or below `base` when one is given.
  explicit ToolWorkspace(const std::string& base = "");

  // Writes the disks as the image file; false on failure.
  bool writeImage(const std::vector<D88Disk>& disks) const;
  // Runs the tool in the work folder.
  RunResult run(const std::string& tool, const std::vector<std::string>& args,
                const RunOptions& options = {}) const;
  // Everything below the work folder.
  std::map<std::string, TreeItem> outputTree() const { return readTree(work); }
  // Items beside the image and the work folder, one per line; empty when there are none.
  std::string strayItems() const;

  TempDir dir;
  std::string image;
  std::string work;
};

#endif
