// The window reader with AVX2 vectors: all 64 positions are classified and
// valued at once, then the values at the ends of numbers are picked out.
#include "window.h"

#include <array>
#include <bit>
#include <cstdint>

#include "chars.h"
#include "simd.h"

#if TRACK_X86_KERNELS

#include <immintrin.h>

// Only what follows may use AVX2; it runs where have_avx2_region() passed.
TRACK_AVX2_BEGIN

#include "window_loop.h"

namespace track {

namespace {

inline __m256i load(const unsigned char *at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
}

std::uint32_t bits(__m256i v)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// Bytes at most `top` after subtracting `from`: those in from..from+top.
__m256i in_range(__m256i bytes, char from, char top, __m256i &offset)
{
    offset = _mm256_sub_epi8(bytes, _mm256_set1_epi8(from));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(top)), offset);
}

// Per byte, all ones where it holds: vectors, so that what is seldom there
// (a carriage return, a byte out of the form) costs a test of the whole
// window rather than a mask of it.
struct half_masks {
    __m256i space, line_end, cr, known;  // known: digits and white space
};

[[gnu::always_inline]] inline half_masks read_masks(const unsigned char *p)
{
    const __m256i here = load(p);
    __m256i offset;
    const __m256i is_digit = in_range(here, '0', 9, offset);
    // White space is the one character of its low four bits in this table:
    // a blank, or tab to carriage return (a byte past 0x7f looks up 0).
    const __m256i white = _mm256_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', '\v', '\f', '\r', 0, 0, ' ', 0, 0,
                                           0, 0, 0, 0, 0, 0, '\t', '\n', '\v', '\f', '\r', 0, 0);
    const __m256i space = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(white, here), here);
    const __m256i cr = _mm256_cmpeq_epi8(here, _mm256_set1_epi8('\r'));
    const __m256i line_end = _mm256_or_si256(_mm256_cmpeq_epi8(here, _mm256_set1_epi8('\n')), cr);
    return {space, line_end, cr, _mm256_or_si256(is_digit, space)};
}

// Sets value to the value of a number ending at each of the 32 bytes at p,
// with the digits one and two bytes before as its tens and hundreds; only
// the values at the ends of numbers count. Returns where that value is
// within 0..255 (all ones), so that the caller tests it at the ends alone.
[[gnu::always_inline]] inline __m256i read_values(const unsigned char *p, __m256i &value)
{
    // White space, below '0', comes out of the subtraction with its high bit
    // set, which makes a table look-up give 0; so do the hundreds where the
    // tens are white space. (A byte out of the form gives anything, but the
    // window stops before it.)
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i units = _mm256_sub_epi8(load(p), zero);
    const __m256i tens = _mm256_sub_epi8(load(p - 1), zero);
    const __m256i hundreds =
        _mm256_or_si256(_mm256_sub_epi8(load(p - 2), zero), _mm256_and_si256(tens, _mm256_set1_epi8(-128)));
    const __m256i times10 = _mm256_setr_epi8(0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0, 0, 10, 20, 30, 40,
                                             50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0);
    const __m256i times100 = _mm256_setr_epi8(0, 100, static_cast<char>(200), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              100, static_cast<char>(200), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i h = _mm256_shuffle_epi8(times100, hundreds);
    value = _mm256_add_epi8(_mm256_add_epi8(units, _mm256_shuffle_epi8(times10, tens)), h);
    // Within 0..255: a hundreds digit of at most 2 (white space compares as
    // negative), and a sum that did not wrap around.
    return _mm256_andnot_si256(_mm256_cmpgt_epi8(hundreds, _mm256_set1_epi8(2)),
                               _mm256_cmpeq_epi8(_mm256_max_epu8(value, h), value));
}

// For each set of number ends among eight bytes, the shuffle that gathers
// their values to the front, for the low and the high half of 16 bytes.
// What it puts past them is stored too, and then overwritten by the next
// values or left in the room past the last.
constexpr auto gathers = [] {
    std::array<std::array<std::uint64_t, 256>, 2> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        for (unsigned half = 0; half < 2; ++half) {
            std::uint64_t order = 0;
            int count = 0;
            for (unsigned bit = 0; bit < 8; ++bit) {
                if ((mask >> bit & 1) != 0)
                    order |= std::uint64_t{bit + 8 * half} << (8 * count++);
            }
            table[half][mask] = order;
        }
    }
    return table;
}();

std::uint64_t join(std::uint32_t low, std::uint32_t high)
{
    return low | (std::uint64_t{high} << 32);
}

struct avx2_window {
    std::uint64_t digit_before = 0;  // none before a run

    [[gnu::always_inline]] window_masks classify(const unsigned char *p)
    {
        const half_masks a = read_masks(p);
        const half_masks b = read_masks(p + 32);
        auto mask = [](__m256i low, __m256i high) { return join(bits(low), bits(high)); };
        const __m256i any_cr = _mm256_or_si256(a.cr, b.cr);
        const std::uint64_t cr = _mm256_testz_si256(any_cr, any_cr) ? 0 : mask(a.cr, b.cr);
        const std::uint64_t other =
            _mm256_testc_si256(_mm256_and_si256(a.known, b.known), _mm256_set1_epi8(-1)) ? 0 : ~mask(a.known, b.known);
        const std::uint64_t space = mask(a.space, b.space);
        return {space, mask(a.line_end, b.line_end), cr, other, four_in_a_row(~space, digit_before)};
    }

    // A fixed number of steps: no branch to mispredict.
    [[gnu::always_inline]] int store(const unsigned char *p, std::uint64_t ends, unsigned char *out)
    {
        __m256i low_v, high_v;
        const __m256i fits_low = read_values(p, low_v);
        const __m256i fits_high = read_values(p + 32, high_v);
        if ((~join(bits(fits_low), bits(fits_high)) & ends) != 0)
            return -1;
        // Sixteen bytes at a time: one shuffle gathers the values of each
        // eight to the front of its half, and the halves are stored one
        // after the other (a count of set bits being how many each holds).
        std::size_t n = 0;
        auto sixteen = [&](__m128i v, std::uint64_t e) {
            const unsigned low = e & 0xff, high = e >> 8 & 0xff;
            const __m128i order =
                _mm_set_epi64x(static_cast<long long>(gathers[1][high]), static_cast<long long>(gathers[0][low]));
            const __m128i picked = _mm_shuffle_epi8(v, order);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + n), picked);
            n += static_cast<unsigned>(std::popcount(low));
            // (Not _mm_storeh_pd: GCC's stores through a double *, which
            // would have to be aligned.)
            _mm_storeh_pi(reinterpret_cast<__m64 *>(out + n), _mm_castsi128_ps(picked));
            n += static_cast<unsigned>(std::popcount(high));
        };
        sixteen(_mm256_castsi256_si128(low_v), ends);
        sixteen(_mm256_extracti128_si256(low_v, 1), ends >> 16);
        sixteen(_mm256_castsi256_si128(high_v), ends >> 32);
        sixteen(_mm256_extracti128_si256(high_v, 1), ends >> 48);
        return static_cast<int>(n);
    }

    static unsigned bits_set(std::uint64_t x) { return static_cast<unsigned>(std::popcount(x)); }
};

}  // namespace

window_run read_windows_avx2(const unsigned char *p, const unsigned char *end, unsigned char *out, text_lines &lines)
{
    return run_windows<avx2_window>(p, end, out, lines);
}

}  // namespace track

TRACK_SIMD_END

#endif
