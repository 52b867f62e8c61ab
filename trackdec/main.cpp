// trackdec: reads the record file talvor.vrd in the current directory and
// writes the track file piste1.txt, one line of sixteen numbers per record.
// It answers --help and --version; every other argument is ignored.
//
// Exit status 0 when piste1.txt was replaced (a trailing partial record is
// dropped with a warning); 255 after one line on standard error saying why,
// piste1.txt then being as it was.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "format.h"
#include "input.h"
#include "options.h"
#include "replace/replace.h"
#include "replace/signals.h"
#include "report.h"
#include "trame.h"

namespace {

constexpr char program[] = "trackdec";
constexpr int failure = 255;  // -1 as the shell sees it
constexpr char usage[] = "Usage: trackdec\n"
                         "Convert the record file talvor.vrd in the current directory (sixteen bytes\n"
                         "per record) into the track file piste1.txt (one line of sixteen numbers per\n"
                         "record). piste1.txt is replaced only when the whole file converted.\n"
                         "Arguments other than --help and --version are ignored.\n"
                         "\n"
                         "Exit status: 0 when piste1.txt was written (trailing bytes that make no whole\n"
                         "record are dropped with a warning); 255 after one line on standard error\n"
                         "saying why, piste1.txt then being as it was. See trackdec(1).\n";

constexpr std::size_t block_records = track::record_block_size / track::record_size;

// In static storage rather than on the stack, which may be small.
track::replacement out;
unsigned char bytes[track::record_block_size];
char text[block_records * track::max_line_length + track::format_slack];

}  // namespace

int main(int argc, char **argv)
{
    using namespace track;
    if (const int status = answer_options(argc, argv, program, usage, failure); status >= 0)
        return status;
    prepare_signals();

    // The record file is opened first, so that a missing one leaves the track
    // file, which people edit by hand, untouched.
    input_file in;
    if (!open_input(in, record_file, record_read_mode)) {
        std::perror("Error in opening file");
        return failure;
    }
    if (!replace_begin(out, track_file)) {
        report_replace_failure(program, track_file, out);
        return failure;
    }
    const record_formatter format = first_that_runs(format_kernels());
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
        const std::size_t records = (assemble + got) / record_size;
        if (!replace_write(out, text, format(bytes, records, text))) {
            report_replace_failure(program, track_file, out);
            return failure;
        }
        assemble = (assemble + got) % record_size;
        std::memmove(bytes, bytes + records * record_size, assemble);
    }
    if (!replace_commit(out)) {
        report_replace_failure(program, track_file, out);
        return failure;
    }
    if (assemble == 1)
        report(program, "%s: ignored 1 trailing byte that does not make a whole record", record_file);
    else if (assemble != 0)
        report(program, "%s: ignored %zu trailing bytes that do not make a whole record", record_file, assemble);
    return 0;
}
