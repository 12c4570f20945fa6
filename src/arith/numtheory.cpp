// Number-theory helpers: gcd, modular inverse, Jacobi symbol, the check of a
// factor of k*2^n+1, CRT step.
#include "arith/numtheory.h"

#include <cmath>

uint64_t gcd(uint64_t a, uint64_t b) {
  uint64_t x = a, y = b;
  for (;;) {
    const uint64_t r = y % x;
    if (r == 0) return x;
    y = x;
    x = r;
  }
}

uint64_t isqrt_u64(uint64_t n) {
  constexpr uint64_t kMaxRoot = 0xFFFFFFFFu;  // floor(sqrt(2^64 - 1))
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  if (r > kMaxRoot) r = kMaxRoot;
  while (r * r > n) --r;
  while (r < kMaxRoot && (r + 1) * (r + 1) <= n) ++r;
  return r;
}

uint64_t multinv(uint64_t a, uint64_t m, uint64_t& inv) {
  // Each remainder carries its coefficient as a multiple of a modulo m, in
  // two's-complement wrap-around arithmetic.
  uint64_t y = m, cy = 0;
  uint64_t x = a, cx = 1;
  for (;;) {
    const uint64_t r = y % x;
    if (r == 0) break;
    const uint64_t q = y / x;
    cy = cy - q * cx;
    y = x;
    x = r;
    const uint64_t t = cx;
    cx = cy;
    cy = t;
  }
  inv = (cx >= m) ? cx + m : cx;  // negative coefficients read as >= m
  return x;
}

int jacobi(uint64_t a, uint64_t n) {
  int sign = 1;
  for (;;) {
    while (!(a & 1)) {  // (2/n) = -1 exactly when n = 3 or 5 (mod 8)
      a >>= 1;
      if ((n * n) & 8) sign = -sign;
    }
    if (a == 1) return sign;
    if ((a & 2) && (n & 2)) sign = -sign;  // both 3 mod 4: reciprocity flips
    const uint64_t t = n % a;
    n = a;
    a = t;
    if (a == 0) return 0;  // not coprime; callers never get here
  }
}

namespace {

// Products and powers modulo m in plain 128-bit arithmetic, independent of
// the Montgomery code: for the checks of factors and the primality test.
uint64_t mul_mod_u128(uint64_t a, uint64_t b, uint64_t m) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m);
}

uint64_t pow_mod_u128(uint64_t b, uint64_t e, uint64_t m) {
  uint64_t r = 1 % m;
  for (b %= m; e != 0; e >>= 1) {
    if (e & 1) r = mul_mod_u128(r, b, m);
    b = mul_mod_u128(b, b, m);
  }
  return r;
}

}  // namespace

uint64_t k2n1_mod(uint64_t p, int64_t k, uint64_t n) {
  const uint64_t magnitude = k < 0 ? 0 - static_cast<uint64_t>(k) : static_cast<uint64_t>(k);
  uint64_t kr = magnitude % p;
  if (k < 0 && kr != 0) kr = p - kr;
  return (mul_mod_u128(kr, pow_mod_u128(2, n, p), p) + 1) % p;
}

int64_t crt(int64_t m1, int64_t r1, int64_t m2, int64_t r2, int64_t inv) {
  const int64_t d = static_cast<int64_t>(
      static_cast<uint64_t>(m1 + r2 - r1) * static_cast<uint64_t>(inv) - 1);
  const int64_t r = d % m2;
  return r1 + m1 * r;
}


bool is_prime_u64(uint64_t n) {
  static constexpr uint64_t kBases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
  if (n < 2) return false;
  for (const uint64_t q : kBases) {
    if (n % q == 0) return n == q;
  }
  uint64_t d = n - 1;
  int s = 0;
  for (; (d & 1) == 0; d >>= 1) ++s;
  for (const uint64_t a : kBases) {
    uint64_t x = pow_mod_u128(a, d, n);
    if (x == 1 || x == n - 1) continue;
    bool witness = true;
    for (int i = 1; i < s && witness; ++i) {
      x = mul_mod_u128(x, x, n);
      witness = x != n - 1;
    }
    if (witness) return false;
  }
  return true;
}

uint64_t next_prime_from(uint64_t n) {
  while (!is_prime_u64(n)) ++n;
  return n;
}
