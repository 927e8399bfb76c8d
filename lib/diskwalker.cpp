#include "diskwalker.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "hostfs.h"
#include "messages.h"

namespace {

constexpr char kSwitchLine[] = "       -d : not make sub directory\n";
constexpr char kNoFoldersSwitch[] = "-d";
constexpr char kHeaderLine[] = "\n[%s] -> %s\n";
constexpr char kFolderFormat[] = "%03d";
constexpr std::size_t kFolderNameSize = 260;
// Sector numbers of a track on the disks both tools read.
constexpr int kFirstSector = 1;
constexpr int kLastSector = 8;

} // namespace

int runTool(int argc, char** argv, const ToolParams& tool, D88Image& image) {
  prepareConsole();
  if (argc < 2 || argc > tool.maxArgumentCount) {
    const char* typed = argc > 0 && argv[0] != nullptr ? argv[0] : tool.programName;
    std::fprintf(stderr, tool.usageLine, typed);
    std::fputs(kSwitchLine, stderr);
    return 1;
  }
  // The switch counts only as the one argument after the image path.
  const bool makeDiskFolders = !(argc == 3 && std::strcmp(argv[2], kNoFoldersSwitch) == 0);

  if (!image.open(argv[1])) {
    reportError(kCannotOpenImage);
    return 1;
  }

  bool failed = false;
  const int diskCount = image.diskCount();
  for (int i = 0; i < diskCount; ++i) {
    (void)image.selectDisk(i); // an index below diskCount always selects
    char folder[kFolderNameSize];
    std::snprintf(folder, sizeof folder, kFolderFormat, i);
    if (makeDiskFolders) {
      makeFolder(folder); // an existing folder is used as it is
      const bool entered = enterFolder(folder);
      std::printf(kHeaderLine, image.diskName(), folder);
      if (!entered) {
        // Extracting in place would mix this disk's files into the starting directory, and the
        // ".." afterwards would leave it: skip the disk instead.
        reportError(kCannotEnterFolder, folder);
        failed = true;
        continue;
      }
    }
    image.setSectorRange(kFirstSector, kLastSector);
    const VolumeResult result = tool.handler(image);
    if (result == VolumeResult::EndRun && tool.handlerMayEndRun) return 1;
    if (result != VolumeResult::Continue) failed = true;
    if (makeDiskFolders) (void)leaveFolder();
  }
  return failed ? 1 : 0;
}
