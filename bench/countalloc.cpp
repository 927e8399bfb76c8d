// A malloc counter to preload into a tool (LD_PRELOAD): every allocation call is counted and
// handed on to the C library's own allocator, and at exit one line goes to the file named by
// BENCH_ALLOC_REPORT:
//
//   allocs N frees N bytes N peak N rchar N wchar N
//
// allocs counts malloc, calloc, realloc (of a null pointer or to a new size), memalign,
// posix_memalign, aligned_alloc, valloc and pvalloc calls; bytes is what they asked for in all;
// peak is the largest number of bytes in use at once, by the allocator's usable sizes. The C
// library's own allocations (stream buffers, FILE objects) go through the same entry points and
// are counted too. rchar and wchar are the bytes the process has read and written through
// system calls so far, from /proc/self/io (the final flush of standard output comes after this
// report). Nothing here allocates: the report is formatted by hand and written with write(2).
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

unsigned long long allocCount = 0;
unsigned long long freeCount = 0;
unsigned long long requestedBytes = 0;
unsigned long long liveBytes = 0;
unsigned long long peakBytes = 0;

void* counted(void* pointer, std::size_t size) {
  if (pointer == nullptr) return nullptr;
  ++allocCount;
  requestedBytes += size;
  liveBytes += malloc_usable_size(pointer);
  if (liveBytes > peakBytes) peakBytes = liveBytes;
  return pointer;
}

void released(void* pointer) {
  if (pointer == nullptr) return;
  ++freeCount;
  liveBytes -= malloc_usable_size(pointer);
}

char* putNumber(char* out, unsigned long long value) {
  char digits[24];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (length > 0)
    *out++ = digits[--length];
  return out;
}

char* putText(char* out, const char* text) {
  while (*text != '\0')
    *out++ = *text++;
  return out;
}

// The value of `field` ("rchar: ") in /proc/self/io, or 0.
unsigned long long ioCount(const char* field) {
  char text[512];
  const int file = ::open("/proc/self/io", O_RDONLY);
  if (file < 0) return 0;
  const ssize_t length = ::read(file, text, sizeof text - 1);
  (void)::close(file);
  if (length <= 0) return 0;
  text[length] = '\0';
  for (const char* line = text; *line != '\0';) {
    const char* f = field;
    const char* p = line;
    while (*f != '\0' && *p == *f) {
      ++p;
      ++f;
    }
    if (*f == '\0') {
      unsigned long long value = 0;
      for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + static_cast<unsigned>(*p - '0');
      return value;
    }
    while (*line != '\0' && *line != '\n')
      ++line;
    if (*line == '\n') ++line;
  }
  return 0;
}

__attribute__((destructor)) void report() {
  const char* path = std::getenv("BENCH_ALLOC_REPORT");
  if (path == nullptr) return;
  char line[256];
  char* out = putText(line, "allocs ");
  out = putNumber(out, allocCount);
  out = putText(out, " frees ");
  out = putNumber(out, freeCount);
  out = putText(out, " bytes ");
  out = putNumber(out, requestedBytes);
  out = putText(out, " peak ");
  out = putNumber(out, peakBytes);
  out = putText(out, " rchar ");
  out = putNumber(out, ioCount("rchar: "));
  out = putText(out, " wchar ");
  out = putNumber(out, ioCount("wchar: "));
  *out++ = '\n';
  const int file = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) return;
  (void)!::write(file, line, static_cast<std::size_t>(out - line));
  (void)::close(file);
}

} // namespace

extern "C" {

void* malloc(std::size_t size) { return counted(__libc_malloc(size), size); }

void* calloc(std::size_t count, std::size_t size) {
  return counted(__libc_calloc(count, size), count * size);
}

void* realloc(void* pointer, std::size_t size) {
  if (pointer == nullptr) return malloc(size);
  const std::size_t before = malloc_usable_size(pointer);
  void* moved = __libc_realloc(pointer, size);
  if (moved == nullptr) return nullptr; // the old block stays, and so does its count
  ++allocCount;
  ++freeCount;
  requestedBytes += size;
  liveBytes = liveBytes - before + malloc_usable_size(moved);
  if (liveBytes > peakBytes) peakBytes = liveBytes;
  return moved;
}

void free(void* pointer) {
  released(pointer);
  __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size) {
  return counted(__libc_memalign(alignment, size), size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  void* pointer = memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *result = pointer;
  return 0;
}

void* valloc(std::size_t size) { return memalign(static_cast<std::size_t>(getpagesize()), size); }

void* pvalloc(std::size_t size) {
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  return memalign(page, (size + page - 1) / page * page);
}

} // extern "C"
