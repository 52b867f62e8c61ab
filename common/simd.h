// Marks a stretch of a source file as compiled for a vector extension, for
// the functions that run only where the processor was found to have it.
// Everything before the BEGIN, headers included, stays portable.
#pragma once

// clang-format off
#if defined(__clang__)
#define TRACK_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TRACK_AVX512_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt\"))), apply_to = function)")
#define TRACK_SIMD_END _Pragma("clang attribute pop")
#else
#define TRACK_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TRACK_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt\")")
#define TRACK_SIMD_END _Pragma("GCC pop_options")
#endif
// clang-format on
