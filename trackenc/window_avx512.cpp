// The window reader with AVX-512: the whole window in one register, each
// mask one compare, and the values at the ends of numbers compressed to the
// front by one instruction.
#include "window.h"

#include <bit>
#include <cstdint>

#include "chars.h"
#include "simd.h"

#if TRACK_X86_KERNELS

#include <immintrin.h>

// Only what follows may use AVX-512; it runs where have_avx512_region() passed.
TRACK_AVX512_BEGIN

#include "window_loop.h"

namespace track {

namespace {

inline __m512i load(const unsigned char *at)
{
    return _mm512_loadu_si512(at);
}

struct avx512_window {
    __m512i value;       // of a number ending at each byte of the window
    std::uint64_t over;  // where that is past 255

    // Each byte is classified with the three before it, which make its
    // value the last digit of a number: the tens and hundreds where they
    // are digits, and the digit before those, which puts a number out of
    // range unless it is a zero.
    [[gnu::always_inline]] window_masks classify(const unsigned char *p)
    {
        const __m512i here = load(p);
        const __m512i zero = _mm512_set1_epi8('0');
        const __m512i ten = _mm512_set1_epi8(10);
        const __m512i units = _mm512_sub_epi8(here, zero);
        const __m512i tens = _mm512_sub_epi8(load(p - 1), zero);
        const __m512i hundreds = _mm512_sub_epi8(load(p - 2), zero);
        const __m512i thousands = _mm512_sub_epi8(load(p - 3), zero);
        const std::uint64_t digit = _mm512_cmplt_epu8_mask(units, ten);
        const __mmask64 has_tens = _mm512_mask_cmplt_epu8_mask(digit, tens, ten);
        const __mmask64 has_hundreds = _mm512_mask_cmplt_epu8_mask(has_tens, hundreds, ten);
        const std::uint64_t four = _mm512_mask_cmplt_epu8_mask(
            has_hundreds, _mm512_sub_epi8(thousands, _mm512_set1_epi8(1)), _mm512_set1_epi8(9));

        const __m512i times10 =
            _mm512_broadcast_i32x4(_mm_setr_epi8(0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0));
        const __m512i times100 = _mm512_broadcast_i32x4(
            _mm_setr_epi8(0, 100, static_cast<char>(200), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
        const __m512i h = _mm512_maskz_shuffle_epi8(has_hundreds, times100, hundreds);
        value = _mm512_add_epi8(_mm512_add_epi8(units, _mm512_maskz_shuffle_epi8(has_tens, times10, tens)), h);
        // Past 255: a hundreds digit above 2, or a sum that wrapped around.
        over =
            _mm512_mask_cmpgt_epu8_mask(has_hundreds, hundreds, _mm512_set1_epi8(2)) | _mm512_cmplt_epu8_mask(value, h);

        // White space is the one character of its low four bits in this
        // table: a blank, or tab to carriage return (a byte past 0x7f looks
        // up 0).
        const __m512i white =
            _mm512_broadcast_i32x4(_mm_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', '\v', '\f', '\r', 0, 0));
        const std::uint64_t space = _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(white, here), here);
        const std::uint64_t cr = _mm512_cmpeq_epi8_mask(here, _mm512_set1_epi8('\r'));
        const std::uint64_t line_end = _mm512_cmpeq_epi8_mask(here, _mm512_set1_epi8('\n')) | cr;
        return {space, line_end, cr, ~(digit | space), four};
    }

    [[gnu::always_inline]] int store(const unsigned char *, std::uint64_t ends, unsigned char *out) const
    {
        if ((over & ends) != 0)
            return -1;
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(ends, value));
        return std::popcount(ends);
    }

    static unsigned bits_set(std::uint64_t x) { return static_cast<unsigned>(std::popcount(x)); }
};

}  // namespace

window_run read_windows_avx512(const unsigned char *p, const unsigned char *end, unsigned char *out, text_lines &lines)
{
    return run_windows<avx512_window>(p, end, out, lines);
}

}  // namespace track

TRACK_SIMD_END

#endif
