#include "decode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "input.h"
#include "replace.h"
#include "report.h"
#include "kernels.h"
#include "trame.h"

namespace track {

namespace {

constexpr char program[] = "trackdec";
constexpr int failure = 255;  // -1 as the shell sees it
constexpr std::size_t block_records = record_block_size / record_size;

}  // namespace

int decode_track()
{
    // The record file is opened first, so that a missing one leaves the track
    // file, which people edit by hand, untouched.
    input_file in;
    if (!open_input(in, record_file, record_read_mode)) {
        std::perror("Error in opening file");
        return failure;
    }
    replacement out;
    if (!replace_begin(out, track_file, track_write_mode)) {
        report_system(program, "cannot write", track_file, out.error);
        return failure;
    }

    const record_formatter format = first_that_runs(format_kernels());
    unsigned char bytes[block_records * record_size];
    char text[block_records * max_line_length + format_slack];
    // Bytes gathered for the record being built; they wait at the start of
    // bytes for the rest of their record to arrive.
    std::size_t assemble = 0;
    for (;;) {
        std::size_t got = 0;
        if (!read_block(in, bytes + assemble, sizeof bytes - assemble, got)) {
            report_system(program, "cannot read", record_file, errno);
            return failure;
        }
        if (got == 0)
            break;
        std::size_t records = (assemble + got) / record_size;
        if (!replace_write(out, text, format(bytes, records, text))) {
            report_system(program, "cannot write", track_file, out.error);
            return failure;
        }
        assemble = (assemble + got) % record_size;
        std::memmove(bytes, bytes + records * record_size, assemble);
    }
    if (!replace_commit(out)) {
        report_system(program, "cannot write", track_file, out.error);
        return failure;
    }
    if (assemble == 1)
        report(program, "%s: ignored 1 trailing byte that does not make a whole record", record_file);
    else if (assemble != 0)
        report(program, "%s: ignored %zu trailing bytes that do not make a whole record", record_file, assemble);
    return 0;
}

}  // namespace track
