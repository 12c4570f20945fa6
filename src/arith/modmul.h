// Modular products and powers modulo the current prime p < 2^62, in integer
// arithmetic only and without any division in the products.
//
// Three methods, each chosen for how its callers use it:
//  - mul_mod_p_b, the product by a fixed multiplier b of the table builds and
//    walks, uses a precomputed quotient b' = floor(b*2^64/p) (Shoup's method):
//    the quotient of a*b is the high word of a*b', off by at most one.
//  - powmod, pow2mod (and the general products mul_mod_p, square_mod_p) use
//    Montgomery arithmetic with R = 2^64: x is represented by x*R mod p, and
//    redc(T) = T/R mod p costs two products and a subtraction.
//  - The power chains keep their Montgomery values only partly reduced (see
//    redc_lazy) and reduce fully once, when converting out: below 2^52 for
//    p < 2^50, where R leaves 14 bits of headroom, and below 2p above that,
//    where 4p < R still leaves two.
#pragma once
#include <cstdint>

#include "arith/numtheory.h"

// The modulus context of one prime: p, p^-1 mod 2^64 and 2^128 mod p for the
// Montgomery products, and floor(b*2^64/p) for the fixed multiplier b of the
// current run of mul_mod_p_b calls. Each worker owns one; every product below
// takes it as its first argument.
struct modulus_ctx {
  uint64_t globalp = 0;
  uint64_t pinv = 0;
  uint64_t r2 = 0;
  uint64_t bdivp = 0;
};

namespace detail {

using u128 = unsigned __int128;

// 2^64 * hi + lo, divided by p; hi < p so the quotient fits in 64 bits.
inline uint64_t div_128_by_64(uint64_t hi, uint64_t lo, uint64_t p, uint64_t& rem) {
#if defined(__x86_64__)
  uint64_t q;
  __asm__("divq %4" : "=a"(q), "=d"(rem) : "a"(lo), "d"(hi), "rm"(p) : "cc");
  return q;
#else
  const u128 n = (static_cast<u128>(hi) << 64) | lo;
  rem = static_cast<uint64_t>(n % p);
  return static_cast<uint64_t>(n / p);
#endif
}

// Montgomery reduction of T with T/2^64 + p < 2^64: returns T/2^64 mod p as
// a value in (0, p + T/2^64), congruent to T*R^-1.
//   m = (T mod R) * p^-1 mod R makes T - m*p divisible by R, and the low words
//   of T and m*p are equal, so (T - m*p)/R = hi(T) - hi(m*p) exactly. As
//   0 <= m*p < R*p, this lies in (-p, T/R); adding p gives (0, p + T/R).
// The chains below keep every value under V = max(2^52, 2p):
//  - p < 2^50: the product of two values below 2^52 is below 2^104, T/R
//    below 2^40, and the result below 2^50 + 2^40. That leaves room for one
//    doubling (pow2mod) before the next product.
//  - 2^50 <= p < 2^62: the product of two values below V is below 4p^2
//    (or 2^104 < 4p^2), T/R below 4p^2/R < p, and the result below 2p. A
//    doubling must subtract 2p again when it reaches it.
constexpr uint64_t kLazyLimit = uint64_t{1} << 50;
inline uint64_t redc_lazy(u128 T, uint64_t p, uint64_t pinv) {
  const uint64_t m = static_cast<uint64_t>(T) * pinv;
  const uint64_t mp_hi = static_cast<uint64_t>((static_cast<u128>(m) * p) >> 64);
  return static_cast<uint64_t>(T >> 64) + p - mp_hi;
}

// Montgomery reduction to the exact residue in [0, p) when T < p * 2^64:
// (T - m*p)/R then lies in (-p, p), and a negative value gets p added.
inline uint64_t redc_full(u128 T, uint64_t p, uint64_t pinv) {
  const uint64_t m = static_cast<uint64_t>(T) * pinv;
  const uint64_t mp_hi = static_cast<uint64_t>((static_cast<u128>(m) * p) >> 64);
  const uint64_t hi = static_cast<uint64_t>(T >> 64);
  const uint64_t t = hi - mp_hi;
  return hi < mp_hi ? t + p : t;
}

// Montgomery product of two partly reduced values x, y < max(2^52, 2p).
inline uint64_t mont_mul(uint64_t x, uint64_t y, uint64_t p, uint64_t pinv) {
  return redc_lazy(static_cast<u128>(x) * y, p, pinv);
}

// x*R mod p, partly reduced, for x < 2^63: x * (R^2 mod p) < 2^63 * p leaves
// T/R < p/2, so the result is below 1.5p (and below 2^51 for p < 2^50).
inline uint64_t to_mont(uint64_t x, uint64_t p, uint64_t pinv, uint64_t r2) {
  return redc_lazy(static_cast<u128>(x) * r2, p, pinv);
}

// The residue in [0, p) of a partly reduced Montgomery value x < p*R.
inline uint64_t from_mont(uint64_t x, uint64_t p, uint64_t pinv) {
  return redc_full(x, p, pinv);
}

}  // namespace detail

// Sets the modulus context for prime p (odd, p < 2^62): p^-1 mod 2^64 and
// R^2 mod p = 2^128 mod p, for the Montgomery arithmetic.
inline void set_modulus(modulus_ctx& ps, uint64_t p) {
  ps.globalp = p;
  ps.pinv = inverse_mod_2_64(p);
  uint64_t r1, r2;
  detail::div_128_by_64(1, 0, p, r1);   // 2^64 mod p (1 < p)
  detail::div_128_by_64(r1, 0, p, r2);  // 2^128 mod p (r1 < p)
  ps.r2 = r2;
}

// Sets ps.bdivp = floor(b * 2^64 / p) for the fixed multiplier b (b < p, so
// the quotient fits in 64 bits) of mul_mod_p_b.
inline void set_bdivp(modulus_ctx& ps, uint64_t b) {
  uint64_t rem;
  ps.bdivp = detail::div_128_by_64(b, 0, ps.globalp, rem);
}

// a*b mod p for any a, b < 2^63 (p < 2^62); modulus context set for p.
// The first operand may exceed p (the per-k products k*2^a of the per-prime test).
// Two Montgomery reductions: the first gives x = a*b*R^-1 in (0, p + 2^62)
// since T/R < 2^126/2^64, so x < 2^63; its product with R^2 mod p < p is
// below 2^63 * p, under p*R, so the second reduction is exact and returns
// a*b mod p.
inline uint64_t mul_mod_p(const modulus_ctx& ps, uint64_t a, uint64_t b, uint64_t p) {
  const uint64_t x = detail::redc_lazy(static_cast<detail::u128>(a) * b, p, ps.pinv);
  return detail::redc_full(static_cast<detail::u128>(x) * ps.r2, p, ps.pinv);
}

// a*b mod p for a, b < p, with ps.bdivp = floor(b*2^64/p) set for this b.
// With b' = ps.bdivp, b*2^64/p - 1 < b' <= b*2^64/p, so for q = floor(a*b'/2^64):
//   q <= a*b/p, hence q <= Q = floor(a*b/p), and
//   q > a*b/p - a/2^64 - 1 > a*b/p - 2 (a < 2^64), hence q >= Q - 1.
// So a*b - q*p lies in [0, 2p) (below 2^51), and computing it modulo 2^64 is
// exact; one conditional subtraction finishes.
inline uint64_t mul_mod_p_b(const modulus_ctx& ps, uint64_t a, uint64_t b, uint64_t p) {
  const uint64_t q = static_cast<uint64_t>((static_cast<detail::u128>(a) * ps.bdivp) >> 64);
  const uint64_t r = a * b - q * p;
  return r >= p ? r - p : r;
}

// a^2 mod p for a < p; modulus context set for p.
inline uint64_t square_mod_p(const modulus_ctx& ps, uint64_t a, uint64_t p) { return mul_mod_p(ps, a, a, p); }

// 2^e mod p for any e, by left-to-right binary powering in Montgomery form.
// The leading (up to) six bits t of e enter at once as 2^t * R mod p (one
// reduction of (R^2 mod p) * 2^t < p * 2^63, below 1.5p); every further bit
// costs a squaring and, for a set bit, a doubling by a shift. For p < 2^50
// values stay below 2^52: the squaring returns less than 2^51 and the
// doubling at most doubles that. Above, they stay below 2p: the squaring
// returns less than 2p, and a doubling that reaches 2p subtracts it.
// p must equal ps.globalp.
inline uint64_t pow2mod(const modulus_ctx& ps, uint64_t e, uint64_t p) {
  if (e == 0) return 1;
  const uint64_t pinv = ps.pinv;
  const int len = 64 - __builtin_clzll(e);  // bit length of e
  int bit = len > 6 ? len - 6 : 0;          // the lowest bit of the leading window
  uint64_t x = detail::redc_lazy(static_cast<detail::u128>(ps.r2) << (e >> bit), p, pinv);
  if (p < detail::kLazyLimit) {
    while (bit > 0) {
      --bit;
      x = detail::mont_mul(x, x, p, pinv) << ((e >> bit) & 1);
    }
  } else {
    const uint64_t twop = 2 * p;
    while (bit > 0) {
      --bit;
      x = detail::mont_mul(x, x, p, pinv) << ((e >> bit) & 1);
      x = x >= twop ? x - twop : x;
    }
  }
  return detail::from_mont(x, p, pinv);
}

// b^e mod p for b < p and any e, by right-to-left binary powering in
// Montgomery form: the squarings of b form the one dependent chain; the
// multiplications into the result run beside it. Values stay below
// max(2^51, 2p).
inline uint64_t powmod(const modulus_ctx& ps, uint64_t b, uint64_t e, uint64_t p) {
  if (e == 0) return 1;
  const uint64_t pinv = ps.pinv;
  uint64_t x = detail::to_mont(b, p, pinv, ps.r2);
  while (!(e & 1)) {
    e >>= 1;
    x = detail::mont_mul(x, x, p, pinv);
  }
  uint64_t result = x;
  e >>= 1;
  while (e != 0) {
    x = detail::mont_mul(x, x, p, pinv);
    if (e & 1) result = detail::mont_mul(result, x, p, pinv);
    e >>= 1;
  }
  return detail::from_mont(result, p, pinv);
}
