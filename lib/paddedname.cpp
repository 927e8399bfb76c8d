#include "paddedname.h"

#include <cstddef>

namespace {

constexpr std::uint8_t kBlank = ' ';

template <std::size_t Width> char* appendField(const std::uint8_t (&field)[Width], char* out) {
  for (std::size_t i = 0; i < Width && field[i] != kBlank; ++i)
    *out++ = static_cast<char>(field[i]);
  return out;
}

} // namespace

void paddedName(const std::uint8_t (&base)[8], const std::uint8_t (&ext)[3], char* out) {
  out = appendField(base, out);
  if (ext[0] != kBlank) {
    *out++ = '.';
    out = appendField(ext, out);
  }
  *out = '\0';
}
