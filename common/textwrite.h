// Writing the track file: each record as one line of the record pattern.
#pragma once

#include <cstddef>

#include "trame.h"

namespace track {

// The longest line: sixteen three-digit numbers, each with its separator.
inline constexpr std::size_t max_line_length = std::size_t{field_count} * 4;
// Formatters may write this many bytes past the end of their text.
inline constexpr std::size_t format_slack = 16;

// Writes `count` binary records of 16 bytes as lines at out, each exactly as
// record_pattern prints it. Out needs room for count * max_line_length +
// format_slack bytes. Returns the length of the text.
using record_formatter = std::size_t (*)(const unsigned char *bytes, std::size_t count, char *out);

// Two implementations with the same results: a portable one, and one with
// AVX2 vectors for processors that have it.
std::size_t format_records_portable(const unsigned char *bytes, std::size_t count, char *out);
std::size_t format_records_avx2(const unsigned char *bytes, std::size_t count, char *out);

// format_records_avx2 where the processor has AVX2, the portable one elsewhere.
record_formatter best_record_formatter();

}  // namespace track
