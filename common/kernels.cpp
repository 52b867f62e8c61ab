#include "kernels.h"

#include "simd.h"

namespace track {

namespace {

bool everywhere()
{
    return true;
}

constexpr window_kernel window_list[] = {
#if TRACK_X86_KERNELS
    {"avx2", have_avx2_region, read_windows_avx2},
#endif
    {"portable", everywhere, read_windows_portable},
};

constexpr format_kernel format_list[] = {
#if TRACK_X86_KERNELS
    {"avx512", have_avx512_region, format_records_avx512},
    {"avx2", have_avx2_region, format_records_avx2},
#endif
    {"portable", everywhere, format_records_portable},
};

}  // namespace

std::span<const window_kernel> window_kernels()
{
    return window_list;
}

std::span<const format_kernel> format_kernels()
{
    return format_list;
}

}  // namespace track
