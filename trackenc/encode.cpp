#include "encode.h"

#include <cerrno>

#include "input.h"
#include "replace.h"
#include "report.h"
#include "textread.h"
#include "trame.h"

namespace track {

namespace {

constexpr char program[] = "trackenc";

}  // namespace

int encode_track()
{
    input_file in;
    if (!open_input(in, track_file, track_read_mode)) {
        report_system(program, "cannot open", track_file, errno);
        return 1;
    }
    replacement out;
    if (!replace_begin(out, record_file, record_write_mode)) {
        report_system(program, "cannot write", record_file, out.error);
        return 1;
    }

    char text[text_block_size];
    unsigned char bytes[text_output_bound(text_block_size)];
    text_reader reader;
    for (;;) {
        std::size_t got = 0;
        if (!read_block(in, text, sizeof text, got)) {
            report_system(program, "cannot read", track_file, errno);
            return 1;
        }
        std::size_t made = got == 0 ? finish_text(reader, bytes) : read_text(reader, text, got, bytes);
        if (reader.fault != text_fault::none) {
            char where[160];
            describe_fault(reader, where, sizeof where);
            report(program, "%s:%s", track_file, where);
            return 1;
        }
        if (!replace_write(out, bytes, made)) {
            report_system(program, "cannot write", record_file, out.error);
            return 1;
        }
        if (got == 0)
            break;
    }
    if (!replace_commit(out)) {
        report_system(program, "cannot write", record_file, out.error);
        return 1;
    }
    return 0;
}

}  // namespace track
