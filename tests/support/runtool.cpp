#include "runtool.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void removeAll(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    ::chmod(path.c_str(), 0700); // tests make folders read-only
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") removeAll(path + "/" + name);
      }
      ::closedir(dir);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

void collect(const std::string& root, const std::string& relative,
             std::map<std::string, TreeItem>& tree) {
  const std::string folder = relative.empty() ? root : root + "/" + relative;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "/" + name;
    const std::string full = root + "/" + path;
    struct stat info;
    if (::lstat(full.c_str(), &info) != 0) continue;
    TreeItem entry;
    entry.directory = S_ISDIR(info.st_mode);
    entry.mtime = static_cast<std::int64_t>(info.st_mtime);
    entry.atime = static_cast<std::int64_t>(info.st_atime);
    if (!entry.directory) entry.bytes = readWholeFile(full);
    tree[path] = entry;
    if (entry.directory) collect(root, path, tree);
  }
  ::closedir(dir);
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

} // namespace

TempDir::TempDir(const std::string& base) {
  std::string folder = base;
  if (folder.empty()) {
    const char* fromEnvironment = std::getenv("TMPDIR");
    folder = fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "/tmp";
  }
  std::string pattern = folder + "/d88test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) != nullptr) root = buffer.data();
}

TempDir::~TempDir() {
  if (!root.empty()) removeAll(root);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory, const RunOptions& options) {
  RunResult result;
  TempDir capture;
  const std::string outPath = capture / "stdout";
  const std::string errPath = capture / "stderr";

  std::vector<std::string> environment = {"TZ=" + options.tz, "PATH=/usr/bin:/bin", "LC_ALL=C"};
  const char* wrapper = std::getenv("D88_TOOL_WRAPPER");
  const bool wrapped = wrapper != nullptr && *wrapper != '\0';
  if (wrapped) {
    // What the wrapper needs to find its prefix; its own chatter is turned off.
    // D88_TOOL_LOCALE (with LOCPATH where the locale was made) gives the Windows side its code
    // page: ja_JP.UTF-8 makes it a Japanese system, code page 932.
    const char* locale = std::getenv("D88_TOOL_LOCALE");
    if (locale != nullptr && *locale != '\0') environment[2] = std::string("LC_ALL=") + locale;
    for (const char* name : {"HOME", "WINEPREFIX", "WINEDLLOVERRIDES", "DISPLAY", "LOCPATH"}) {
      if (const char* value = std::getenv(name))
        environment.push_back(std::string(name) + "=" + value);
    }
    environment.push_back("WINEDEBUG=-all");
  }
  std::vector<char*> envp;
  for (std::string& item : environment)
    envp.push_back(item.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvStrings = {program};
  if (wrapped) argvStrings.insert(argvStrings.begin(), wrapper);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  result.command = "cd " + quoted(workingDirectory) + " && TZ=" + quoted(options.tz);
  for (const std::string& arg : argvStrings)
    result.command += " " + quoted(arg);
  std::vector<char*> argv;
  for (std::string& item : argvStrings)
    argv.push_back(item.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err =
        options.mergeOutput ? out : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::chdir(workingDirectory.c_str()) != 0) ::_exit(125);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::alarm(static_cast<unsigned>(options.timeoutSeconds));
    ::execve(argvStrings.front().c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.killed = true;
    result.status = 128 + WTERMSIG(status);
  }
  result.out = readWholeFile(outPath);
  if (!options.mergeOutput) result.err = readWholeFile(errPath);
  return result;
}

std::map<std::string, TreeItem> readTree(const std::string& root) {
  std::map<std::string, TreeItem> tree;
  collect(root, "", tree);
  return tree;
}

std::string treeListing(const std::map<std::string, TreeItem>& tree) {
  std::string out;
  for (const auto& [path, item] : tree)
    out += path + (item.directory ? "/\n" : "\n");
  return out;
}

std::string hexDump(const std::string& bytes) {
  std::string out;
  char cell[8];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%02x", static_cast<unsigned char>(bytes[i]));
    out += cell;
    out += (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ';
  }
  return out;
}

std::string toString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::int64_t localStamp(const std::string& tz, int year, int month, int day, int hour, int minute,
                        int second) {
  const char* previous = std::getenv("TZ");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TZ", tz.c_str(), 1);
  ::tzset();
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::int64_t stamp = static_cast<std::int64_t>(std::mktime(&local));
  if (previous != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  return stamp;
}

std::string toolPath(const std::string& tool) {
  // The Windows programs, run through a wrapper such as wine: D88_TOOL_DIR names their folder.
  const char* folder = std::getenv("D88_TOOL_DIR");
  if (folder != nullptr && *folder != '\0') {
    const char* suffix = std::getenv("D88_TOOL_SUFFIX");
    return std::string(folder) + "/" + tool + (suffix != nullptr ? suffix : "");
  }
  if (tool == "d88vol") return D88VOL_PATH;
  if (tool == "d88fat") return D88FAT_PATH;
  if (tool == "d88cpm") return D88CPM_PATH;
  return tool;
}

bool toolsRunWrapped() {
  const char* wrapper = std::getenv("D88_TOOL_WRAPPER");
  return wrapper != nullptr && *wrapper != '\0';
}

std::string typedProgramName(const std::string& program) {
  if (!toolsRunWrapped()) return program;
  std::string windows = "Z:" + program;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string nameOnDisk(const std::string& stored) {
  if (!toolsRunWrapped()) return stored;
  iconv_t converter = ::iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return stored;
  std::string in = stored;
  std::string out(stored.size() * 4 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t left = in.size();
  std::size_t room = out.size();
  const bool converted =
      ::iconv(converter, &from, &left, &to, &room) != static_cast<std::size_t>(-1);
  ::iconv_close(converter);
  if (!converted) return stored;
  out.resize(out.size() - room);
  return out;
}
