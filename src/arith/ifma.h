// Eight-lane Montgomery products modulo p < 2^50 on the AVX-512 52-bit
// integer multiply-add instructions (vpmadd52luq / vpmadd52huq), with
// R = 2^52, for the processors that have them.
//
// Only the functions marked BRINDLE_IFMA use these instructions; they are
// compiled for AVX-512 one by one, the rest of the program is not. Callers
// test ifma_for(p) once per call and keep their scalar code as the other path.
// use_ifma starts as the processor check; tests set it to run both paths.
// On other processors than x86-64 none of this is compiled (BRINDLE_HAVE_IFMA
// is 0): the processor check says no, and the scalar paths run.
#pragma once
#include <cstdint>

#include "arith/numtheory.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define BRINDLE_HAVE_IFMA 1
#include <immintrin.h>
#define BRINDLE_IFMA __attribute__((target("avx512f,avx512ifma,avx512vl")))
#else
#define BRINDLE_HAVE_IFMA 0
#endif

// Whether the processor (and the operating system, which must save the
// AVX-512 registers) supports the instructions used here.
inline bool cpu_has_ifma() {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512ifma");
#else
  return false;
#endif
}

inline bool use_ifma = cpu_has_ifma();

// The lanes hold p in one 52-bit limb with room for values below 2p: they
// serve the primes below this bound, the 64-bit scalar products all others.
constexpr uint64_t kIfmaPLimit = uint64_t{1} << 50;

// Whether the products modulo p take the IFMA lanes.
inline bool ifma_for(uint64_t p) { return use_ifma && p < kIfmaPLimit; }

#if BRINDLE_HAVE_IFMA

// -p^-1 mod 2^52 for odd p (the inverse modulo 2^64, negated and cut to 52
// bits).
inline uint64_t ifma_neg_pinv(uint64_t p) {
  return (0 - inverse_mod_2_64(p)) & ((uint64_t{1} << 52) - 1);
}

// The modulus in all eight lanes: p and -p^-1 mod 2^52.
struct ifma_modulus {
  __m512i p;
  __m512i npinv;
};

BRINDLE_IFMA inline ifma_modulus ifma_set_modulus(uint64_t p) {
  return ifma_modulus{_mm512_set1_epi64(static_cast<long long>(p)),
                      _mm512_set1_epi64(static_cast<long long>(ifma_neg_pinv(p)))};
}

// Montgomery product a*b/2^52 mod p in each lane, exact under these bounds:
//  - p odd, p < 2^50; a, b < 2^52 (the instructions read only the low 52 bits
//    of each factor), and a*b < p*2^52, which holds when a, b < 2p (as
//    4p^2 < p*2^52 for p < 2^50), or when one of them is below p.
// Then, with lo + 2^52*hi = a*b and m = lo*(-p^-1) mod 2^52, lo + m*p is a
// multiple of 2^52; the low halves lo and (m*p mod 2^52) are below 2^52 each,
// so their sum is 0 when lo = 0 (then m = 0) and exactly 2^52 otherwise. So
//   t = (a*b + m*p)/2^52 = hi + floor(m*p/2^52) + (lo != 0)
// is congruent to a*b*2^-52 modulo p, and t < a*b/2^52 + p < 2p < 2^51: the
// result can be fed back as a factor, and is reduced where canonical values
// are needed (ifma_reduce). The carry goes into hi while m is computed, so
// the dependent chain is three multiply-adds.
BRINDLE_IFMA inline __m512i ifma_mont_mul(__m512i a, __m512i b, const ifma_modulus& m) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lo = _mm512_madd52lo_epu64(zero, a, b);
  const __m512i hi = _mm512_madd52hi_epu64(zero, a, b);
  const __mmask8 carry = _mm512_test_epi64_mask(lo, lo);
  const __m512i hic = _mm512_mask_sub_epi64(hi, carry, hi, _mm512_set1_epi64(-1));  // + 1
  const __m512i q = _mm512_madd52lo_epu64(zero, lo, m.npinv);
  return _mm512_madd52hi_epu64(hic, q, m.p);
}

// x mod p for x < 2p: x - p wraps around to a huge value exactly when x < p.
// (The masked form with every lane selected is the plain minimum; it avoids a
// false uninitialised-value warning of some compilers' unmasked form.)
BRINDLE_IFMA inline __m512i ifma_reduce(__m512i x, const ifma_modulus& m) {
  return _mm512_maskz_min_epu64(0xFF, x, _mm512_sub_epi64(x, m.p));
}

#endif  // BRINDLE_HAVE_IFMA
