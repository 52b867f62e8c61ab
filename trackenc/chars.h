// The characters of the track file, for every way of reading it: the byte
// by byte reader, the window kernels and their loop.
#pragma once

#include <cstdint>

namespace track {

inline bool is_digit(unsigned char c)
{
    return static_cast<unsigned>(c - '0') < 10;
}

// White space: a blank, or tab, line feed, vertical tab, form feed, carriage
// return.
inline bool is_space(unsigned char c)
{
    return c == ' ' || static_cast<unsigned>(c - '\t') < 5;
}

inline bool is_line_break(unsigned char c)
{
    return c == '\n' || c == '\r';
}

// A line ends at a line feed, a carriage return, or both: a line feed right
// after a carriage return ends no line of its own.
inline bool ends_line(unsigned char c, bool after_cr)
{
    return c == '\r' || (c == '\n' && !after_cr);
}

// The same for 64 bytes at once: of the line feeds and carriage returns at
// `breaks`, those that end a line; `cr` holds the carriage returns, and
// after_cr says that the byte before the first was one.
inline std::uint64_t line_ends_of(std::uint64_t breaks, std::uint64_t cr, bool after_cr)
{
    return breaks & ~(((cr << 1) | std::uint64_t{after_cr}) & ~cr);
}

}  // namespace track
