#include "sampleimages.h"

#include <algorithm>
#include <string>

#include "flatdisk.h"

namespace {

// A GAUDI volume: directory at logical sector 8, files at start + 9.
D88Disk gaudiDisk(char letter, int files) {
  FlatDisk disk(8, 6); // the tracks the files use; the rest of the disk is left out
  Bytes header = {'G', 'A', 'U', 'D', 'I', static_cast<std::uint8_t>(letter)};
  disk.put(8, header);
  const std::uint16_t date = dosDate(1989, 7, 14);
  int slot = 1;
  int next = 12; // first free logical sector after the directory
  auto add = [&](const std::string& name, const std::string& ext, std::uint8_t attr,
                 const Bytes& data, int hour) {
    disk.put(8,
             dosEntry(name, ext, attr, dosTime(hour, 30, 0), date,
                      static_cast<std::uint16_t>(next - 9),
                      static_cast<std::uint32_t>(data.size())),
             static_cast<std::size_t>(slot) * 32);
    disk.put(next, data);
    next += static_cast<int>((data.size() + 1023) / 1024);
    ++slot;
  };
  add(std::string("DISK") + letter, "", 0x08, {}, 9);
  const std::string readme = "Sample GAUDI volume, disk " + std::string(1, letter) + ".\r\n";
  add("README", "TXT", 0x20, Bytes(readme.begin(), readme.end()), 10);
  for (int i = 0; i < files; ++i) {
    add("DATA" + std::to_string(i), "BIN", 0x21,
        patternBytes(1500 + 3000 * static_cast<std::size_t>(i), i), 11 + i);
  }
  // A Shift-JIS name: "\x83Q\x81[\x83\x80" is ゲーム.
  add("\x83Q\x81[\x83\x80", "DAT", 0x20, patternBytes(9000, 77), 20);
  return disk.toD88(std::string("GAUDI ") + letter);
}

// A FAT12 volume: table at logical sector 9, root directory at 13, cluster n at n + 9.
D88Disk fatDisk() {
  FlatDisk disk(8, 6);
  Bytes table(2048, 0);
  setFat12Entry(table.data(), 0, 0xFFE);
  setFat12Entry(table.data(), 1, 0xFFF);
  int entry = 0;
  auto addEntry = [&](const Bytes& bytes) {
    disk.put(13, bytes, static_cast<std::size_t>(entry++) * 32);
  };
  auto addFile = [&](const std::string& name, const std::string& ext, const Bytes& data,
                     const std::vector<int>& chain, int minute) {
    addEntry(dosEntry(name, ext, 0x20, dosTime(14, minute, 10), dosDate(1992, 3, 1),
                      static_cast<std::uint16_t>(chain.front()),
                      static_cast<std::uint32_t>(data.size())));
    for (std::size_t i = 0; i < chain.size(); ++i) {
      setFat12Entry(table.data(), chain[i],
                    static_cast<std::uint16_t>(i + 1 < chain.size() ? chain[i + 1] : 0xFFF));
      Bytes part(data.begin() + static_cast<std::ptrdiff_t>(i * 1024),
                 data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), (i + 1) * 1024)));
      disk.put(chain[i] + 9, part);
    }
  };
  addEntry(dosEntry("SAMPLE", "FAT", 0x08, dosTime(9, 0, 0), dosDate(1992, 3, 1), 0, 0));
  const std::string readme = "Sample FAT12 volume.\r\n";
  addFile("README", "DOC", Bytes(readme.begin(), readme.end()), {10}, 1);
  addFile("PROGRAM", "EXE", patternBytes(5000, 5), {11, 12, 13, 14, 15}, 2);
  // A fragmented file: its clusters are not in order.
  addFile("SCENARIO", "DAT", patternBytes(3500, 9), {20, 16, 30, 17}, 3);
  addEntry(dosEntry("SAVE", "", 0x10, dosTime(9, 5, 0), dosDate(1992, 3, 1), 0, 0));
  disk.put(9, table);
  return disk.toD88("FAT SAMPLE");
}

// A block volume: five sectors a track, directory in blocks 0 and 1 (track index 2).
D88Disk blockDisk() {
  FlatDisk disk(5, 12);
  constexpr int kVolumeStart = 10; // logical sector of track index 2, sector 1
  int entry = 0;
  int nextBlock = 2;
  auto add = [&](const std::string& name, const std::string& ext, const Bytes& data) {
    Bytes bytes(32, 0);
    for (std::size_t i = 0; i < 8; ++i)
      bytes[1 + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ';
    for (std::size_t i = 0; i < 3; ++i)
      bytes[9 + i] = i < ext.size() ? static_cast<std::uint8_t>(ext[i]) : ' ';
    bytes[15] = static_cast<std::uint8_t>((data.size() + 127) / 128);
    const int blocks = static_cast<int>((data.size() + 2047) / 2048);
    for (int k = 0; k < blocks; ++k) {
      bytes[16 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(nextBlock);
      Bytes part(data.begin() + k * 2048,
                 data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                    data.size(), static_cast<std::size_t>(k + 1) * 2048)));
      disk.put(kVolumeStart + 2 * nextBlock, part);
      ++nextBlock;
    }
    disk.put(kVolumeStart, bytes, static_cast<std::size_t>(entry++) * 32);
  };
  // Entry 0 names the disk folder with its byte 10: "1" gives DISK01.
  add("GAME", "S1 ", patternBytes(256, 1));
  std::string readme = "Sample block volume.\r\n";
  readme.resize(128, 0x1A);
  add("README", "TXT", Bytes(readme.begin(), readme.end()));
  add("MAP", "DAT", patternBytes(17 * 128, 2));
  add("MUSIC", "BIN", patternBytes(255 * 128, 3));
  return disk.toD88("BLOCK SAMPLE");
}

} // namespace

std::vector<D88Disk> sampleGaudiImage() { return {gaudiDisk('A', 2), gaudiDisk('B', 1)}; }

std::vector<D88Disk> sampleFatImage() { return {fatDisk()}; }

std::vector<D88Disk> sampleBlockImage() { return {blockDisk()}; }
