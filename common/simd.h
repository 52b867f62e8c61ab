// The processor-specific regions of the kernels. Each region is a target
// string and, right beside it, the run-time check of exactly the features
// that string enables: a kernel compiled in a region runs only where its
// check passed. Only x86-64 has such regions; every other processor, and a
// build with TRACK_SIMD=OFF, compiles the portable kernels alone.
#pragma once

#if defined(__x86_64__) && !defined(TRACK_PORTABLE_ONLY)
#define TRACK_X86_KERNELS 1
#else
#define TRACK_X86_KERNELS 0
#endif

#if TRACK_X86_KERNELS

namespace track {

// "avx2,bmi,bmi2,popcnt"
inline bool have_avx2_region()
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

// "avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt"
inline bool have_avx512_region()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

}  // namespace track

// Everything between a BEGIN and the END is compiled for that region;
// everything before the BEGIN, headers included, stays portable.
// clang-format off
// GCC 12's AVX-512 headers start some results from a deliberately undefined
// vector, which its own warnings then report: from an AVX-512 BEGIN to the
// end of its file, those warnings are off.
#if defined(__clang__)
#define TRACK_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,popcnt\"))), apply_to = function)")
#define TRACK_AVX512_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt\"))), apply_to = function)")
#define TRACK_SIMD_END _Pragma("clang attribute pop")
#else
#define TRACK_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,bmi2,popcnt\")")
#define TRACK_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt\")") \
    _Pragma("GCC diagnostic ignored \"-Wuninitialized\"") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define TRACK_SIMD_END _Pragma("GCC pop_options")
#endif
// clang-format on

#endif
