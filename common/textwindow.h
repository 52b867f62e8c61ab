// The reader's fast path: 64 bytes of text at a time, in the common form of
// numbers of one to three digits each followed by a single blank or line
// feed. Every implementation gives the same results: a portable one in plain
// integer arithmetic, and those of the kernel table (kernels.h). Text in any
// other form goes the reader's byte-by-byte way.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace track {

inline constexpr int window_size = 64;
inline constexpr int window_scratch = 40;  // at most 32 numbers, written 8 bytes at a time

// Bit i of each mask stands for byte i of a window.
struct window_masks {
    std::uint64_t digit;
    std::uint64_t blank;
    std::uint64_t newline;
};

struct window_result {
    int consumed = 0;            // bytes taken; 0 when the window has no number in the common form
    int numbers = 0;             // values stored
    std::uint64_t newlines = 0;  // line feeds among the bytes taken
};

// What a run of windows took.
struct window_run {
    std::size_t consumed = 0;    // bytes
    std::size_t numbers = 0;     // values stored
    std::uint64_t lines = 0;     // line feeds among the bytes
    std::size_t line_start = 0;  // the byte after the last of them
    bool last_number_ends_line = false;
};

// Reads windows from p on, while at least 64 bytes remain before end and the
// text keeps to the common form: numbers of one to three digits worth 0..255,
// each followed by a single blank or line feed. The text must start with a
// digit and be preceded by two readable bytes, white space the second (as it
// is wherever a number begins). Stores one byte per number at
// out, which needs room for one per two bytes of text and window_scratch more.
// Stops before a number out of range, so that the byte-by-byte way reports it.
using window_reader = window_run (*)(const unsigned char *p, const unsigned char *end, unsigned char *out);

window_run read_windows_portable(const unsigned char *p, const unsigned char *end, unsigned char *out);
window_run read_windows_avx2(const unsigned char *p, const unsigned char *end, unsigned char *out);

// Adds a window's result to the run; false when it took nothing.
inline bool add_window(window_run &run, const window_result &w)
{
    if (w.consumed == 0)
        return false;
    if (w.newlines != 0) {
        for (std::uint64_t nl = w.newlines; nl != 0; nl &= nl - 1)  // seldom more than one
            ++run.lines;
        run.line_start = run.consumed + static_cast<std::size_t>(64 - std::countl_zero(w.newlines));
    }
    run.last_number_ends_line = ((w.newlines >> (w.consumed - 1)) & 1) != 0;
    run.consumed += static_cast<std::size_t>(w.consumed);
    run.numbers += static_cast<std::size_t>(w.numbers);
    return true;
}

// The part of a window both implementations agree on: the longest prefix made
// of numbers of one to three digits, each followed by one separator.
struct window_span {
    std::uint64_t ends = 0;        // the last digit of each number
    std::uint64_t separators = 0;  // the separator after each number
    int consumed = 0;
};

inline window_span common_span(const window_masks &m)
{
    const std::uint64_t sep = m.blank | m.newline;
    const std::uint64_t d = m.digit;
    // Bytes where the common form breaks: neither digit nor separator, the
    // second of two separators, the fourth digit in a row.
    const std::uint64_t broken = ~(d | sep) | (sep & (sep << 1)) | (d & (d << 1) & (d << 2) & (d << 3));
    const std::uint64_t before = broken == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << std::countr_zero(broken)) - 1;
    window_span span;
    span.separators = sep & before;
    if ((d & 1) == 0 || span.separators == 0)
        return {};
    span.ends = span.separators >> 1;
    span.consumed = 64 - std::countl_zero(span.separators);
    return span;
}

}  // namespace track
