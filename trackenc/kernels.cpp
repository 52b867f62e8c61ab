// The window readers of the build, fastest first, each beside the check of
// the processor features its code is compiled for.
#include "kernel.h"
#include "simd.h"
#include "window.h"

namespace track {

namespace {

constexpr kernel<window_reader> list[] = {
#if TRACK_X86_KERNELS
    {"avx512", have_avx512_region, read_windows_avx512},
    {"avx2", have_avx2_region, read_windows_avx2},
#endif
    {"portable", runs_everywhere, read_windows_portable},
};

}  // namespace

std::span<const kernel<window_reader>> window_kernels()
{
    return list;
}

}  // namespace track
