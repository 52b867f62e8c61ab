#include "input.h"

#include <cerrno>
#include <sys/types.h>

static_assert(sizeof(off_t) == 8, "files past 2 GiB need 64-bit file offsets");

namespace track {

bool open_input(input_file &in, const char *name, const char *mode)
{
    in.file = std::fopen(name, mode);
    if (in.file == nullptr)
        return false;
    // Reads come in large blocks; a stream buffer would only copy them.
    (void)std::setvbuf(in.file, nullptr, _IONBF, 0);
    return true;
}

bool read_block(input_file &in, void *buffer, std::size_t size, std::size_t &got)
{
    errno = 0;
    got = std::fread(buffer, 1, size, in.file);
    if (got < size && std::ferror(in.file) != 0) {
        if (errno == 0)
            errno = EIO;
        return false;
    }
    return true;
}

}  // namespace track
