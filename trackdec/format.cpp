#include "format.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace track {

namespace {

// A field has only 256 values, so its text is a table entry: formatting is a
// four-byte copy, with no division and no branch on the number of digits.
// Each entry holds the digits and a blank in its low four bytes, in text
// order whatever the processor's byte order, and their count above them.
constexpr std::array<std::uint64_t, max_value + 1> decimals = [] {
    std::array<std::uint64_t, max_value + 1> table{};
    for (int v = 0; v <= max_value; ++v) {
        char text[4] = {};
        int n = 0;
        if (v >= 100)
            text[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10)
            text[n++] = static_cast<char>('0' + v / 10 % 10);
        text[n++] = static_cast<char>('0' + v % 10);
        text[n++] = ' ';
        std::uint32_t word = 0;
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]));
            word |= std::endian::native == std::endian::little ? byte << (8 * i) : byte << (24 - 8 * i);
        }
        table[static_cast<std::size_t>(v)] = word | std::uint64_t(n) << 32;
    }
    return table;
}();

std::size_t format_one(const trame &t, char *out)
{
    // Positions count from the line's start, so that the next line's work
    // need not wait for this one's length.
    std::size_t at = 0;
    for (int k = 0; k < field_count; ++k) {
        // Fields hold 0..255; the cast keeps any other value inside the table.
        const std::uint64_t d = decimals[static_cast<unsigned char>(t.*fields[k])];
        const auto text = static_cast<std::uint32_t>(d);
        std::memcpy(out + at, &text, sizeof text);
        at += static_cast<std::size_t>(d >> 32);
    }
    out[at - 1] = '\n';  // the last number ends the line
    return at;
}

}  // namespace

std::size_t format_records_portable(const unsigned char *bytes, std::size_t count, char *out)
{
    char *at = out;
    for (std::size_t i = 0; i < count; ++i)
        at += format_one(record_from_bytes(bytes + i * record_size), at);
    return static_cast<std::size_t>(at - out);
}

}  // namespace track
