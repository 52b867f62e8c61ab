// The record formatter with AVX2 vectors: two records at a time, each field's
// three digits computed at once, then each group of four numbers squeezed
// into its text by one shuffle.
#include "format.h"

#include <array>
#include <cstdint>

#include "simd.h"

#if TRACK_X86_KERNELS

#include <immintrin.h>

// Only what follows may use AVX2; it runs where have_avx2_region() passed.
TRACK_AVX2_BEGIN

namespace track {

namespace {

// Four numbers laid out as hundreds, tens, units and separator each: for the
// numbers that have two or three digits, which bytes make their text.
struct squeeze {
    alignas(16) unsigned char order[16];
    int length;
};

// Indexed by four bits "at least 10" and, above them, four bits "at least 100".
constexpr std::array<squeeze, 256> squeezes = [] {
    std::array<squeeze, 256> table{};
    for (unsigned index = 0; index < 256; ++index) {
        squeeze &s = table[index];
        int n = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned digits = 1 + (index >> k & 1) + (index >> (k + 4) & 1);
            for (unsigned at = 4 * k + 3 - digits; at < 4 * k + 4; ++at)
                s.order[n++] = static_cast<unsigned char>(at);
        }
        s.length = n;
        for (int i = n; i < 16; ++i)
            s.order[i] = 0x80;  // a zero byte, overwritten by the next group
    }
    return table;
}();

// The decimal digits of 16-bit lanes of 0..255. Division is slow: v / 100 is
// the high half of v * 656, and r / 10 that of r * 6554, for these ranges.
void split(__m256i v, __m256i &hundreds, __m256i &tens, __m256i &units)
{
    hundreds = _mm256_mulhi_epu16(v, _mm256_set1_epi16(656));
    const __m256i rest = _mm256_sub_epi16(v, _mm256_mullo_epi16(hundreds, _mm256_set1_epi16(100)));
    tens = _mm256_mulhi_epu16(rest, _mm256_set1_epi16(6554));
    units = _mm256_sub_epi16(rest, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
}

// One bit per byte of b: whether it is at least v.
std::uint32_t at_least(__m256i b, char v)
{
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(b, _mm256_set1_epi8(v)), b)));
}

char *put_group(char *out, __m128i group, unsigned index)
{
    const squeeze &s = squeezes[index];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                     _mm_shuffle_epi8(group, _mm_load_si128(reinterpret_cast<const __m128i *>(s.order))));
    return out + s.length;
}

}  // namespace

std::size_t format_records_avx2(const unsigned char *bytes, std::size_t count, char *out)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i digit0 = _mm256_set1_epi8('0');
    // Each 128-bit lane holds one record: its separators end with a line feed.
    const __m256i separators =
        _mm256_setr_epi8(' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n', ' ', ' ', ' ',
                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n');
    char *at = out;
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + i * record_size));
        __m256i h0, t0, u0, h1, t1, u1;
        split(_mm256_unpacklo_epi8(b, zero), h0, t0, u0);
        split(_mm256_unpackhi_epi8(b, zero), h1, t1, u1);
        const __m256i h = _mm256_add_epi8(_mm256_packus_epi16(h0, h1), digit0);
        const __m256i t = _mm256_add_epi8(_mm256_packus_epi16(t0, t1), digit0);
        const __m256i u = _mm256_add_epi8(_mm256_packus_epi16(u0, u1), digit0);
        const std::uint32_t ten = at_least(b, 10);
        const std::uint32_t hundred = at_least(b, 100);

        // Per lane: hundreds, tens, units, separator for numbers 0-3, 4-7, 8-11, 12-15.
        const __m256i ht_low = _mm256_unpacklo_epi8(h, t);
        const __m256i ht_high = _mm256_unpackhi_epi8(h, t);
        const __m256i us_low = _mm256_unpacklo_epi8(u, separators);
        const __m256i us_high = _mm256_unpackhi_epi8(u, separators);
        const __m256i groups[4] = {_mm256_unpacklo_epi16(ht_low, us_low), _mm256_unpackhi_epi16(ht_low, us_low),
                                   _mm256_unpacklo_epi16(ht_high, us_high), _mm256_unpackhi_epi16(ht_high, us_high)};
        for (unsigned g = 0; g < 4; ++g)
            at = put_group(at, _mm256_castsi256_si128(groups[g]),
                           (ten >> (4 * g) & 15) | (hundred >> (4 * g) & 15) << 4);
        for (unsigned g = 0; g < 4; ++g)
            at = put_group(at, _mm256_extracti128_si256(groups[g], 1),
                           (ten >> (16 + 4 * g) & 15) | (hundred >> (16 + 4 * g) & 15) << 4);
    }
    return format_rest(bytes, i, count, out, at);
}

}  // namespace track

TRACK_SIMD_END

#endif
