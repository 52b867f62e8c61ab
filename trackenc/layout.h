// How the records of a track file lie on its lines, and where a hand edit
// shifted them.
//
// Lines carry no meaning to the reader, so a number lost or added by hand
// shifts every record after it without a fault. The lines themselves show
// it: a group is the lines from one record boundary to the next line that
// ends on one, and a group's counts of numbers per line are the layout (16;
// 8 and 8; 32; 10 and 6). When, after a group, a line's count differs from
// the layout's, the lines after it keep the layout's counts, and a line that
// differs again brings records back onto line ends, a number was lost or
// added there: a slip. It is told once the layout is sure, seen twice in a
// row before the slip or again right after it. Text of no regular layout
// shows no group twice, and changes of layout (16 per line, then 8 + 8) are
// groups of their own: neither is told.
#pragma once

#include <cstddef>
#include <cstdint>

namespace track {

// The most lines a layout may have: sixteen lines of one number.
inline constexpr int layout_lines = 16;

// A slip: records stop matching lines at `line` (the first line of the
// group), line `lost` holds `lost_count` numbers where the layout has
// `lost_expected`, and line `back` brings records back onto line ends with
// `back_count` where it has `back_expected`. line 0: none.
struct text_slip {
    std::uint64_t line = 0;
    std::uint64_t lost = 0, lost_count = 0, lost_expected = 0;
    std::uint64_t back = 0, back_count = 0, back_expected = 0;
};

struct text_lines {
    std::uint64_t line = 1;        // the current line
    std::uint64_t numbers = 0;     // numbers read so far
    std::uint64_t line_first = 0;  // numbers read before the current line
    std::uint64_t last_line = 0;   // the line of the last number read

    // Sure: the layout was seen twice in a row, nothing waits to be told,
    // and the open group's lines so far are the layout's first `phase`
    // (which group and group_size then do not hold). A line that holds
    // what the layout has next changes nothing but the phase.
    //
    // Where every line of a sure layout holds the same count, `steady` is
    // that count and the phase and the group's first line are not kept
    // either: they follow from the lines of `steady` numbers since `origin`,
    // the count of numbers where a group began. The window loop counts such
    // lines alone, and end_line works them out before anything else. 0
    // otherwise, where the window loop counts blank lines alone.
    std::uint64_t steady = 0;
    std::uint64_t origin = 0;

    // The layout: the counts of the last group, layout_size of them (0:
    // none, or a group of more than layout_lines lines).
    std::uint64_t layout[layout_lines] = {};
    int layout_size = 0;
    std::uint64_t layout_step = 0;  // the count every line of it holds, or 0
    bool layout_twice = false;      // the group before it was the same
    bool sure = false;              // see steady
    std::uint64_t slow_lines = 0;   // lines judged one by one, not counted alone

    // The open group: its lines since the last line that ended on a record
    // boundary, and how they compare with the layout.
    std::uint64_t group_line = 0;  // its first line, once it has lines
    std::uint64_t group[layout_lines] = {};
    std::uint64_t group_size = 0;  // 0: none open
    int phase = 0;                 // where in the layout its next line is
    text_slip open;                // its first two lines off the layout (lost, back), if any
    std::uint64_t conforming = 0;  // lines on the layout between them
    std::uint64_t broken = 0;      // a third line off the layout, or a second right after the first; 0: none

    text_slip pending;  // a slip waiting for the next group to show the layout again
    text_slip found;    // the first slip told
};

// The current line ends, lines.numbers numbers having been read.
void end_line(text_lines &l);

// The lines end at the bits of line_ends, `before` numbers having been read
// before the first of `ends`, the bits where numbers end: each line end
// counts the numbers whose ends come before it. Out of the window loop,
// whose variables would not stay in registers around calls.
[[gnu::cold]] void end_lines(text_lines &l, std::uint64_t line_ends, std::uint64_t ends, std::uint64_t before);

// A layout of at most 7 lines of at most 255 numbers each, packed into one
// word, for another thread to start reading ahead in; 0 for any other, or
// where the layout is not sure.
std::uint64_t packed_layout(const text_lines &l);

// Lines as at the start of a text, but sure of the layout packed.
text_lines sure_of(std::uint64_t packed);

// Whether `run`, made from sure_of(packed), takes the lines after l as l
// would have: where l is sure of that layout, at the start of a group; or
// anywhere in a steady layout, where the run counted lines alone.
bool runs_on(const text_lines &l, std::uint64_t packed, const text_lines &run);

// At the end of the text, where it ends inside a record: " (...)" naming
// the line off the layout where records stopped matching lines, or the line
// where they stopped, when that is before the last; "" where neither.
void describe_incomplete(const text_lines &l, char *buffer, std::size_t size);

// "LINE: warning: ..." for the first slip told; false where none was.
bool describe_slip(const text_lines &l, char *buffer, std::size_t size);

}  // namespace track
