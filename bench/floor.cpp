// trackfloor enc|dec OUTPUT_SIZE: what trackenc or trackdec costs without
// converting. It opens and reads the same input file in the same blocks,
// writes OUTPUT_SIZE bytes (the size of the real output) in one write per
// block read, and replaces the output file the same way, sync and rename
// included. The benchmark measures the programs against it.
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "input.h"
#include "replace/replace.h"
#include "trame.h"

namespace {

// Static, as in the programs: big enough for a block of either's output.
char in_block[track::text_block_size];
char out_block[track::text_block_size * 4];

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const bool enc = std::strcmp(argv[1], "enc") == 0;
    const unsigned long long out_size = std::strtoull(argv[2], nullptr, 10);
    const char *input = enc ? track::track_file : track::record_file;
    const std::size_t block = enc ? track::text_block_size : track::record_block_size;

    track::input_file in;
    struct stat st {};
    if (!track::open_input(in, input, "rb") || fstat(fileno(in.file), &st) != 0)
        return 1;
    static track::replacement out;  // its buffers are not for the stack
    if (!track::replace_begin(out, enc ? track::record_file : track::track_file))
        return 1;
    const auto in_size = static_cast<unsigned long long>(st.st_size);
    unsigned long long read = 0;
    unsigned long long written = 0;
    for (;;) {
        std::size_t got = 0;
        if (!track::read_block(in, in_block, block, got))
            return 1;
        read += got;
        // As much output as the conversion makes of the input read so far.
        const unsigned long long due = in_size == 0 ? out_size : out_size * read / in_size;
        const auto now = static_cast<std::size_t>(due - written);
        if (now > sizeof out_block || !track::replace_write(out, out_block, now))
            return 1;
        written = due;
        if (got == 0)
            break;
    }
    return track::replace_commit(out) ? 0 : 1;
}
