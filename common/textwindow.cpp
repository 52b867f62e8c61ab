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

// Eight or four bytes as a number whose byte k is bits 8k..8k+7, whatever
// the processor's byte order.
template <typename Word>
Word load_little_endian(const unsigned char *p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big) {
        if constexpr (sizeof w == 8)
            w = __builtin_bswap64(w);
        else
            w = __builtin_bswap32(w);
    }
    return w;
}

// For the two bytes before a number's last digit (bit 0: two before, bit 1:
// one before, set when that byte is a digit of the number): which of the
// four bytes loaded from two before the last digit hold its digits, as
// the low halves that are their values.
constexpr std::uint32_t digits_kept[4] = {0x0f0000, 0x0f0000, 0x0f0f00, 0x0f0f0f};

window_result read_window(const unsigned char *p, unsigned char *out)
{
    // One bit per byte: separators and line feeds, and the bytes before the
    // first that is neither a digit nor a separator.
    std::uint64_t sep = 0;
    std::uint64_t newline = 0;
    std::uint64_t before = ~std::uint64_t{0};
    for (std::size_t i = 0; i < 8; ++i) {
        const auto w = load_little_endian<std::uint64_t>(p + 8 * i);
        const std::uint64_t nl = bytes_equal(w, '\n');
        const std::uint64_t s = bytes_equal(w, ' ') | nl;
        const std::uint64_t other = high & ~(s | bytes_digit(w));
        sep |= gather_high_bits(s) << (8 * i);
        newline |= gather_high_bits(nl) << (8 * i);
        if (other != 0) {  // seldom: the rest of the window is out of the form
            before = (std::uint64_t{1} << (8 * i + static_cast<std::size_t>(std::countr_zero(other)) / 8)) - 1;
            break;
        }
    }
    // Where the form breaks: the second of two separators, the fourth digit
    // in a row (every byte before `before` is a digit or a separator).
    const std::uint64_t digit = ~sep & before;
    const std::uint64_t broken = ~before | (sep & (sep << 1)) | (digit & (digit << 1) & (digit << 2) & (digit << 3));
    const std::uint64_t kept = broken == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << std::countr_zero(broken)) - 1;
    const std::uint64_t separators = sep & kept;
    if ((sep & 1) != 0 || separators == 0)
        return {};
    // Bit e+2 of d2 tells whether byte e is a digit; the two bytes before p
    // count as none.
    const std::uint64_t d2 = digit << 2;
    unsigned any = 0;
    int n = 0;
    for (std::uint64_t ends = separators >> 1; ends != 0; ends &= ends - 1) {
        const int e = std::countr_zero(ends);
        const std::uint32_t x = load_little_endian<std::uint32_t>(p + e - 2) & digits_kept[(d2 >> e) & 3];
        const unsigned value = (x & 0xff) * 100 + (x >> 8 & 0xff) * 10 + (x >> 16);
        any |= value;  // past 255 once any value is
        out[n++] = static_cast<unsigned char>(value);
    }
    if (any > 255)
        return {};
    return {64 - std::countl_zero(separators), n, newline & separators};
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
