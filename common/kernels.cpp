// Every kernel of the build, in one place: fastest first, each beside the
// check of the processor features its code is compiled for.
#include "kernel.h"
#include "simd.h"
#include "textwindow.h"
#include "textwrite.h"

namespace track {

namespace {

bool everywhere()
{
    return true;
}

constexpr kernel<window_reader> window_list[] = {
#if TRACK_X86_KERNELS
    {"avx512", have_avx512_region, read_windows_avx512},
    {"avx2", have_avx2_region, read_windows_avx2},
#endif
    {"portable", everywhere, read_windows_portable},
};

constexpr kernel<record_formatter> format_list[] = {
#if TRACK_X86_KERNELS
    {"avx512", have_avx512_region, format_records_avx512},
    {"avx2", have_avx2_region, format_records_avx2},
#endif
    {"portable", everywhere, format_records_portable},
};

}  // namespace

std::span<const kernel<window_reader>> window_kernels()
{
    return window_list;
}

std::span<const kernel<record_formatter>> format_kernels()
{
    return format_list;
}

}  // namespace track
