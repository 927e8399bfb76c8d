#include "console.h"

#include <cstdarg>
#include <cstdio>

void reportError(const char* format, ...) {
  std::fflush(stdout);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}
