// Marks a stretch of a source file as compiled for AVX2, for the functions
// that run only where the processor was found to have it. Everything before
// TRACK_AVX2_BEGIN, headers included, stays portable.
#pragma once

#if defined(__clang__)
#define TRACK_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TRACK_AVX2_END _Pragma("clang attribute pop")
#else
#define TRACK_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TRACK_AVX2_END _Pragma("GCC pop_options")
#endif
