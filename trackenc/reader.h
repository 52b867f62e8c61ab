// Reading the track file: sixteen decimal numbers per record, in any layout.
//
// The reader takes the text in blocks of any size, so a number may straddle
// two blocks and be of any length. It accepts exactly this: runs of blank,
// tab, line feed, vertical tab, form feed and carriage return anywhere (line
// boundaries carry no meaning); numbers in base 10 with an optional sign and
// any number of leading zeros, worth 0..255. Anything else stops it with the
// line and column of the fault. It also notices where records stop matching
// lines, the trace of a number lost or added by hand (layout.h). A UTF-8
// byte order mark at the very start is skipped, as editors add one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trame.h"
#include "window.h"

namespace track {

enum class text_fault : std::uint8_t {
    none,
    not_a_number,  // a character that cannot begin a number
    no_digit,      // a sign not followed by a digit
    bad_ending,    // a number followed by something other than white space
    out_of_range,  // a number outside 0..255
    incomplete,    // the text ended inside a record
};

struct text_reader {
    // Where the reader is. Lines and columns count from 1; columns in bytes.
    std::uint64_t offset = 0;      // bytes taken so far
    text_lines lines;              // the current line, and how records lie on lines
    std::uint64_t line_start = 0;  // offset of the current line's first byte

    // The number being read, when it straddles two blocks.
    enum class in : std::uint8_t { gap, sign, digits } state = in::gap;
    bool negative = false;
    unsigned value = 0;            // held at 256 once past the range
    std::uint64_t token_line = 0;  // where the number began
    std::uint64_t token_column = 0;
    std::uint64_t token_length = 0;
    char token_head[24] = {};       // its first characters, for messages
    char digits_head[20] = {};      // its first significant digits, for messages
    std::uint64_t significant = 0;  // how many significant digits it has
    bool after_cr = false;          // the current line began after a carriage return

    // The record being gathered, waiting for the rest of its numbers.
    unsigned char pending[record_size] = {};
    int filled = 0;  // numbers of it read so far

    // The fast path (first_that_runs(window_kernels()), or a kernel of the
    // tests' choice); without one, every byte goes the byte-by-byte way.
    window_reader window = nullptr;
    bool run_taken = false;  // the last block's run read ahead was taken as it is

    // The first fault, once there is one; the reader takes no more text.
    text_fault fault = text_fault::none;
    std::uint64_t fault_line = 0;
    std::uint64_t fault_column = 0;
    int found = -1;  // the offending byte, or -1 for end of text

    // What names the offending byte: it and the bytes after it (a UTF-8
    // character), and the first bytes of the text (UTF-16). A fault that
    // needs more of them than its block had is held until they come.
    text_fault held = text_fault::none;
    std::uint64_t found_offset = 0;
    unsigned char found_bytes[4] = {};
    std::size_t found_size = 0;
    unsigned char head[8] = {};  // the text's first bytes
    std::size_t head_size = 0;
    bool mark_done = false;  // a UTF-8 byte order mark at the start was looked for
};

// The room read_text needs at out for `size` bytes of text.
constexpr std::size_t text_output_bound(std::size_t size)
{
    // One byte per number: every number but one needs a separator; then the
    // pending record, and the window path's scratch.
    return size / 2 + 1 + record_size + window_scratch;
}

// A block read ahead: another thread reads the front of a block through the
// fast path while the blocks before it are still being read, as if from a
// first line with no number before, sure of a layout (layout.h: the one
// the reader was last sure of, packed); read_text then takes that run as it
// is where the text before it left the reader in that very state, at the
// start of a group (as it most often does), and reads on from its end.
struct text_ahead {
    std::size_t start = 0;     // where the run begins, just after the block's first line end; 0: no run
    std::uint64_t layout = 0;  // the layout it began sure of, packed
    window_run run;            // what it took
    text_lines lines;          // its lines and numbers
};

// A run starts at a line end in the first ahead_search bytes of the block;
// its numbers are stored at out + ahead_room, after room for those of the
// pending record and of the text before the run, and the window's scratch.
inline constexpr std::size_t ahead_search = 256;
inline constexpr std::size_t ahead_room = record_size + ahead_search / 2 + 1 + window_scratch;

// Reads the front of the block of text (its first `share` bytes, or a little
// less) with window, as read_text takes it, for out then given to read_text.
// Where layout is 0 there is nothing to read ahead in.
void read_ahead(window_reader window, std::uint64_t layout, const char *text, std::size_t size, std::size_t share,
                unsigned char *out, text_ahead &a);

// Reads the next block of text, storing each completed record's sixteen
// bytes from out + first on, and returns how many it stored. `a` is what
// read_ahead took of this very block, with out as it had it (room for
// ahead_room + text_output_bound(size) bytes), or text_ahead{} for a block
// not read ahead (room for text_output_bound(size) bytes; first is then 0).
// Stops at the first fault, which r.fault then names.
std::size_t read_text(text_reader &r, const char *text, std::size_t size, unsigned char *out, const text_ahead &a,
                      std::size_t &first);

// Ends the text: completes a number at the very end, and faults when the last
// record is incomplete. Returns the bytes stored at out (room for one record).
std::size_t finish_text(text_reader &r, unsigned char *out);

// Describes r's fault as "LINE:COLUMN: what" (or "LINE: what" for an
// incomplete record) into buffer.
void describe_fault(const text_reader &r, char *buffer, std::size_t size);

// Where the text was read whole: false, or true with buffer describing the
// first slip of records against lines (layout.h), as "LINE: warning:
// what", LINE being where records stopped matching lines.
bool describe_layout(const text_reader &r, char *buffer, std::size_t size);

}  // namespace track
