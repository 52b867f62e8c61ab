// trackdec: reads the record file talvor.vrd in the current directory and
// writes the track file piste1.txt, one line of sixteen numbers per record.
// It answers --help and --version; every other argument is ignored.
//
// Exit status 0 when piste1.txt was replaced (a trailing partial record is
// dropped with a warning); 255 after one line on standard error saying why,
// piste1.txt then being as it was.
#include <cerrno>
#include <cstdio>

#include "blockio.h"
#include "input.h"
#include "options.h"
#include "replace.h"
#include "report.h"
#include "signals.h"
#include "textwrite.h"
#include "trame.h"

namespace {

constexpr char program[] = "trackdec";
constexpr int failure = 255;  // -1 as the shell sees it
constexpr char usage[] = "Usage: trackdec\n"
                         "Convert the record file talvor.vrd in the current directory (sixteen bytes\n"
                         "per record) into the track file piste1.txt (one line of sixteen numbers per\n"
                         "record). piste1.txt is replaced only when the whole file converted.\n"
                         "Arguments other than --help and --version are ignored. See trackdec(1).\n";

constexpr std::size_t block_records = track::record_block_size / track::record_size;
static_assert(block_records * track::record_size == track::record_block_size, "blocks of whole records");
constexpr std::size_t text_size = block_records * track::max_line_length + track::format_slack;

// In static storage rather than on the stack, which may be small: a block of
// records and its lines for each of the slots that the reading and writing
// go round.
track::replacement out;
char bytes[track::io_slots][track::record_block_size];
unsigned char text[track::io_slots][text_size];

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
    block_io io(in, out, bytes[0], sizeof bytes[0], text[0], sizeof text[0]);
    io_start(io);
    // Bytes gathered for a record not yet complete. Every block but the last
    // is full, and so whole records: only the last can leave any.
    std::size_t assemble = 0;
    for (;;) {
        io_block b;
        if (!io_next(io, b)) {
            report_io_failure(io, program, record_file, track_file);
            return failure;
        }
        const std::size_t records = b.size / record_size;
        io_put(io, format(reinterpret_cast<const unsigned char *>(b.data), records, reinterpret_cast<char *>(b.out)));
        if (b.size == 0)
            break;
        assemble = b.size - records * record_size;
    }
    if (!io_finish(io)) {
        report_io_failure(io, program, record_file, track_file);
        return failure;
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
