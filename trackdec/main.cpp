// trackdec: reads the record file talvor.vrd in the current directory and
// writes the track file piste1.txt, one line of sixteen numbers per record.
// It answers --help and --version; every other argument is ignored.
//
// Exit status 0 when piste1.txt was replaced (a trailing partial record is
// dropped with a warning); 255 after one line on standard error saying why,
// piste1.txt then being as it was.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// A block's lines, and one more for the record it completes from the block
// before.
constexpr std::size_t text_size =
    (track::record_block_size / track::record_size + 1) * track::max_line_length + track::format_slack;

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
    // The bytes of a record that a block left unfinished, waiting for the
    // rest of it at the start of the next block.
    unsigned char assemble[record_size];
    std::size_t assembled = 0;
    for (;;) {
        io_block b;
        if (!io_next(io, b)) {
            report_io_failure(io, program, record_file, track_file);
            return failure;
        }
        const auto *data = reinterpret_cast<const unsigned char *>(b.data);
        auto *lines = reinterpret_cast<char *>(b.out);
        std::size_t made = 0;
        std::size_t used = 0;
        if (assembled != 0) {
            used = std::min(record_size - assembled, b.size);
            std::memcpy(assemble + assembled, data, used);
            assembled += used;
            if (assembled == record_size) {
                made = format(assemble, 1, lines);
                assembled = 0;
            }
        }
        const std::size_t records = (b.size - used) / record_size;
        made += format(data + used, records, lines + made);
        used += records * record_size;
        std::memcpy(assemble + assembled, data + used, b.size - used);
        assembled += b.size - used;
        io_put(io, made);
        if (b.size == 0)
            break;
    }
    if (!io_finish(io)) {
        report_io_failure(io, program, record_file, track_file);
        return failure;
    }
    if (!replace_commit(out)) {
        report_replace_failure(program, track_file, out);
        return failure;
    }
    if (assembled == 1)
        report(program, "%s: ignored 1 trailing byte that does not make a whole record", record_file);
    else if (assembled != 0)
        report(program, "%s: ignored %zu trailing bytes that do not make a whole record", record_file, assembled);
    return 0;
}
