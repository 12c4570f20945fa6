// gcd, modular inverse, Jacobi symbol and CRT step: the documented small cases,
// then checks against brute force on random inputs.
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

}  // namespace
