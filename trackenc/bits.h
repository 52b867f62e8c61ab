// Counting the bits of a word without a popcount instruction, which the
// compiler would otherwise turn into a call.
#pragma once

#include <cstdint>

namespace track {

inline unsigned count_bits(std::uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return static_cast<unsigned>((x * 0x0101010101010101u) >> 56);
}

}  // namespace track
