// Writing the track file: each record as one line of the record pattern.
#pragma once

#include <cstddef>
#include <span>

#include "kernel.h"
#include "trame.h"

namespace track {

// The longest line: sixteen three-digit numbers, each with its separator.
inline constexpr std::size_t max_line_length = std::size_t{field_count} * 4;
// Formatters may write this many bytes past the end of their text.
inline constexpr std::size_t format_slack = 64;

// Writes `count` binary records of 16 bytes as lines at out, each exactly as
// record_pattern prints it. Out needs room for count * max_line_length +
// format_slack bytes. Returns the length of the text.
using record_formatter = std::size_t (*)(const unsigned char *bytes, std::size_t count, char *out);

// Implementations with the same results: a portable one, and two for x86-64
// processors with vector extensions (AVX2; AVX-512 with VBMI2).
std::size_t format_records_portable(const unsigned char *bytes, std::size_t count, char *out);
std::size_t format_records_avx2(const unsigned char *bytes, std::size_t count, char *out);
std::size_t format_records_avx512(const unsigned char *bytes, std::size_t count, char *out);

// The vector kernels' tail: the records from `done` on, fewer than they take
// at a time, the portable way; returns the length of all the text.
inline std::size_t format_rest(const unsigned char *bytes, std::size_t done, std::size_t count, const char *out,
                               char *at)
{
    if (done < count)
        at += format_records_portable(bytes + done * record_size, count - done, at);
    return static_cast<std::size_t>(at - out);
}

// The formatters of this build, fastest first (kernel.h).
std::span<const kernel<record_formatter>> format_kernels();

}  // namespace track
