// Modular products and powers against unsigned __int128 arithmetic and
// against the earlier x87 formulation (x87_reference.h, for p below 2^50,
// where it holds): the modulus context, special operands (0, 1, p - 1, primes
// just below 2^62 and each power of two, and the smallest p), then seeded
// random operands for primes across the whole range of the arithmetic,
// covering every operand range the contracts in modmul.h allow; and two
// contexts for different primes used in turn, as two workers hold them.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "arith/modmul.h"
#include "arith/prime_state.h"
#include <cfloat>

// The x87 formulation needs long double with a 64-bit significand (x86);
// elsewhere the products are checked against __int128 alone.
#if LDBL_MANT_DIG == 64
#include "x87_reference.h"
constexpr bool kHaveX87 = true;
#else
namespace x87ref {
struct context {};
inline context make_context(uint64_t) { return {}; }
inline void set_bdivp(context&, uint64_t) {}
inline uint64_t mul_mod_p(const context&, uint64_t, uint64_t) { return 0; }
inline uint64_t mul_mod_p_b(const context&, uint64_t, uint64_t) { return 0; }
inline uint64_t square_mod_p(const context&, uint64_t) { return 0; }
inline uint64_t powmod(const context&, uint64_t, uint64_t) { return 0; }
inline uint64_t pow2mod(const context&, uint64_t) { return 0; }
}  // namespace x87ref
constexpr bool kHaveX87 = false;
#endif

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

// The products serve every p below 2^62; the x87 formulation only p below
// 2^50 (the partly reduced values of modmul.h change form there too).
constexpr uint64_t kTop = 1ULL << 62;
constexpr uint64_t kX87Limit = kHaveX87 ? 1ULL << 50 : 0;

// Primes spread over [10^9, 2^62): the largest ones below 2^62 and below each
// power of two from 2^30, the smallest above 2^50, plus seeded random primes.
std::vector<uint64_t> test_primes() {
  std::vector<uint64_t> out;
  int found = 0;
  for (uint64_t n = kTop - 1; found < 8; n -= 2) {
    if (is_prime_ref(n)) { out.push_back(n); ++found; }
  }
  for (uint64_t n = (1ULL << 50) + 1; found < 12; n += 2) {
    if (is_prime_ref(n)) { out.push_back(n); ++found; }
  }
  for (int bits = 30; bits <= 62; ++bits) {
    for (uint64_t n = (1ULL << bits) - 1;; n -= 2) {
      if (is_prime_ref(n)) { out.push_back(n); break; }
    }
  }
  out.push_back(1000000007);
  out.push_back(1000000009);
  std::mt19937_64 rng(12345);
  while (out.size() < 100) {
    uint64_t n = (rng() % (kTop - kPMinLimit) + kPMinLimit) | 1;
    if (is_prime_ref(n)) out.push_back(n);
  }
  return out;
}

// The per-prime constants: p^-1 mod 2^64, 2^128 mod p, floor(b*2^64/p).
TEST(ModMul, ModulusContext) {
  modulus_ctx ps;
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    ASSERT_EQ(ps.globalp, p);
    ASSERT_EQ(ps.pinv * p, 1u) << p;
    ASSERT_EQ(ps.r2, static_cast<uint64_t>((static_cast<u128>(ref_mul(1ULL << 32, 1ULL << 32, p)) << 64) % p)) << p;
    const uint64_t multipliers[] = {0, 1, 2, p / 2, p - 2, p - 1};
    for (uint64_t b : multipliers) {
      set_bdivp(ps, b);
      ASSERT_EQ(ps.bdivp, static_cast<uint64_t>((static_cast<u128>(b) << 64) / p)) << p << " " << b;
    }
  }
}

TEST(ModMul, SpecialOperandsAgainstInt128) {
  modulus_ctx ps;
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    x87ref::context x87 = x87ref::make_context(p);
    const uint64_t specials[] = {0, 1, 2, p - 1, p - 2, p / 2, (p + 1) / 2, (1ULL << 25) % p};
    for (uint64_t a : specials) {
      for (uint64_t b : specials) {
        ASSERT_EQ(mul_mod_p(ps, a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
        if (p < kX87Limit) {
          ASSERT_EQ(mul_mod_p(ps, a, b, p), x87ref::mul_mod_p(x87, a, b)) << p << " " << a << " " << b;
        }
        set_bdivp(ps, b);
        if (p < kX87Limit) {
          x87ref::set_bdivp(x87, b);
        }
        ASSERT_EQ(mul_mod_p_b(ps, a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
        if (p < kX87Limit) {
          ASSERT_EQ(mul_mod_p_b(ps, a, b, p), x87ref::mul_mod_p_b(x87, a, b)) << p << " " << a << " " << b;
        }
      }
      ASSERT_EQ(square_mod_p(ps, a, p), ref_mul(a, a, p)) << p << " " << a;
      if (p < kX87Limit) {
        ASSERT_EQ(square_mod_p(ps, a, p), x87ref::square_mod_p(x87, a)) << p << " " << a;
      }
      const uint64_t exponents[] = {1, 2, 3, 63, 64, p - 2, p - 1, ~0ULL};
      for (uint64_t e : exponents) {
        ASSERT_EQ(powmod(ps, a, e, p), ref_pow(a, e, p)) << p << " " << a << " " << e;
        if (p < kX87Limit) {
          ASSERT_EQ(powmod(ps, a, e, p), x87ref::powmod(x87, a, e)) << p << " " << a << " " << e;
        }
      }
    }
    EXPECT_EQ(mul_mod_p(ps, p - 1, p - 1, p), 1u);
    EXPECT_EQ(square_mod_p(ps, p - 1, p), 1u);
  }
}

TEST(ModMul, RandomOperandsAgainstInt128) {
  modulus_ctx ps;
  std::mt19937_64 rng(2026);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    x87ref::context x87 = x87ref::make_context(p);
    for (int i = 0; i < 20000; ++i) {
      const uint64_t a = rng() % p, b = rng() % p;
      const uint64_t r = mul_mod_p(ps, a, b, p);
      ASSERT_LT(r, p);
      ASSERT_EQ(r, ref_mul(a, b, p)) << p << " " << a << " " << b;
      if (p < kX87Limit) {
        ASSERT_EQ(r, x87ref::mul_mod_p(x87, a, b)) << p << " " << a << " " << b;
      }
      ASSERT_EQ(square_mod_p(ps, a, p), ref_mul(a, a, p)) << p << " " << a;
      set_bdivp(ps, b);
      if (p < kX87Limit) {
        x87ref::set_bdivp(x87, b);
      }
      ASSERT_EQ(mul_mod_p_b(ps, a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
      if (p < kX87Limit) {
        ASSERT_EQ(mul_mod_p_b(ps, a, b, p), x87ref::mul_mod_p_b(x87, a, b)) << p << " " << a << " " << b;
      }
    }
  }
}

// A walk by a fixed multiplier, as in the table builds: 2000 steps against
// __int128, with the multiplier's quotient set once.
TEST(ModMul, FixedMultiplierChain) {
  modulus_ctx ps;
  std::mt19937_64 rng(31);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    const uint64_t g = rng() % p;
    set_bdivp(ps, g);
    uint64_t v = 1, w = 1;
    for (int i = 0; i < 2000; ++i) {
      v = mul_mod_p_b(ps, v, g, p);
      w = ref_mul(w, g, p);
      ASSERT_EQ(v, w) << p << " " << g << " step " << i;
    }
  }
}

// The whole contract of mul_mod_p: any a, b < 2^63, both operands of any
// size (including above p), the largest products included.
TEST(ModMul, GeneralProductWholeRange) {
  modulus_ctx ps;
  std::mt19937_64 rng(77);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    x87ref::context x87 = x87ref::make_context(p);
    const u128 limit = static_cast<u128>(1) << 126;  // a*b < limit
    for (int i = 0; i < 5000; ++i) {
      const int bits = static_cast<int>(rng() % 63) + 1;
      const uint64_t a = (rng() >> (64 - bits)) | (1ULL << (bits - 1));
      u128 bmax = (limit - 1) / a;
      if (bmax > (1ULL << 63) - 1) bmax = (1ULL << 63) - 1;
      // Half of the b at the top of their range, where the quotient is largest.
      const uint64_t bm = static_cast<uint64_t>(bmax);
      const uint64_t b = (i & 1) ? bm - rng() % (bm / 1024 + 1) : rng() % (bm + 1);
      ASSERT_EQ(mul_mod_p(ps, a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
      // The x87 estimate holds while a*b/p < 2^50.
      if (p < kX87Limit && static_cast<u128>(a) * b < static_cast<u128>(p) << 50) {
        ASSERT_EQ(mul_mod_p(ps, a, b, p), x87ref::mul_mod_p(x87, a, b)) << p << " " << a << " " << b;
      }
    }
  }
}

// The per-prime test multiplies k*2^a (a first factor below 2^40 that may
// exceed p) by a power of two of at most 2^23.
TEST(ModMul, FirstOperandAboveP) {
  modulus_ctx ps;
  std::mt19937_64 rng(7);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    x87ref::context x87 = x87ref::make_context(p);
    for (int i = 0; i < 2000; ++i) {
      const uint64_t a = rng() % (1ULL << 40);
      const uint64_t b = 1ULL << (rng() % 24);
      ASSERT_EQ(mul_mod_p(ps, a, b, p), ref_mul(a, b, p)) << p << " " << a << " " << b;
      if (p < kX87Limit) {
        ASSERT_EQ(mul_mod_p(ps, a, b, p), x87ref::mul_mod_p(x87, a, b)) << p << " " << a << " " << b;
      }
    }
    // The largest standard product: 22699*2^23 times 2^23.
    ASSERT_EQ(mul_mod_p(ps, 22699ULL << 23, 1ULL << 23, p), ref_mul(22699ULL << 23, 1ULL << 23, p));
  }
}

TEST(ModMul, Powers) {
  modulus_ctx ps;
  std::mt19937_64 rng(99);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    EXPECT_EQ(pow2mod(ps, 0, p), 1u);
    EXPECT_EQ(pow2mod(ps, 1, p), 2u);
    EXPECT_EQ(pow2mod(ps, p - 1, p), 1u);
    EXPECT_EQ(pow2mod(ps, 64, p), ref_pow(2, 64, p));
    const uint64_t h = (p + 1) / 2;  // inverse of 2
    for (int i = 0; i < 200; ++i) {
      const uint64_t e = rng() % kTop;
      const uint64_t b = rng() % p;
      ASSERT_EQ(pow2mod(ps, e, p), ref_pow(2, e, p)) << p << " " << e;
      ASSERT_EQ(powmod(ps, b, e, p), ref_pow(b, e, p)) << p << " " << b << " " << e;
      ASSERT_EQ(powmod(ps, b, 0, p), 1u);
      ASSERT_EQ(powmod(ps, b, 1, p), b);
      ASSERT_EQ(mul_mod_p(ps, powmod(ps, h, e, p), pow2mod(ps, e, p), p), 1u) << p << " " << e;
    }
    // Exponents with high bits of a full 64-bit word for powmod.
    ASSERT_EQ(powmod(ps, 3, ~0ULL, p), ref_pow(3, ~0ULL, p));
  }
}

// Every bit length of the exponent (the leading window of pow2mod takes up to
// six bits), full 64-bit exponents, and agreement with the x87 powers.
TEST(ModMul, PowersAllExponentLengths) {
  modulus_ctx ps;
  std::mt19937_64 rng(5);
  for (uint64_t p : test_primes()) {
    set_modulus(ps, p);
    x87ref::context x87 = x87ref::make_context(p);
    for (int len = 1; len <= 64; ++len) {
      const uint64_t top = 1ULL << (len - 1);
      for (uint64_t e : {top, top | (top - 1), top | (rng() & (top - 1))}) {
        const uint64_t b = rng() % p;
        ASSERT_EQ(pow2mod(ps, e, p), ref_pow(2, e, p)) << p << " " << e;
        ASSERT_EQ(powmod(ps, b, e, p), ref_pow(b, e, p)) << p << " " << b << " " << e;
        if (p < kX87Limit) {
          ASSERT_EQ(powmod(ps, b, e, p), x87ref::powmod(x87, b, e)) << p << " " << b << " " << e;
        }
        if (e < kPLimit) {
          if (p < kX87Limit) {
            ASSERT_EQ(pow2mod(ps, e, p), x87ref::pow2mod(x87, e)) << p << " " << e;
          }
        }
      }
    }
    for (int i = 0; i < 100; ++i) {
      const uint64_t e = rng();
      const uint64_t b = rng() % p;
      ASSERT_EQ(pow2mod(ps, e, p), ref_pow(2, e, p)) << p << " " << e;
      ASSERT_EQ(powmod(ps, b, e, p), ref_pow(b, e, p)) << p << " " << b << " " << e;
    }
  }
}

// Two workers' contexts for different primes, used in turn: every product
// and power reads only its own context, and setting one (its modulus or its
// fixed multiplier) leaves the other as it was. One of the two is the
// context inside a prime_state, as the workers hold it.
TEST(ModMul, ContextsOfTwoPrimesUsedInTurn) {
  std::mt19937_64 rng(4242);
  const std::vector<uint64_t> primes = test_primes();
  for (size_t i = 0; i + 1 < primes.size(); i += 2) {
    const uint64_t p = primes[i], q = primes[i + 1];
    modulus_ctx a;
    prime_state b;
    set_modulus(a, p);
    set_modulus(b, q);
    const modulus_ctx a_before = a;
    ASSERT_EQ(a.globalp, p);
    ASSERT_EQ(b.globalp, q);
    for (int j = 0; j < 200; ++j) {
      const uint64_t x = rng() % p, y = rng() % p, u = rng() % q, v = rng() % q;
      const uint64_t e = rng() >> (rng() % 64);
      set_bdivp(a, y);
      set_bdivp(b, v);
      ASSERT_EQ(mul_mod_p_b(a, x, y, p), ref_mul(x, y, p)) << p << " " << x << " " << y;
      ASSERT_EQ(mul_mod_p_b(b, u, v, q), ref_mul(u, v, q)) << q << " " << u << " " << v;
      ASSERT_EQ(mul_mod_p(a, x, y, p), ref_mul(x, y, p)) << p << " " << x << " " << y;
      ASSERT_EQ(mul_mod_p(b, u, v, q), ref_mul(u, v, q)) << q << " " << u << " " << v;
      ASSERT_EQ(square_mod_p(a, x, p), ref_mul(x, x, p)) << p << " " << x;
      ASSERT_EQ(square_mod_p(b, u, q), ref_mul(u, u, q)) << q << " " << u;
      ASSERT_EQ(pow2mod(a, e, p), ref_pow(2, e, p)) << p << " " << e;
      ASSERT_EQ(pow2mod(b, e, q), ref_pow(2, e, q)) << q << " " << e;
      ASSERT_EQ(powmod(a, x, e, p), ref_pow(x, e, p)) << p << " " << x << " " << e;
      ASSERT_EQ(powmod(b, u, e, q), ref_pow(u, e, q)) << q << " " << u << " " << e;
      ASSERT_EQ(a.bdivp, static_cast<uint64_t>((static_cast<u128>(y) << 64) / p));
      ASSERT_EQ(b.bdivp, static_cast<uint64_t>((static_cast<u128>(v) << 64) / q));
    }
    // Moving b to a's prime gives b a's constants and leaves a's alone.
    set_modulus(b, p);
    ASSERT_EQ(a.globalp, a_before.globalp);
    ASSERT_EQ(a.pinv, a_before.pinv);
    ASSERT_EQ(a.r2, a_before.r2);
    ASSERT_EQ(b.globalp, p);
    ASSERT_EQ(b.pinv, a.pinv);
    ASSERT_EQ(b.r2, a.r2);
  }
}

}  // namespace
