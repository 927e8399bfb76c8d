// Writing the tools' messages.
#ifndef D88_CONSOLE_H
#define D88_CONSOLE_H

// Writes a printf-style message to standard error. Standard output is flushed first, so that
// when both streams go to one place the message stands where the tool wrote it among the
// listing lines.
void reportError(const char* format, ...);

#endif
