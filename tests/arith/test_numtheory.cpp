// gcd, modular inverse, Jacobi symbol, CRT step, the inverse modulo 2^64 and
// the check of a factor of k*2^n+1: small cases worked by hand, then checks
// against brute force on random inputs.
#include <gtest/gtest.h>

#include <random>

#include "arith/numtheory.h"

namespace {

TEST(NumberTheory, GcdCases) {
  EXPECT_EQ(gcd(7, 0), 7u);
  EXPECT_EQ(gcd(12, 18), 6u);
  EXPECT_EQ(gcd(1, 123456789), 1u);
  EXPECT_EQ(gcd(18, 12), 6u);
  EXPECT_EQ(gcd(1ULL << 40, 3ULL << 38), 1ULL << 38);
}

TEST(NumberTheory, MultinvCases) {
  struct Case { uint64_t a, m, g, inv; };
  const Case cases[] = {{3, 7, 1, 5}, {4, 6, 2, 5}, {1, 97, 1, 1}, {10, 7, 1, 5}};
  for (const Case& c : cases) {
    uint64_t inv = 12345;
    EXPECT_EQ(multinv(c.a, c.m, inv), c.g) << c.a << " " << c.m;
    EXPECT_EQ(inv, c.inv) << c.a << " " << c.m;
  }
}

TEST(NumberTheory, MultinvRandomAgainstInt128) {
  std::mt19937_64 rng(1);
  const uint64_t m = 1125899906842597ULL;  // prime just below 2^50
  for (int i = 0; i < 10000; ++i) {
    const uint64_t a = rng() % (m - 1) + 1;
    uint64_t inv = 0;
    ASSERT_EQ(multinv(a, m, inv), 1u);
    ASSERT_LT(inv, m);
    ASSERT_EQ(static_cast<uint64_t>(static_cast<unsigned __int128>(a) * inv % m), 1u) << a;
  }
}

int jacobi_brute(uint64_t a, uint64_t n) {
  // Product of Legendre symbols over the prime factors of n (Euler's criterion).
  int result = 1;
  uint64_t m = n;
  for (uint64_t q = 3; m > 1; q += 2) {
    while (m % q == 0) {
      m /= q;
      uint64_t e = (q - 1) / 2, b = a % q, r = 1;
      while (e) {
        if (e & 1) r = r * b % q;
        b = b * b % q;
        e >>= 1;
      }
      result *= (r == 1) ? 1 : -1;
    }
  }
  return result;
}

TEST(NumberTheory, JacobiCases) {
  EXPECT_EQ(jacobi(1, 9), 1);
  EXPECT_EQ(jacobi(2, 7), 1);
  EXPECT_EQ(jacobi(2, 3), -1);
  EXPECT_EQ(jacobi(3, 7), -1);
  EXPECT_EQ(jacobi(5, 3), -1);
  for (uint64_t n = 3; n < 400; n += 2) {
    for (uint64_t a = 1; a < 2 * n; ++a) {
      if (gcd(a, n) != 1) continue;
      ASSERT_EQ(jacobi(a, n), jacobi_brute(a, n)) << a << " " << n;
    }
  }
}

TEST(NumberTheory, CrtCases) {
  EXPECT_EQ(crt(3, 2, 5, 4, 2), 14);
  EXPECT_EQ(crt(8, 0, 9, 0, 8), 0);
  std::mt19937_64 rng(5);
  const int64_t mods[][2] = {{4, 9}, {63, 11881}, {1140, 739}, {2, 113}, {243, 10}, {16, 1000003}};
  for (auto& mm : mods) {
    const int64_t m1 = mm[0], m2 = mm[1];
    uint64_t inv = 0;
    ASSERT_EQ(multinv(static_cast<uint64_t>(m1), static_cast<uint64_t>(m2), inv), 1u);
    for (int i = 0; i < 1000; ++i) {
      const int64_t r1 = static_cast<int64_t>(rng() % m1), r2 = static_cast<int64_t>(rng() % m2);
      const int64_t x = crt(m1, r1, m2, r2, static_cast<int64_t>(inv));
      ASSERT_GE(x, 0);
      ASSERT_LT(x, m1 * m2);
      ASSERT_EQ(x % m1, r1);
      ASSERT_EQ(x % m2, r2);
    }
  }
}

// The inverse modulo 2^64 is a constant expression (tables of inverses are
// built at compile time) and exact for every odd q.
static_assert(inverse_mod_2_64(71) * 71 == 1, "inverse of 71 modulo 2^64");
static_assert(inverse_mod_2_64(~0ULL) == ~0ULL, "-1 is its own inverse");

TEST(NumberTheory, InverseModulo2To64) {
  std::mt19937_64 rng(6);
  for (uint64_t q : {1ULL, 3ULL, 5ULL, (1ULL << 50) - 27, (1ULL << 63) + 1, ~0ULL - 2})
    EXPECT_EQ(q * inverse_mod_2_64(q), 1u) << q;
  for (int i = 0; i < 100000; ++i) {
    const uint64_t q = rng() | 1;
    ASSERT_EQ(q * inverse_mod_2_64(q), 1u) << q;
  }
}

// k*2^n + 1 mod p by doubling n times, for the comparison below.
uint64_t k2n1_by_doubling(uint64_t p, int64_t k, uint64_t n) {
  using i128 = __int128;
  using u128 = unsigned __int128;
  const i128 km = static_cast<i128>(k) % static_cast<i128>(p);
  u128 r = static_cast<u128>(km < 0 ? km + static_cast<i128>(p) : km);
  for (uint64_t i = 0; i < n; ++i) r = 2 * r % p;
  return static_cast<uint64_t>((r + 1) % p);
}

// The check of a factor: known values (a factor, negative k, k = 0, a
// modulus near 2^64, the most negative k, exponents beyond p), then random k, n and p of every
// size against plain doubling.
TEST(NumberTheory, K2n1Mod) {
  struct Case { uint64_t p; int64_t k; uint64_t n; uint64_t want; };
  const Case cases[] = {
      {12598339027ULL, 10223, 41, 0},
      {3, 1, 1, 0},
      {7, -1, 3, 0},                           // -8 + 1
      {7, -3, 1, 2},                           // -6 + 1 = -5
      {5, 0, 100, 1},
      {18446744073709551557ULL, 1, 64, 60},    // 2^64 = 59 mod this prime
      {18446744073709551557ULL, -1, 64, 18446744073709551499ULL},
      {3, INT64_MIN, 0, 2},                    // -2^63 = 1 (mod 3)
      {1000000007, 67607, 1000000006, 67608},  // 2^(p-1) = 1 (mod p)
      {1000000007, 67607, 2000000015, 540857}, // 2^(2(p-1)+3) = 8
  };
  for (const Case& c : cases) EXPECT_EQ(k2n1_mod(c.p, c.k, c.n), c.want) << c.p << " " << c.k << " " << c.n;
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t p = (rng() >> (rng() % 63)) | 2;  // 2 <= p < 2^64
    const int64_t k = static_cast<int64_t>(rng()) >> (rng() % 64);
    const uint64_t n = rng() % 300;
    ASSERT_EQ(k2n1_mod(p, k, n), k2n1_by_doubling(p, k, n)) << p << " " << k << " " << n;
  }
}

}  // namespace
