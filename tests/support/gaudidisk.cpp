#include "gaudidisk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

GaudiDisk::GaudiDisk(char letter, int tracks) : FlatDisk(8, tracks) {
  setSlot(0, {'G', 'A', 'U', 'D', 'I', static_cast<std::uint8_t>(letter)});
}

void GaudiDisk::setSlot(int index, const Bytes& entry) {
  std::copy(entry.begin(), entry.end(), slot(index));
}

void GaudiDisk::addFile(int index, const std::string& name, const std::string& ext,
                        std::uint16_t start, const Bytes& data, std::uint8_t attr,
                        std::uint16_t time, std::uint16_t date) {
  const std::size_t end = static_cast<std::size_t>(start + kGaudiStartBias) * 1024 + data.size();
  if (end > bytes.size()) {
    std::fprintf(stderr, "GaudiDisk: file %s needs %zu bytes, the disk has %zu\n", name.c_str(),
                 end, bytes.size());
    std::abort();
  }
  setSlot(index,
          dosEntry(name, ext, attr, time, date, start, static_cast<std::uint32_t>(data.size())));
  put(start + kGaudiStartBias, data);
}

std::string recognisedLine(char letter) {
  // Disk %c を認識しました.
  return std::string("Disk ") + letter +
         " \x82\xf0\x94"
         "F\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n";
}

std::string gaudiListingLine(const std::string& name, int track, int sector, unsigned size,
                             const ListedTime& when, const std::string& letters) {
  char line[128];
  std::snprintf(line, sizeof line, "%-12s trk=%3d sec=%d size=%04x %04d/%02d/%02d %02d:%02d:%02d ",
                name.c_str(), track, sector, size, when.year, when.month, when.day, when.hour,
                when.minute, when.second);
  return line + letters + "\n";
}

std::string diskHeader(const std::string& diskName, const std::string& folder) {
  return "\n[" + diskName + "] -> " + folder + "\n";
}

std::string cannotWriteLine(const std::string& name) {
  // ファイルを書き込めません:
  return "\x83t\x83@\x83"
         "C\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1: " +
         name + "\n";
}

std::string cannotEnterLine(const std::string& folder) {
  // フォルダ %s に移動できません.
  return "\x83t\x83H\x83\x8b\x83_ " + folder +
         " \x82\xc9\x88\xda\x93\xae\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1.\n";
}

// ファイルをオープンできません
const char kCannotOpenLine[] = "\x83t\x83@\x83"
                               "C\x83\x8b\x82\xf0\x83I\x81[\x83v\x83\x93\x82\xc5\x82\xab\x82\xdc"
                               "\x82\xb9\x82\xf1\n";

ToolWorkspace::ToolWorkspace(const std::string& base)
    : dir(base), image(dir / "image.d88"), work(dir / "run") {
  ::mkdir(work.c_str(), 0777);
}

bool ToolWorkspace::writeImage(const std::vector<D88Disk>& disks) const {
  return writeBytesToFile(image, buildD88(disks));
}

RunResult ToolWorkspace::run(const std::string& tool, const std::vector<std::string>& args,
                             const RunOptions& options) const {
  return runProgram(toolPath(tool), args, work, options);
}

std::string ToolWorkspace::strayItems() const {
  std::string stray;
  for (const auto& [path, item] : readTree(dir.path())) {
    if (path != "image.d88" && path != "run" && path.rfind("run/", 0) != 0)
      stray += path + (item.directory ? "/\n" : "\n");
  }
  return stray;
}
