// The earlier formulation of the modular products, kept as a second reference
// for the tests: the quotient floor(a*b/p) is estimated in x87 extended
// precision (64-bit significand) from the reciprocal 1/p (or the ratio b/p for
// a fixed multiplier), rounded to the nearest integer; the remainder lo - q*p
// is formed in wrap-around 64-bit arithmetic and needs at most one addition of
// p. For a*b/p < 2^50 the estimate lies within about 1/8 of the true quotient.
// Its own context, so it never touches the program's modulus state.
#pragma once
#include <cstdint>

namespace x87ref {

struct context {
  uint64_t p = 0;
  double fpinv = 0.0;
  double bdivp = 0.0;
};

inline context make_context(uint64_t p) {
  context c;
  c.p = p;
  c.fpinv = static_cast<double>(1.0L / static_cast<long double>(p));
  return c;
}

inline void set_bdivp(context& c, uint64_t b) {
  c.bdivp = static_cast<double>(static_cast<long double>(b) / static_cast<long double>(c.p));
}

inline uint64_t finish_mod(uint64_t lo, long double est, uint64_t p) {
  const int64_t q = __builtin_llrintl(est);  // round to nearest (x87 default)
  int64_t r = static_cast<int64_t>(lo - static_cast<uint64_t>(q) * p);
  if (r < 0) r += static_cast<int64_t>(p);
  return static_cast<uint64_t>(r);
}

// a*b mod p for a, b < 2^63 and a*b/p < 2^50.
inline uint64_t mul_mod_p(const context& c, uint64_t a, uint64_t b) {
  const long double est = (static_cast<long double>(static_cast<int64_t>(a)) * c.fpinv) *
                          static_cast<long double>(static_cast<int64_t>(b));
  return finish_mod(a * b, est, c.p);
}

// a*b mod p for a, b < p with c.bdivp set for b.
inline uint64_t mul_mod_p_b(const context& c, uint64_t a, uint64_t b) {
  const long double est = static_cast<long double>(static_cast<int64_t>(a)) * c.bdivp;
  return finish_mod(a * b, est, c.p);
}

inline uint64_t square_mod_p(const context& c, uint64_t a) {
  const long double la = static_cast<long double>(static_cast<int64_t>(a));
  const long double est = la * (la * c.fpinv);
  return finish_mod(a * a, est, c.p);
}

// 2^e mod p, left-to-right, for e < 2^50.
inline uint64_t pow2mod(const context& c, uint64_t e) {
  if (e == 0) return 1;
  int bit = 63;
  while (!((e >> bit) & 1)) --bit;
  uint64_t r = 2;
  for (--bit; bit >= 0; --bit) {
    r = square_mod_p(c, r);
    if ((e >> bit) & 1) {
      r <<= 1;
      if (r >= c.p) r -= c.p;
    }
  }
  return r;
}

// b^e mod p for b < p and any e, right-to-left.
inline uint64_t powmod(const context& c, uint64_t b, uint64_t e) {
  if (e == 0) return 1;
  while (!(e & 1)) {
    e >>= 1;
    b = square_mod_p(c, b);
  }
  uint64_t result = b;
  e >>= 1;
  while (e != 0) {
    b = square_mod_p(c, b);
    if (e & 1) result = mul_mod_p(c, result, b);
    e >>= 1;
  }
  return result;
}

}  // namespace x87ref
