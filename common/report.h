// Error lines on standard error, in the form "program: message".
#pragma once

namespace track {

// Prints "program: " and the formatted message as one line, in one write so
// that lines from concurrent programs do not interleave.
[[gnu::format(printf, 2, 3)]] void report(const char *program, const char *format, ...);

// Prints "program: what file: reason", reason being the system's text for
// errnum; for failures of a system call on a file.
void report_system(const char *program, const char *what, const char *file, int errnum);

}  // namespace track
