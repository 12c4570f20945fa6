// Modular products and powers against unsigned __int128 arithmetic: special
// operands first (0, 1, p - 1, primes just below 2^50), then seeded random
// operands for primes across the whole supported range.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "arith/modmul.h"

namespace {

using u128 = unsigned __int128;

uint64_t ref_mul(uint64_t a, uint64_t b, uint64_t p) { return static_cast<uint64_t>(static_cast<u128>(a) * b % p); }

uint64_t ref_pow(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t r = 1 % p;
  b %= p;
  while (e) {
    if (e & 1) r = ref_mul(r, b, p);
    b = ref_mul(b, b, p);
    e >>= 1;
  }
  return r;
}

bool is_prime_ref(uint64_t n) {
  if (n < 2) return false;
  for (uint64_t q : {2ULL, 3ULL, 5ULL, 7ULL, 11ULL, 13ULL, 17ULL, 19ULL, 23ULL, 29ULL, 31ULL, 37ULL}) {
    if (n % q == 0) return n == q;
  }
  uint64_t d = n - 1;
  int s = 0;
  while (!(d & 1)) { d >>= 1; ++s; }
  for (uint64_t a : {2ULL, 3ULL, 5ULL, 7ULL, 11ULL, 13ULL, 17ULL, 19ULL, 23ULL, 29ULL, 31ULL, 37ULL}) {
    uint64_t x = ref_pow(a, d, n);
    if (x == 1 || x == n - 1) continue;
    bool comp = true;
    for (int i = 1; i < s && comp; ++i) {
      x = ref_mul(x, x, n);
      if (x == n - 1) comp = false;
    }
    if (comp) return false;
  }
  return true;
}

// Primes spread over [10^9, 2^50): the largest ones below 2^50 and below each
// power of two from 2^30, plus seeded random primes.
std::vector<uint64_t> test_primes() {
  std::vector<uint64_t> out;
  int found = 0;
  for (uint64_t n = kPLimit - 1; found < 8; n -= 2) {
    if (is_prime_ref(n)) { out.push_back(n); ++found; }
  }
  for (int bits = 30; bits <= 50; ++bits) {
    for (uint64_t n = (1ULL << bits) - 1;; n -= 2) {
      if (is_prime_ref(n)) { out.push_back(n); break; }
    }
  }
  out.push_back(1000000007);
  out.push_back(1000000009);
  std::mt19937_64 rng(12345);
  while (out.size() < 80) {
    uint64_t n = (rng() % (kPLimit - kPMinLimit) + kPMinLimit) | 1;
    if (is_prime_ref(n)) out.push_back(n);
  }
  return out;
}

TEST(ModMul, SpecialOperandsAgainstInt128) {
  for (uint64_t p : test_primes()) {
    set_modulus(p);
    const uint64_t specials[] = {0, 1, 2, p - 1, p - 2, p / 2, (p + 1) / 2, (1ULL << 25) % p};
    for (uint64_t a : specials) {
      for (uint64_t b : specials) {
        ASSERT_EQ(mul_mod_p(a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
        set_bdivp(b);
        ASSERT_EQ(mul_mod_p_b(a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
      }
      ASSERT_EQ(square_mod_p(a, p), ref_mul(a, a, p)) << p << " " << a;
    }
    EXPECT_EQ(mul_mod_p(p - 1, p - 1, p), 1u);
    EXPECT_EQ(square_mod_p(p - 1, p), 1u);
  }
}

TEST(ModMul, RandomOperandsAgainstInt128) {
  std::mt19937_64 rng(2026);
  for (uint64_t p : test_primes()) {
    set_modulus(p);
    for (int i = 0; i < 20000; ++i) {
      const uint64_t a = rng() % p, b = rng() % p;
      const uint64_t r = mul_mod_p(a, b, p);
      ASSERT_LT(r, p);
      ASSERT_EQ(r, ref_mul(a, b, p)) << p << " " << a << " " << b;
      ASSERT_EQ(square_mod_p(a, p), ref_mul(a, a, p)) << p << " " << a;
      set_bdivp(b);
      ASSERT_EQ(mul_mod_p_b(a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
    }
  }
}

// The per-prime test multiplies k*2^a (a first factor below 2^40 that may
// exceed p) by a power of two of at most 2^23.
TEST(ModMul, FirstOperandAboveP) {
  std::mt19937_64 rng(7);
  for (uint64_t p : test_primes()) {
    set_modulus(p);
    for (int i = 0; i < 2000; ++i) {
      const uint64_t a = rng() % (1ULL << 40);
      const uint64_t b = 1ULL << (rng() % 24);
      ASSERT_EQ(mul_mod_p(a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
    }
    // The largest standard product: 22699*2^23 times 2^23.
    ASSERT_EQ(mul_mod_p(22699ULL << 23, 1ULL << 23, p), ref_mul(22699ULL << 23, 1ULL << 23, p));
  }
}

TEST(ModMul, Powers) {
  std::mt19937_64 rng(99);
  for (uint64_t p : test_primes()) {
    set_modulus(p);
    EXPECT_EQ(pow2mod(0, p), 1u);
    EXPECT_EQ(pow2mod(1, p), 2u);
    EXPECT_EQ(pow2mod(p - 1, p), 1u);
    EXPECT_EQ(pow2mod(64, p), ref_pow(2, 64, p));
    const uint64_t h = (p + 1) / 2;  // inverse of 2
    for (int i = 0; i < 200; ++i) {
      const uint64_t e = rng() % kPLimit;
      const uint64_t b = rng() % p;
      ASSERT_EQ(pow2mod(e, p), ref_pow(2, e, p)) << p << " " << e;
      ASSERT_EQ(powmod(b, e, p), ref_pow(b, e, p)) << p << " " << b << " " << e;
      ASSERT_EQ(powmod(b, 0, p), 1u);
      ASSERT_EQ(powmod(b, 1, p), b);
      ASSERT_EQ(mul_mod_p(powmod(h, e, p), pow2mod(e, p), p), 1u) << p << " " << e;
    }
    // Exponents with high bits of a full 64-bit word for powmod.
    ASSERT_EQ(powmod(3, ~0ULL, p), ref_pow(3, ~0ULL, p));
  }
}

}  // namespace
