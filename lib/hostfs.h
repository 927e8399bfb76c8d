// The host file system as the tools use it: the rule that makes a stored name safe to create,
// and the few host calls (open the image, make and enter a folder, create-write-close, set a
// file's times). This is the only place that knows POSIX from Windows spellings.
//
// Names are raw bytes (Shift-JIS on the disks): no case change and no character-set conversion;
// on Windows they go to the narrow (code-page) calls, which read them as code page 932 on a
// Japanese system.
#ifndef D88_HOSTFS_H
#define D88_HOSTFS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// Copies the zero-terminated `stored` name into `host` (room for strlen(stored) + 1 bytes) with
// every byte that would lead the name out of the folder it is written to replaced by "_": "/"
// everywhere (Shift-JIS trail bytes are never 0x2F, so double-byte characters survive); on
// Windows also "\" where it is not the second byte of a double-byte character, and ":", which
// would name a drive or a stream there.
void hostFileName(const char* stored, char* host);

// Opens `path` for binary reading; null when it cannot be opened.
std::FILE* openForReading(const char* path);
// Sets the stream's position to `position` bytes from the start; false when it cannot.
bool seekFile(std::FILE* file, std::int64_t position);

// Creates a folder by relative name; whether it was made (it may exist already) is not told.
void makeFolder(const char* name);
// Changes the current directory to `name`; false when it cannot be entered.
bool enterFolder(const char* name);
// Changes the current directory back to the parent.
bool leaveFolder();

// An output file: a buffered stream of our own, so that nothing is allocated per file. Its buffer
// has the size the host suggests for the file (4096 bytes on most; 64 KiB on Windows, which
// suggests none) and fills before it is written out, as the C library's streams do, so a failing
// device shows at the same write. Only one is open at a time.
struct OutputFile;

// Creates or truncates `path` for binary writing; null when it cannot be created (on Windows also
// for a device name such as CON or NUL.TXT, which would not be a file at all) or when another
// output file is still open.
OutputFile* createFile(const char* path);
// Writes `size` bytes; false when the stream reports an error afterwards.
bool writeBytes(OutputFile* file, const std::uint8_t* data, std::size_t size);
// Closes the file; false when buffered data could not be written out or an earlier write failed.
bool closeFile(OutputFile* file);
// Creates `path`, writes `size` bytes in one write and closes it. False when any step failed;
// nothing is written through a file that did not open.
bool writeWholeFile(const char* path, const std::uint8_t* data, std::size_t size);

// Sets the last-access and last-modification times of `path` to `stamp`. A stamp of -1 (a
// failed conversion) leaves the times as writing gave them. The outcome is not told.
void setFileTimes(const char* path, std::time_t stamp);

#endif
