// The loop that every window kernel runs, included inside each kernel's
// target region (after its BEGIN) so that it is compiled for that region;
// only templates and lambdas here, so that what it calls is compiled with
// it. A kernel is a type K with
//
//   window_masks K::classify(const unsigned char *p)
//       the white space and line ends of the 64 bytes at p, and where the
//       first byte that is neither a digit nor white space stands;
//   int K::store(const unsigned char *p, std::uint64_t ends, unsigned char *out)
//       the values of the numbers whose last digits are at `ends`, stored in
//       order at out; how many, or -1 when one is past 255;
//   unsigned K::bits_set(std::uint64_t x)
//       how many bits of x are set, as fast as the region can count them;
//
// and this loop decides which bytes each window takes, finds the numbers in
// them and counts the lines. It classifies each byte once: the next window
// starts where this one stopped. Its common case has no branch that depends
// on the text.
#pragma once

#include <bit>
#include <cstdint>

#include "textwindow.h"

namespace track {

template <typename Kernel>
[[gnu::always_inline]] inline window_run run_windows(const unsigned char *p, const unsigned char *end,
                                                     unsigned char *out, text_lines &where)
{
    // Unsigned shifts wrap: for byte 63, 2 << 63 is 0.
    auto up_to = [](int i) { return (std::uint64_t{2} << i) - 1; };
    // Little lives across windows, so that it all stays in registers: the
    // counts of bytes and values come from p and out at the end, and of the
    // lines only what the common case changes is held apart from `where`.
    Kernel k;
    const unsigned char *const start = p;
    unsigned char *const first_out = out;
    std::uint64_t numbers = where.numbers;
    const unsigned char *break_end = nullptr;  // the end of the last window with a line end
    std::uint64_t line = where.line, line_first = where.line_first, off_line = where.off_line;
    while (end - p >= window_size) {
        const window_masks m = k.classify(p);
        std::uint64_t space = m.space;
        if (m.valid != ~std::uint64_t{0})  // seldom: the form ends in this window
            space &= m.valid;
        if (space == 0)
            break;
        // The window ends at its last white space: every number before it is
        // whole. A number of four digits or more is out of range unless all
        // but its last three are zeros; the window then ends before it.
        int last = 63 - std::countl_zero(space);
        std::uint64_t digit = ~space & up_to(last);
        const std::uint64_t two = digit & (digit >> 1);
        for (std::uint64_t d = two & (two >> 2); d != 0; d &= d - 1) {
            const int at = std::countr_zero(d);
            if (p[at] != '0') {
                const std::uint64_t before = space & ((std::uint64_t{1} << at) - 1);
                last = before == 0 ? -1 : 63 - std::countl_zero(before);
                break;
            }
        }
        if (last < 0)
            break;
        const std::uint64_t taken = up_to(last);
        space &= taken;
        digit &= taken;
        const std::uint64_t ends = digit & (space >> 1);
        const int n = k.store(p, ends, out);
        if (n < 0)
            break;
        // A line ends at a line feed, a carriage return, or both: a line feed
        // right after a carriage return ends no line of its own.
        const std::uint64_t breaks = m.line_end & taken;
        const std::uint64_t cr = m.cr & taken;
        std::uint64_t line_ends = breaks;
        if ((cr | std::uint64_t{p[-1] == '\r'}) != 0)  // text with line feeds only has no carriage return
            line_ends &= ~(((cr << 1) | std::uint64_t{p[-1] == '\r'}) & ~cr);
        // While records match lines (off_line 0), a window with at most one
        // line end, on a record boundary, needs only counting it.
        const std::uint64_t before = numbers;
        numbers += static_cast<unsigned>(n);
        const std::uint64_t first = line_ends & (~line_ends + 1);
        const std::uint64_t at_first = before + k.bits_set(ends & (first - 1));
        const std::uint64_t if_first = 0 - std::uint64_t{first != 0};
        if ((off_line | (line_ends & (line_ends - 1)) | ((at_first & if_first) % record_size)) == 0) {
            line += first != 0 ? 1 : 0;
            line_first += (at_first - line_first) & if_first;
        } else {
            where.line = line;
            where.line_first = line_first;
            for (std::uint64_t b = line_ends; b != 0; b &= b - 1) {
                where.numbers = before + k.bits_set(ends & ((b & (~b + 1)) - 1));
                end_line(where);
            }
            line = where.line;
            line_first = where.line_first;
            off_line = where.off_line;
        }
        break_end = breaks != 0 ? p + last + 1 : break_end;
        p += last + 1;
        out += n;
    }
    window_run run;
    run.consumed = static_cast<std::size_t>(p - start);
    run.numbers = static_cast<std::size_t>(out - first_out);
    where.numbers = numbers;
    where.line = line;
    where.line_first = line_first;
    // Where the last line starts (after its line feed, counted or not): the
    // last window with a line end has one before its end.
    if (break_end != nullptr) {
        while (break_end[-1] != '\n' && break_end[-1] != '\r')
            --break_end;
        run.line_start = static_cast<std::size_t>(break_end - start);
        run.after_cr = break_end[-1] == '\r';
    }
    // The line of the last number: the current line less the line ends
    // after that number, found from the end.
    if (run.numbers != 0) {
        std::uint64_t after = 0;
        for (const unsigned char *q = p; !('0' <= q[-1] && q[-1] <= '9'); --q)
            after += q[-1] == '\r' || (q[-1] == '\n' && q[-2] != '\r') ? 1 : 0;
        where.last_line = line - after;
    }
    return run;
}

}  // namespace track
