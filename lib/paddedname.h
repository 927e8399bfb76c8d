// The 8.3 name of a blank-padded directory entry, shared by DOS-style and CP/M-style entries.
#ifndef D88_PADDEDNAME_H
#define D88_PADDEDNAME_H

#include <cstdint>

// Writes the base name up to its first blank, then "." and the extension up to its first blank
// unless the extension starts with a blank, and a terminating zero: at most 13 bytes into `out`.
// Other bytes are copied unchanged, so a zero byte ends the name where it stands.
void paddedName(const std::uint8_t (&base)[8], const std::uint8_t (&ext)[3], char* out);

#endif
