// Writing the tools' messages.
#ifndef D88_CONSOLE_H
#define D88_CONSOLE_H

// Makes standard output and standard error write bytes as they are. On Windows they would turn
// "\n" into "\r\n"; elsewhere this does nothing. Called once when a tool starts.
void prepareConsole();

// Writes a printf-style message to standard error. Standard output is flushed first, so that
// when both streams go to one place the message stands where the tool wrote it among the
// listing lines.
void reportError(const char* format, ...);

#endif
