#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace track {

void report(const char *program, const char *format, ...)
{
    char line[1024];
    int used = std::snprintf(line, sizeof line, "%s: ", program);
    if (used < 0)
        return;
    auto at = static_cast<std::size_t>(used);
    if (at < sizeof line) {
        va_list args;
        va_start(args, format);
        // clang-tidy 14 wrongly takes args for uninitialized here.
        int more = std::vsnprintf(line + at, sizeof line - at, format, args);  // NOLINT(clang-analyzer-valist.*)
        va_end(args);
        if (more > 0)
            at += static_cast<std::size_t>(more);
    }
    // A message too long for the line is cut, keeping its line feed.
    if (at > sizeof line - 2)
        at = sizeof line - 2;
    line[at++] = '\n';
    // Nothing sensible is left to do when standard error itself fails.
    (void)std::fwrite(line, 1, at, stderr);
}

void report_system(const char *program, const char *what, const char *file, int errnum)
{
    report(program, "%s %s: %s", what, file, std::strerror(errnum));
}

}  // namespace track
