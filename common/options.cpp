#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report.h"

namespace track {

int answer_options(int argc, char **argv, const char *program, const char *usage, int failure)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const bool help = std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
        if (!help && std::strcmp(argv[i], "--version") != 0)
            continue;
        errno = 0;
        const int printed =
            help ? std::printf("%s", usage) : std::printf("%s (%s) %s\n", program, TRACK_PACKAGE, TRACK_VERSION);
        if (printed < 0 || std::fclose(stdout) != 0) {
            report_system(program, "cannot write", "standard output", errno != 0 ? errno : EIO);
            return failure;
        }
        return 0;
    }
    return -1;
}

}  // namespace track
