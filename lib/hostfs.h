// The host file system as the tools use it: the rule that makes a stored name safe to create,
// and the few host calls (make and enter a folder, create-write-close, set a file's times).
//
// Names are raw bytes (Shift-JIS on the disks): no case change and no character-set conversion.
#ifndef D88_HOSTFS_H
#define D88_HOSTFS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// Copies the zero-terminated `stored` name into `host` (room for strlen(stored) + 1 bytes) with
// every "/" byte replaced by "_", so that no name taken from a disk can reach outside the folder
// it is written to. Shift-JIS trail bytes are never 0x2F, so double-byte characters survive.
void hostFileName(const char* stored, char* host);

// Creates a folder by relative name; whether it was made (it may exist already) is not told.
void makeFolder(const char* name);
// Changes the current directory to `name`; false when it cannot be entered.
bool enterFolder(const char* name);
// Changes the current directory back to the parent.
bool leaveFolder();

// Creates or truncates `path` for binary writing; null when it cannot be created.
std::FILE* createFile(const char* path);
// Writes `size` bytes; false when the stream reports an error afterwards.
bool writeBytes(std::FILE* file, const std::uint8_t* data, std::size_t size);
// Closes the file; false when buffered data could not be written out.
bool closeFile(std::FILE* file);
// Creates `path`, writes `size` bytes in one write and closes it. False when any step failed;
// nothing is written through a file that did not open.
bool writeWholeFile(const char* path, const std::uint8_t* data, std::size_t size);

// Sets the last-access and last-modification times of `path` to `stamp`. A stamp of -1 (a
// failed conversion) leaves the times as writing gave them. The outcome is not told.
void setFileTimes(const char* path, std::time_t stamp);

#endif
