#include "textwindow.h"

#include <cstring>

namespace track {

namespace {

constexpr std::uint64_t ones = 0x0101010101010101u;
constexpr std::uint64_t high = 0x8080808080808080u;

// The high bits of the eight bytes of x, as eight bits.
std::uint64_t gather_high_bits(std::uint64_t x)
{
    // Moves bit 8k+7 to bit 56+k; the products never overlap.
    return ((x & high) >> 7) * 0x0102040810204080u >> 56;
}

// High bit of each byte of w that equals c.
std::uint64_t bytes_equal(std::uint64_t w, unsigned char c)
{
    std::uint64_t y = w ^ (ones * c);
    return ~(((y & ~high) + ~high) | y) & high;
}

// High bit of each byte of w that is a decimal digit.
std::uint64_t bytes_digit(std::uint64_t w)
{
    std::uint64_t x = w ^ (ones * '0');  // digits become 0..9
    return ~(((x & ~high) + ones * 0x76) | x) & high;
}

// Eight bytes as a number whose byte k is bits 8k..8k+7, whatever the
// processor's byte order.
std::uint64_t load_little_endian(const unsigned char *p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    return w;
}

window_masks classify_portable(const unsigned char *p)
{
    window_masks m{0, 0, 0};
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint64_t w = load_little_endian(p + 8 * i);
        m.digit |= gather_high_bits(bytes_digit(w)) << (8 * i);
        m.blank |= gather_high_bits(bytes_equal(w, ' ')) << (8 * i);
        m.newline |= gather_high_bits(bytes_equal(w, '\n')) << (8 * i);
    }
    return m;
}

window_result read_window(const unsigned char *p, unsigned char *out)
{
    const window_masks m = classify_portable(p);
    const window_span span = common_span(m);
    if (span.consumed == 0)
        return {};
    // Bit e+2 of d2 tells whether byte e is a digit, so that e-1 and e-2
    // need no negative shift.
    const std::uint64_t d2 = m.digit << 2;
    unsigned largest = 0;
    int n = 0;
    for (std::uint64_t ends = span.ends; ends != 0; ends &= ends - 1) {
        const int e = std::countr_zero(ends);
        const auto tens = static_cast<unsigned>(d2 >> (e + 1)) & 1;
        const auto hundreds = static_cast<unsigned>(d2 >> e) & tens;
        // Bytes e-1 and e-2 are read even when they are not digits of this
        // number (then they count for nothing); they may lie before p.
        const auto digit = [&](int at) { return static_cast<unsigned>(p[at] - '0'); };
        const unsigned value = digit(e) + tens * 10 * digit(e - 1) + hundreds * 100 * digit(e - 2);
        largest = value > largest ? value : largest;
        out[n++] = static_cast<unsigned char>(value);
    }
    if (largest > 255)
        return {};
    return {span.consumed, n, m.newline & span.separators};
}

}  // namespace

window_run read_windows_portable(const unsigned char *p, const unsigned char *end, unsigned char *out)
{
    window_run run;
    while (end - (p + run.consumed) >= window_size &&
           add_window(run, read_window(p + run.consumed, out + run.numbers))) {
    }
    return run;
}

}  // namespace track
