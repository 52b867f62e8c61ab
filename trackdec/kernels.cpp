// The record formatters of the build, fastest first, each beside the check
// of the processor features its code is compiled for.
#include "format.h"
#include "kernel.h"
#include "simd.h"

namespace track {

namespace {

constexpr kernel<record_formatter> list[] = {
#if TRACK_X86_KERNELS
    {"avx512", have_avx512_region, format_records_avx512},
    {"avx2", have_avx2_region, format_records_avx2},
#endif
    {"portable", runs_everywhere, format_records_portable},
};

}  // namespace

std::span<const kernel<record_formatter>> format_kernels()
{
    return list;
}

}  // namespace track
