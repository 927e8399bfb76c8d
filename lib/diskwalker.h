// DiskWalker: the program frame d88vol and d88fat share.
//
// runTool checks the command line, opens the image, and visits its disks in file order. For each
// disk it selects it, makes and enters a folder "%03d" named after the disk's index and prints
// the header line "\n[name] -> folder\n" (unless "-d" turns folders off), numbers the sectors of a
// track 1 to 8, and hands the disk to the tool's VolumeHandler, which writes into the current
// directory. After the disk it steps back with "..".
#ifndef D88_DISKWALKER_H
#define D88_DISKWALKER_H

#include "d88image.h"

// What a volume handler tells the walk once a disk is done.
enum class VolumeResult {
  Continue,       // go on with the next disk
  ContinueFailed, // go on, but a file could not be written: the run ends with status 1
  EndRun,         // end the whole run now with status 1 (a write failure in d88fat)
};

using VolumeHandler = VolumeResult (*)(D88Image& image);

struct ToolParams {
  const char* programName; // stands in for argument 0 when the system gives none
  const char* usageLine;   // printf format; "%s" takes argument 0 as typed
  int maxArgumentCount;    // program name included; at least 2 are always needed
  VolumeHandler handler;
  bool handlerMayEndRun;
};

// Runs the tool over the image named by argv[1] with the given reader, which must have no file
// open yet. Yields the process exit status: 0 after the last disk; 1 after the usage lines, when
// the image cannot be opened, when the handler ends the run, or, after the last disk, when a disk
// folder could not be entered or a file could not be written.
int runTool(int argc, char** argv, const ToolParams& tool, D88Image& image);

#endif
