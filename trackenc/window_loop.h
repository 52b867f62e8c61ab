// The loop that every window kernel runs, included inside each kernel's
// target region (after its BEGIN) so that it is compiled for that region;
// only templates and lambdas here, so that what it calls is compiled with
// it. A kernel is a type K with
//
//   window_masks K::classify(const unsigned char *p)
//       the white space, line ends and bytes out of the form of the 64
//       bytes at p, in order: the loop classifies the blocks of a run one
//       after the other;
//   int K::store(const unsigned char *p, std::uint64_t ends, unsigned char *out)
//       the values of the numbers whose last digits are at `ends` in the
//       block just classified, stored in order at out; how many, or -1 when
//       one is past 255; a number's first digits may be in the block before;
//   unsigned K::bits_set(std::uint64_t x)
//       how many bits of x are set, as fast as the region can count them;
//
// and this loop finds the numbers in each block and counts the lines. The
// blocks follow each other 64 bytes apart, whatever they hold: a number
// across two blocks ends in the second, and what is needed of the block
// before (its last digits) a kernel carries in a register. So no block waits
// for the one before it, and no byte is classified twice. The common case
// has no branch that depends on the text.
#pragma once

#include <bit>
#include <cstdint>

#include "chars.h"
#include "window.h"

namespace track {

template <typename Kernel>
[[gnu::always_inline]] inline window_run run_windows(const unsigned char *p, const unsigned char *end,
                                                     unsigned char *out, text_lines &where)
{
    // Little lives across blocks, so that it all stays in registers: the
    // counts of bytes and values come from p and out at the end, and of the
    // lines only what the common case changes is held apart from `where`.
    Kernel k;
    const unsigned char *const start = p;
    unsigned char *const first_out = out;
    std::uint64_t numbers = where.numbers;
    const unsigned char *break_end = nullptr;  // the end of the last block with a line end
    std::uint64_t line = where.line, steady = where.steady;
    std::uint64_t due = where.line_first + steady;  // the count of numbers at which a steady line ends
    // The text was mostly just read in on another core (blockio.h), whose
    // cache then holds it; the processor's own prefetching fetches it from
    // there too late, and the run took twice as long. So it is asked for
    // 16 blocks (1 KiB) ahead, never past the end.
    constexpr int ahead = 16 * window_size;
    // Takes the first `taken` bytes of the block at p, classified as m, with
    // its numbers ending at `ends`; false, taking nothing, where one is past
    // 255. Called apart for the whole block, so that there `taken` is a
    // constant and what depends on it costs nothing.
    auto take = [&](const window_masks &m, std::uint64_t ends, int taken) __attribute__((always_inline))
    {
        const int n = k.store(p, ends, out);
        if (n < 0)
            return false;
        const std::uint64_t in_taken = ~std::uint64_t{0} >> (window_size - taken);
        const std::uint64_t breaks = m.line_end & in_taken;
        const std::uint64_t cr = m.cr & in_taken;
        const bool after_cr = p[-1] == '\r';
        // Text with line feeds only has no carriage return to look at.
        const std::uint64_t line_ends =
            (cr | std::uint64_t{after_cr}) != 0 ? line_ends_of(breaks, cr, after_cr) : breaks;
        // A block with at most two line ends, each ending a line of the
        // steady layout's count, needs only counting them (layout.h).
        // (Without a second, at_second counts every number of the block,
        // and without any, at_first does too.)
        const std::uint64_t before = numbers;
        numbers += static_cast<unsigned>(n);
        const std::uint64_t first = line_ends & (~line_ends + 1);
        const std::uint64_t rest = line_ends & (line_ends - 1);
        const std::uint64_t second = rest & (~rest + 1);
        const std::uint64_t at_first = before + k.bits_set(ends & (first - 1));
        const std::uint64_t at_second = before + k.bits_set(ends & (second - 1));
        const bool off_first = first != 0 && at_first != due;
        const bool off_second = second != 0 && at_second != due + steady;
        if ((rest & (rest - 1)) == 0 && !(off_first | off_second)) [[likely]] {
            const std::uint64_t lines = std::uint64_t{first != 0} + std::uint64_t{second != 0};
            line += lines;
            due += lines * steady;
        } else {
            where.line = line;
            where.line_first = due - steady;
            end_lines(where, line_ends, ends, before);
            line = where.line;
            steady = where.steady;
            due = where.line_first + steady;
        }
        break_end = breaks != 0 ? p + taken : break_end;
        p += taken;
        out += n;
        return true;
    };
    // A block's last byte ends a number when the byte after it is white space.
    while (end - p > window_size) {
        __builtin_prefetch(end - p > ahead ? p + ahead : end);
        const window_masks m = k.classify(p);
        std::uint64_t space = m.space;
        const std::uint64_t ends = ~space & ((space >> 1) | (std::uint64_t{is_space(p[window_size])} << 63));
        if ((m.other | m.four) != 0) [[unlikely]] {
            // Seldom: the form ends in this block. It is taken up to its last
            // white space before the number where the form ends, so that
            // every number it takes is whole, and the run stops there.
            std::uint64_t valid = (m.other - 1) & ~m.other;  // the bytes before the first out of the form
            for (std::uint64_t d = m.four & valid; d != 0; d &= d - 1) {
                const int first = std::countr_zero(d) - 3;  // of four digits in a row
                if (p[first] != '0') {
                    valid &= first <= 0 ? 0 : (std::uint64_t{1} << first) - 1;
                    break;
                }
            }
            space &= valid;
            if (space != 0)
                (void)take(m, ~m.space & (space >> 1), 64 - std::countl_zero(space));
            break;
        }
        if (!take(m, ends, window_size))
            break;
    }
    // The run stops after white space: the digits of a number that goes on
    // past the last block are left for the way that comes next.
    if (is_digit(p[-1]) && !is_space(p[0])) {
        while (p > start && is_digit(p[-1]))
            --p;
    }
    window_run run;
    run.consumed = static_cast<std::size_t>(p - start);
    run.numbers = static_cast<std::size_t>(out - first_out);
    where.numbers = numbers;
    where.line = line;
    where.line_first = due - steady;
    // Where the last line starts (after its line feed, counted or not): the
    // last block with a line end has one before its end.
    if (break_end != nullptr) {
        while (!is_line_break(break_end[-1]))
            --break_end;
        run.line_start = static_cast<std::size_t>(break_end - start);
        run.after_cr = break_end[-1] == '\r';
    }
    // The line of the last number: the current line less the line ends
    // after that number, found from the end.
    if (run.numbers != 0) {
        std::uint64_t after = 0;
        for (const unsigned char *q = p; !is_digit(q[-1]); --q)
            after += ends_line(q[-1], q[-2] == '\r') ? 1u : 0u;
        where.last_line = line - after;
    }
    return run;
}

}  // namespace track
