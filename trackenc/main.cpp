// trackenc: reads the track file piste1.txt in the current directory and
// writes the record file talvor.vrd, sixteen bytes per record. It answers
// --help and --version; every other argument is ignored.
//
// Exit status 0 when talvor.vrd was replaced (with a warning where records
// stop matching lines, as a number lost or added by hand leaves them); 1
// after one line on standard error saying why, talvor.vrd then being as it
// was.
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "blockio.h"
#include "input.h"
#include "options.h"
#include "reader.h"
#include "replace/replace.h"
#include "replace/signals.h"
#include "report.h"
#include "trame.h"

namespace {

constexpr char program[] = "trackenc";
constexpr int failure = 1;
constexpr char usage[] = "Usage: trackenc\n"
                         "Convert the track file piste1.txt in the current directory (sixteen numbers\n"
                         "0..255 per record) into the record file talvor.vrd (sixteen bytes per\n"
                         "record). talvor.vrd is replaced only when the whole track converted.\n"
                         "Arguments other than --help and --version are ignored.\n"
                         "\n"
                         "Exit status: 0 when talvor.vrd was written (a warning may name lines where a\n"
                         "number was lost and one added by hand); 1 after one line on standard error\n"
                         "saying why, talvor.vrd then being as it was. See trackenc(1).\n";

// In static storage rather than on the stack, which may be small: a block of
// text and its records for each of the slots that the reading and writing
// go round.
track::replacement out;
char text[track::io_slots][track::text_block_size];
unsigned char bytes[track::io_slots][track::ahead_room + track::text_output_bound(track::text_block_size)];
// What the I/O thread read ahead in each slot's block, with the reader's
// fast path.
track::text_ahead ahead[track::io_slots];
track::window_reader window = nullptr;
// The layout the reader was sure of after its last block, packed, which
// the blocks read ahead most likely begin in too (reader.h).
std::atomic<std::uint64_t> layout{0};

void read_ahead(const track::io_block &b, std::size_t share)
{
    track::read_ahead(window, layout.load(std::memory_order_relaxed), b.data, b.size, share, b.out, ahead[b.slot]);
}

}  // namespace

int main(int argc, char **argv)
{
    using namespace track;
    if (const int status = answer_options(argc, argv, program, usage, failure); status >= 0)
        return status;
    prepare_signals();

    input_file in;
    if (!open_input(in, track_file, track_read_mode)) {
        report_system(program, "cannot open", track_file, errno);
        return failure;
    }
    if (!replace_begin(out, record_file)) {
        report_replace_failure(program, record_file, out);
        return failure;
    }
    text_reader reader;
    reader.window = first_that_runs(window_kernels());
    window = reader.window;
    block_io io(in, out, text[0], sizeof text[0], bytes[0], sizeof bytes[0]);
    io.ahead = read_ahead;
    io_start(io);
    auto report_io_failure = [&io] {
        if (io.failed == io_failure::reading)
            report_system(program, "cannot read", track_file, io.error);
        else
            report_replace_failure(program, record_file, out);
    };
    std::uint64_t kept = 0;  // the layout after the block before
    for (;;) {
        io_block b;
        if (!io_next(io, b)) {
            report_io_failure();
            return failure;
        }
        std::size_t from = 0;
        const std::size_t made =
            b.size == 0 ? finish_text(reader, b.out) : read_text(reader, b.data, b.size, b.out, ahead[b.slot], from);
        if (b.size != 0 && ahead[b.slot].start != 0 && !reader.run_taken)
            io_wasted(io);
        // Only a layout kept over a whole block is worth reading ahead in;
        // elsewhere the runs would be read again here, in vain.
        const std::uint64_t now = packed_layout(reader.lines);
        layout.store(now == kept ? now : 0, std::memory_order_relaxed);
        kept = now;
        if (reader.fault != text_fault::none) {
            char where[400];
            describe_fault(reader, where, sizeof where);
            report(program, "%s:%s", track_file, where);
            return failure;
        }
        io_put(io, from, made);
        if (b.size == 0)
            break;
    }
    if (!io_finish(io)) {
        report_io_failure();
        return failure;
    }
    if (!replace_commit(out)) {
        report_replace_failure(program, record_file, out);
        return failure;
    }
    if (char where[400]; describe_layout(reader, where, sizeof where))
        report(program, "%s:%s", track_file, where);
    return 0;
}
