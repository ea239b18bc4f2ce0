#pragma once
// What every AVX-512 twin starts with: the intrinsics and the target its
// functions are built for one by one (F, BW, VL, VBMI, VNNI: the level
// kCpuAvx512 stands for), so the rest of the program keeps running on
// processors without it. Only for x86-64 builds with GCC or Clang.

#if defined(__x86_64__) && defined(__GNUC__)
// GCC's AVX-512 headers fill the unused inputs of masked builtins with
// self-initialised "undefined" vectors and then warn about them.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#define RVX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni")))
#endif
