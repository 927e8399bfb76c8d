// Running a built tool the way a user does, and looking at what it left behind.
//
// runProgram starts the program in a folder of the test's choosing with TZ set, captures its
// standard output and standard error as bytes and its exit status, and kills it after a time
// limit. readTree lists a folder's files and folders with their bytes and times.
#ifndef D88_TESTS_RUNTOOL_H
#define D88_TESTS_RUNTOOL_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "d88builder.h"

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
  // A fresh folder below TMPDIR (or /tmp), or below `base` when one is given.
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return root; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return root + "/" + relative; }

private:
  std::string root;
};

struct RunOptions {
  std::string tz = "UTC0";  // POSIX TZ string, so no test depends on tzdata
  int timeoutSeconds = 120; // the program is killed after this
  bool mergeOutput = false; // standard error into the same capture as standard output
};

struct RunResult {
  int status = -1;     // exit status; 128 + signal number when killed
  bool killed = false; // ended by a signal (the time limit among them)
  std::string out;     // standard output bytes (both streams with mergeOutput)
  std::string err;     // standard error bytes
  std::string command; // how to repeat the run by hand
};

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory, const RunOptions& options = {});

struct TreeItem {
  bool directory = false;
  std::string bytes;      // file contents
  std::int64_t mtime = 0; // seconds since the epoch
  std::int64_t atime = 0;
};

// Every file and folder below `root`, by path relative to it ("DISK01/GAME.COM").
std::map<std::string, TreeItem> readTree(const std::string& root);

// The names in a tree, one per line, folders with a trailing "/": handy in failure messages.
std::string treeListing(const std::map<std::string, TreeItem>& tree);

// Bytes as hex, 16 to a line, for failure messages.
std::string hexDump(const std::string& bytes);

std::string toString(const Bytes& bytes);

// The instant of a local date and time in the zone `tz` (a POSIX TZ string), as mktime gives it
// with daylight saving left to the conversion.
std::int64_t localStamp(const std::string& tz, int year, int month, int day, int hour, int minute,
                        int second);

// The paths of the built tools, from the build. With D88_TOOL_DIR set, the programs in that
// folder instead (with D88_TOOL_SUFFIX, such as ".exe"), and with D88_TOOL_WRAPPER set (such as
// /usr/bin/wine), runProgram starts them through it: the end-to-end tests then check the Windows
// build.
std::string toolPath(const std::string& tool);

// True when the tools run through a wrapper, that is as Windows programs: tests of what only a
// POSIX host does (raw byte names on disk, devices such as /dev/full) skip themselves then.
bool toolsRunWrapped();

// Argument 0 as the tool sees it: the path given, or under the wrapper the Windows form of it
// ("Z:\\work\\...").
std::string typedProgramName(const std::string& program);

// The name under which a file whose name bytes are `stored` appears on this host's disk: the
// bytes themselves, or under the wrapper (a code page 932 system writing to a UTF-8 file system)
// the same characters in UTF-8.
std::string nameOnDisk(const std::string& stored);

#endif
