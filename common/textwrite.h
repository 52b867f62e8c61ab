// Writing the track file: each record as one line of the record pattern.
#pragma once

#include <cstddef>

#include "trame.h"

namespace track {

// The longest line: sixteen three-digit numbers, each with its separator.
inline constexpr std::size_t max_line_length = field_count * 4;

// Writes the record as one line, exactly as record_pattern prints it, at out
// (room for max_line_length bytes). Returns the length of the line.
std::size_t format_record(const trame &t, char *out);

// Writes `count` binary records of 16 bytes as lines at out (room for
// count * max_line_length bytes). Returns the length of the text.
std::size_t format_records(const unsigned char *bytes, std::size_t count, char *out);

}  // namespace track
