#include "textwrite.h"

#include <array>
#include <cstring>

namespace track {

namespace {

// A value's decimal digits followed by a blank, padded to four bytes.
struct decimal {
    char text[4];
    unsigned char length;  // digits and blank
};

// A field has only 256 values, so its text is a table entry: formatting is a
// four-byte copy, with no division and no branch on the number of digits.
constexpr std::array<decimal, max_value + 1> decimals = [] {
    std::array<decimal, max_value + 1> table{};
    for (int v = 0; v <= max_value; ++v) {
        decimal &d = table[static_cast<std::size_t>(v)];
        int n = 0;
        if (v >= 100)
            d.text[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10)
            d.text[n++] = static_cast<char>('0' + v / 10 % 10);
        d.text[n++] = static_cast<char>('0' + v % 10);
        d.text[n++] = ' ';
        d.length = static_cast<unsigned char>(n);
    }
    return table;
}();

std::size_t format_one(const trame &t, char *out)
{
    char *at = out;
    for (int k = 0; k < field_count; ++k) {
        // Fields hold 0..255; the cast keeps any other value inside the table.
        const decimal &d = decimals[static_cast<unsigned char>(t.*fields[k])];
        std::memcpy(at, d.text, sizeof d.text);
        at += d.length;
    }
    at[-1] = '\n';  // the last number ends the line
    return static_cast<std::size_t>(at - out);
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
