// The reader's fast path: 64 bytes of text at a time, for text made of
// numbers without a sign, separated by any white space (runs of blanks,
// tabs, line feeds, carriage returns, vertical tabs and form feeds, as people
// and tools write them), leading zeros included. Every kernel gives the same
// results: a portable one in plain integer arithmetic, and those of the
// kernel table. What the fast path does not take (a sign, a number out of
// range, any other byte) goes the reader's byte-by-byte way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernel.h"
#include "layout.h"
#include "trame.h"

namespace track {

inline constexpr int window_size = 64;
inline constexpr int window_scratch = 64;  // a kernel may store a value for every byte of a window

// What a kernel sees in a window (window_loop.h): bit i of each mask
// stands for byte i.
struct window_masks {
    std::uint64_t space;     // the six white-space characters
    std::uint64_t line_end;  // line feeds and carriage returns
    std::uint64_t cr;        // carriage returns
    std::uint64_t other;     // neither digits nor white space: at least the first of them, and 0 where none
    // Digits that end four in a row, so that their number is out of range
    // unless the first of the four is a zero (the window before included);
    // a kernel may leave out those where it is.
    std::uint64_t four;
};

// For kernels that find them from the digits: the digits that end four in
// a row, `before` holding those of the window before and then these.
inline std::uint64_t four_in_a_row(std::uint64_t digit, std::uint64_t &before)
{
    const std::uint64_t two = digit & (digit << 1 | before >> 63);
    const std::uint64_t four = two & (two << 2 | (before & before << 1) >> 62);
    before = digit;
    return four;
}

// What a run of windows took.
struct window_run {
    std::size_t consumed = 0;    // bytes
    std::size_t numbers = 0;     // values stored
    std::size_t line_start = 0;  // the byte after the last line end among them; 0: none
    bool after_cr = false;       // that line end was a carriage return
};

// Reads the text from p on in windows of 64 bytes, while more than 64 remain
// before end, and stops after the last white space before anything out of
// the fast path's form, or before a number that goes on past the last
// window: every number it takes is whole. p is in the white space between
// numbers, or at the start of one, with three readable bytes before it
// (white space the last, where p is a digit). Stores one byte per number at out,
// which needs room for one per two bytes of text and window_scratch more;
// counts the lines and numbers in lines.
using window_reader = window_run (*)(const unsigned char *p, const unsigned char *end, unsigned char *out,
                                     text_lines &lines);

window_run read_windows_portable(const unsigned char *p, const unsigned char *end, unsigned char *out,
                                 text_lines &lines);
window_run read_windows_avx2(const unsigned char *p, const unsigned char *end, unsigned char *out, text_lines &lines);
window_run read_windows_avx512(const unsigned char *p, const unsigned char *end, unsigned char *out, text_lines &lines);

// The window readers of this build, fastest first (kernel.h).
std::span<const kernel<window_reader>> window_kernels();

}  // namespace track
