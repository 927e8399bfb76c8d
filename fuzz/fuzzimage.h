// What every fuzz target shares: the fuzzed bytes as an image file the reader can open, and a
// scratch folder the volume code writes into, emptied before each run.
#ifndef D88_FUZZ_FUZZIMAGE_H
#define D88_FUZZ_FUZZIMAGE_H

#include <cstddef>
#include <cstdint>

// Writes the bytes to the fuzz image file and yields its path.
const char* writeFuzzImage(const std::uint8_t* data, std::size_t size);

// Makes the scratch folder the current directory (once) and empties it; standard output is sent
// to /dev/null so that listings do not slow the run (run with -close_fd_mask=2 to silence the
// tools' messages on standard error too; libFuzzer keeps its own reports).
void enterEmptyScratch();

#endif
