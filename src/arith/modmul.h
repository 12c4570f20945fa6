// Modular products and powers modulo the current prime p < kPLimit without
// any division. The quotient floor(a*b/p) is estimated in x87 extended
// precision (64-bit significand) from the precomputed reciprocal ps.fpinv (or
// the ratio ps.bdivp for a fixed multiplier), rounded to the nearest integer;
// the remainder lo - q*p is then formed in wrap-around 64-bit arithmetic and
// needs at most one addition of p. For a*b/p < 2^50 the estimate lies within
// about 1/8 of the true quotient, so q is floor(a*b/p) or one more and the
// result is exact in [0, p).
#pragma once
#include <cstdint>

#include "arith/prime_state.h"

// Sets the modulus context for prime p (p < kPLimit).
inline void set_modulus(uint64_t p) {
  ps.globalp = p;
  ps.fpinv = static_cast<double>(1.0L / static_cast<long double>(p));
}

// Sets ps.bdivp = b/p for the fixed multiplier b (b < p) of mul_mod_p_b.
inline void set_bdivp(uint64_t b) {
  ps.bdivp = static_cast<double>(static_cast<long double>(b) /
                                 static_cast<long double>(ps.globalp));
}

namespace detail {
// Remainder from the low product and the rounded quotient estimate.
inline uint64_t finish_mod(uint64_t lo, long double est, uint64_t p) {
  const int64_t q = __builtin_llrintl(est);  // round to nearest (x87 default)
  int64_t r = static_cast<int64_t>(lo - static_cast<uint64_t>(q) * p);
  if (r < 0) r += static_cast<int64_t>(p);
  return static_cast<uint64_t>(r);
}
}  // namespace detail

// a*b mod p. a, b < 2^63 and a*b/p < 2^50; ps.fpinv set for p = ps.globalp.
// The first operand may exceed p (the per-k products k*2^a of the per-prime test).
inline uint64_t mul_mod_p(uint64_t a, uint64_t b, uint64_t p) {
  const long double est = (static_cast<long double>(static_cast<int64_t>(a)) * ps.fpinv) *
                          static_cast<long double>(static_cast<int64_t>(b));
  return detail::finish_mod(a * b, est, p);
}

// a*b mod p for a, b < p, with ps.bdivp holding b/p for this b.
inline uint64_t mul_mod_p_b(uint64_t a, uint64_t b, uint64_t p) {
  const long double est = static_cast<long double>(static_cast<int64_t>(a)) * ps.bdivp;
  return detail::finish_mod(a * b, est, p);
}

// a^2 mod p for a < p; ps.fpinv set for p.
inline uint64_t square_mod_p(uint64_t a, uint64_t p) {
  const long double la = static_cast<long double>(static_cast<int64_t>(a));
  const long double est = la * (la * ps.fpinv);
  return detail::finish_mod(a * a, est, p);
}

// 2^e mod p for e < 2^50, by left-to-right binary powering: a set bit costs a
// doubling and one conditional subtraction. p must equal ps.globalp.
inline uint64_t pow2mod(uint64_t e, uint64_t p) {
  if (e == 0) return 1;
  int bit = 49;
  while (!((e >> bit) & 1)) --bit;
  uint64_t r = 2;
  for (--bit; bit >= 0; --bit) {
    r = square_mod_p(r, p);
    if ((e >> bit) & 1) {
      r <<= 1;
      if (r >= p) r -= p;
    }
  }
  return r;
}

// b^e mod p for b < p and any e, by right-to-left binary powering.
inline uint64_t powmod(uint64_t b, uint64_t e, uint64_t p) {
  if (e == 0) return 1;
  while (!(e & 1)) {
    e >>= 1;
    b = square_mod_p(b, p);
  }
  uint64_t result = b;
  e >>= 1;
  while (e != 0) {
    b = square_mod_p(b, p);
    if (e & 1) result = mul_mod_p(result, b, p);
    e >>= 1;
  }
  return result;
}
