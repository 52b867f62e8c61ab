#include "window.h"

#include <array>
#include <bit>
#include <cstring>

#include "bits.h"
#include "chars.h"
#include "window_loop.h"

namespace track {

namespace {

constexpr std::uint64_t ones = 0x0101010101010101u;
constexpr std::uint64_t high = 0x8080808080808080u;

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

// What both of a window's passes test in each byte of a word, each at the
// byte's high bit. A byte's high bit of lo + (0x80 - c) is set unless its
// low seven bits are below c, and of (lo ^ c) + 0x7f unless they are c.
struct word_tests {
    std::uint64_t lo;          // the low seven bits of each byte
    std::uint64_t at_least_0;  // clear where below '0': white space, in the form
    std::uint64_t not_blank;   // clear where a blank
    std::uint64_t past_9;      // set where past '9', or past 0x7f and so out of the form
};

word_tests test_word(const unsigned char *p)
{
    const std::uint64_t w = load_little_endian(p);
    const std::uint64_t lo = w & ~high;
    return {lo, lo + ones * (0x80 - '0'), (lo ^ ones * ' ') + ~high, w | (lo + ones * (0x80 - '9' - 1))};
}

// Bit 8r+c of x becomes bit 8c+r: an 8-by-8 transposition of bits.
std::uint64_t transpose(std::uint64_t x)
{
    std::uint64_t t = (x ^ (x >> 7)) & 0x00aa00aa00aa00aau;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000cccc0000ccccu;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000f0f0f0f0u;
    x ^= t ^ (t << 28);
    return x;
}

// The two bytes before a number's last digit, as one native 16-bit load with
// the low five bits of each kept: a digit is then 16 + its value, white space
// is below 16. The table gives what they add to the last digit's character:
// 100 and 10 times their values where they are digits of the number, less
// '0'. One load in place of masks and multiplications; only the few entries
// that text can reach are ever touched.
constexpr auto leading_digits = [] {
    std::array<std::int16_t, 0x1f1f + 1> table{};
    for (int h = 0; h < 32; ++h) {
        for (int t = 0; t < 32; ++t) {
            const bool t_digit = t >= 16 && t < 26;
            const bool h_digit = t_digit && h >= 16 && h < 26;
            const int at = std::endian::native == std::endian::little ? h + 256 * t : 256 * h + t;
            table[static_cast<std::size_t>(at)] =
                static_cast<std::int16_t>((h_digit ? 100 * (h - 16) : 0) + (t_digit ? 10 * (t - 16) : 0) - '0');
        }
    }
    return table;
}();

// The portable kernel: eight bytes at a time in a 64-bit word.
struct portable_window {
    std::uint64_t digit_before = 0;  // none before a run

    // One flag per byte, at the high bit of each byte of a word. Word i
    // shifted right by 7 - i puts the flag of its byte k at bit 8k+i, so that
    // one transposition at the end lays out all 64 in order (test_word).
    window_masks classify(const unsigned char *p)
    {
        // Most text has only blanks and line feeds between its numbers: its
        // windows need the white space and the line feeds alone. A window
        // with any other byte (a tab, a carriage return, a byte out of the
        // form) is looked at again by with_the_rest.
        std::uint64_t space = 0;
        std::uint64_t lf = 0;
        std::uint64_t unusual = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const word_tests t = test_word(p + 8 * i);
            const std::uint64_t not_lf = (t.lo ^ ones * '\n') + ~high;
            unusual |= t.past_9 | (t.not_blank & not_lf & ~t.at_least_0);
            space |= (~t.at_least_0 & high) >> (7 - i);
            lf |= (~not_lf & high) >> (7 - i);
        }
        space = transpose(space);
        const window_masks m{space, transpose(lf), 0, 0, four_in_a_row(~space, digit_before)};
        return (unusual & high) == 0 ? m : with_the_rest(p, m);
    }

    // The carriage returns of a window, which end lines too, and where its
    // bytes out of the form begin; both are rare, and only noted on the way.
    static window_masks with_the_rest(const unsigned char *p, window_masks m)
    {
        std::uint64_t cr = 0;
        std::uint64_t out_of_form = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const word_tests t = test_word(p + 8 * i);
            const std::uint64_t control = (t.lo + ones * (0x80 - '\t')) & ~(t.lo + ones * (0x80 - '\r' - 1));
            out_of_form |= t.past_9 | (t.not_blank & ~control & ~t.at_least_0);
            cr |= (~((t.lo ^ ones * '\r') + ~high) & high) >> (7 - i);
        }
        if (cr != 0) {
            m.cr = transpose(cr);
            m.line_end |= m.cr;
        }
        if ((out_of_form & high) != 0)
            m.other = first_out_of_form(p);
        return m;
    }

    // The first byte out of the form, as a mask (0 for none).
    static std::uint64_t first_out_of_form(const unsigned char *p)
    {
        int i = 0;
        while (i < window_size && (is_digit(p[i]) || is_space(p[i])))
            ++i;
        return i < window_size ? std::uint64_t{1} << i : 0;
    }

    static int store(const unsigned char *p, std::uint64_t ends, unsigned char *out)
    {
        unsigned any = 0;
        unsigned char *o = out;
        for (; ends != 0; ends &= ends - 1) {
            const unsigned char *last = p + std::countr_zero(ends);
            std::uint16_t two;
            std::memcpy(&two, last - 2, sizeof two);
            const auto value = static_cast<unsigned>(leading_digits[two & 0x1f1f] + *last);
            any |= value;  // past 255 once any value is
            *o++ = static_cast<unsigned char>(value);
        }
        return any > 255 ? -1 : static_cast<int>(o - out);
    }

    static unsigned bits_set(std::uint64_t x) { return count_bits(x); }
};

}  // namespace

window_run read_windows_portable(const unsigned char *p, const unsigned char *end, unsigned char *out,
                                 text_lines &lines)
{
    return run_windows<portable_window>(p, end, out, lines);
}

}  // namespace track
