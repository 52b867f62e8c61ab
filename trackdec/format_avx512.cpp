// The record formatter with AVX-512: four records at a time, each field's
// three digits computed at once, then each record's sixty-four candidate
// characters compressed to its line by one instruction.
#include "format.h"

#include <cstdint>

#include "simd.h"

#if TRACK_X86_KERNELS

#include <immintrin.h>

TRACK_AVX512_BEGIN

namespace track {

namespace {

// The decimal digits of 16-bit lanes of 0..255. Division is slow: v / 100 is
// the high half of v * 656, and r / 10 that of r * 6554, for these ranges.
void split(__m512i v, __m512i &hundreds, __m512i &tens, __m512i &units)
{
    hundreds = _mm512_mulhi_epu16(v, _mm512_set1_epi16(656));
    const __m512i rest = _mm512_sub_epi16(v, _mm512_mullo_epi16(hundreds, _mm512_set1_epi16(100)));
    tens = _mm512_mulhi_epu16(rest, _mm512_set1_epi16(6554));
    units = _mm512_sub_epi16(rest, _mm512_mullo_epi16(tens, _mm512_set1_epi16(10)));
}

}  // namespace

std::size_t format_records_avx512(const unsigned char *bytes, std::size_t count, char *out)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i digit0 = _mm512_set1_epi8('0');
    // Each 128-bit lane holds one record: its separators end with a line feed.
    const __m512i separators = _mm512_broadcast_i32x4(
        _mm_setr_epi8(' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n'));
    // A number's four characters are hundreds, tens, units and separator: the
    // units and the separator are always kept.
    constexpr std::uint64_t hundreds_bits = 0x1111111111111111u;
    constexpr std::uint64_t tens_bits = 0x2222222222222222u;
    constexpr std::uint64_t kept_bits = 0xccccccccccccccccu;
    char *at = out;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m512i b = _mm512_loadu_si512(bytes + i * record_size);
        __m512i h0, t0, u0, h1, t1, u1;
        split(_mm512_unpacklo_epi8(b, zero), h0, t0, u0);
        split(_mm512_unpackhi_epi8(b, zero), h1, t1, u1);
        const __m512i h = _mm512_add_epi8(_mm512_packus_epi16(h0, h1), digit0);
        const __m512i t = _mm512_add_epi8(_mm512_packus_epi16(t0, t1), digit0);
        const __m512i u = _mm512_add_epi8(_mm512_packus_epi16(u0, u1), digit0);
        const std::uint64_t ten = _mm512_cmpge_epu8_mask(b, _mm512_set1_epi8(10));
        const std::uint64_t hundred = _mm512_cmpge_epu8_mask(b, _mm512_set1_epi8(100));

        // Per lane (record): the four characters of numbers 0-3, 4-7, 8-11, 12-15.
        const __m512i ht_low = _mm512_unpacklo_epi8(h, t);
        const __m512i ht_high = _mm512_unpackhi_epi8(h, t);
        const __m512i us_low = _mm512_unpacklo_epi8(u, separators);
        const __m512i us_high = _mm512_unpackhi_epi8(u, separators);
        const __m512i g0 = _mm512_unpacklo_epi16(ht_low, us_low);
        const __m512i g1 = _mm512_unpackhi_epi16(ht_low, us_low);
        const __m512i g2 = _mm512_unpacklo_epi16(ht_high, us_high);
        const __m512i g3 = _mm512_unpackhi_epi16(ht_high, us_high);
        // Transpose the 4x4 lanes, so that each vector holds one record's 64 characters.
        const __m512i a01 = _mm512_shuffle_i64x2(g0, g1, 0x44);  // g0.0 g0.1 g1.0 g1.1
        const __m512i a23 = _mm512_shuffle_i64x2(g2, g3, 0x44);  // g2.0 g2.1 g3.0 g3.1
        const __m512i b01 = _mm512_shuffle_i64x2(g0, g1, 0xee);  // g0.2 g0.3 g1.2 g1.3
        const __m512i b23 = _mm512_shuffle_i64x2(g2, g3, 0xee);  // g2.2 g2.3 g3.2 g3.3
        const __m512i records[4] = {_mm512_shuffle_i64x2(a01, a23, 0x88), _mm512_shuffle_i64x2(a01, a23, 0xdd),
                                    _mm512_shuffle_i64x2(b01, b23, 0x88), _mm512_shuffle_i64x2(b01, b23, 0xdd)};
        for (unsigned r = 0; r < 4; ++r) {
            const std::uint64_t keep =
                _pdep_u64(hundred >> (16 * r), hundreds_bits) | _pdep_u64(ten >> (16 * r), tens_bits) | kept_bits;
            _mm512_storeu_si512(at, _mm512_maskz_compress_epi8(keep, records[r]));
            at += _mm_popcnt_u64(keep);
        }
    }
    return format_rest(bytes, i, count, out, at);
}

}  // namespace track

TRACK_SIMD_END

#endif
