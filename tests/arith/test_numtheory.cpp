// gcd, modular inverse, Jacobi symbol, CRT step, the inverse modulo 2^64,
// the check of a factor of k*2^n+1 and the 64-bit primality test: small cases
// worked by hand, then checks against brute force on random inputs. The
// primality test and next_prime_from are compared with a plain sieve of
// Eratosthenes over whole ranges up to 2^54, and above that with composites
// built to fool Miller-Rabin (strong pseudoprimes, Carmichael numbers,
// squares and products of primes near 2^32) and the primes just below 2^61,
// 2^63 and 2^64.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

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
  // Primes just below 2^50, 2^58 and 2^62.
  for (const uint64_t m : {1125899906842597ULL, 288230376151711717ULL, 4611686018427387847ULL}) {
    for (int i = 0; i < 10000; ++i) {
      const uint64_t a = rng() % (m - 1) + 1;
      uint64_t inv = 0;
      ASSERT_EQ(multinv(a, m, inv), 1u);
      ASSERT_LT(inv, m);
      ASSERT_EQ(static_cast<uint64_t>(static_cast<unsigned __int128>(a) * inv % m), 1u) << m << " " << a;
    }
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

// floor(sqrt(n)): around every square that double rounding could blur (the
// squares of roots near 2^26 and 2^32), at the ends of the 64-bit range, and
// random n, each checked by r^2 <= n < (r+1)^2 in 128 bits.
TEST(NumberTheory, IntegerSquareRoot) {
  const auto check = [](uint64_t n) {
    const uint64_t r = isqrt_u64(n);
    ASSERT_LE(static_cast<unsigned __int128>(r) * r, n) << n;
    ASSERT_GT(static_cast<unsigned __int128>(r + 1) * (r + 1), n) << n;
  };
  for (uint64_t n = 0; n < 100000; ++n) check(n);
  for (uint64_t root : {67108863ULL, 67108864ULL, 94906265ULL, 3037000499ULL, 4294967295ULL, 4294967294ULL}) {
    const uint64_t sq = root * root;
    for (uint64_t n : {sq - 1, sq, sq + 1, sq + 2 * root, sq + 2 * root + 1}) check(n);
  }
  for (uint64_t n : {~0ULL, ~0ULL - 1, 1ULL << 62, (1ULL << 62) - 1, 1ULL << 63}) check(n);
  EXPECT_EQ(isqrt_u64(~0ULL), 4294967295u);
  EXPECT_EQ(isqrt_u64(1ULL << 62), 1u << 31);
  std::mt19937_64 rng(8);
  for (int i = 0; i < 100000; ++i) check(rng() >> (rng() % 64));
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

using u128 = unsigned __int128;

uint64_t ref_pow(uint64_t b, uint64_t e, uint64_t m) {
  uint64_t r = 1 % m;
  for (b %= m; e != 0; e >>= 1) {
    if (e & 1) r = static_cast<uint64_t>(static_cast<u128>(r) * b % m);
    b = static_cast<uint64_t>(static_cast<u128>(b) * b % m);
  }
  return r;
}

// Whether n is a strong probable prime to base a (odd n > a).
bool strong_probable_prime(uint64_t n, uint64_t a) {
  uint64_t d = n - 1;
  int s = 0;
  while ((d & 1) == 0) {
    d >>= 1;
    ++s;
  }
  uint64_t x = ref_pow(a, d, n);
  if (x == 1 || x == n - 1) return true;
  for (int i = 1; i < s; ++i) {
    x = static_cast<uint64_t>(static_cast<u128>(x) * x % n);
    if (x == n - 1) return true;
  }
  return false;
}

bool prime_by_trial_division(uint64_t n) {
  if (n < 2) return false;
  for (uint64_t d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

// The primes up to 2^27 by a plain sieve: enough to sieve any range below 2^54.
const std::vector<uint32_t>& small_primes() {
  static const std::vector<uint32_t> primes = [] {
    constexpr uint32_t kLimit = 1u << 27;
    std::vector<bool> composite(kLimit + 1, false);
    std::vector<uint32_t> v;
    for (uint64_t i = 2; i <= kLimit; ++i) {
      if (composite[i]) continue;
      v.push_back(static_cast<uint32_t>(i));
      for (uint64_t m = i * i; m <= kLimit; m += i) composite[m] = true;
    }
    return v;
  }();
  return primes;
}

// is_prime[i] for lo + i, i < len, by crossing out multiples of the small
// primes (hi = lo + len <= 2^54).
std::vector<bool> sieve_range(uint64_t lo, uint64_t len) {
  const uint64_t hi = lo + len;
  std::vector<bool> prime(len, true);
  for (uint64_t n = lo; n < std::min<uint64_t>(hi, 2); ++n) prime[n - lo] = false;
  for (uint64_t q : small_primes()) {
    if (q * q >= hi) break;
    uint64_t m = std::max(q * q, (lo + q - 1) / q * q);
    for (; m < hi; m += q) prime[m - lo] = false;
  }
  return prime;
}

// Every n below 2^16 against trial division, including the twelve bases
// themselves, their multiples and squares, and the first primes past them.
TEST(Primality, SmallNumbersAgainstTrialDivision) {
  for (uint64_t n = 0; n < (1u << 16); ++n) {
    ASSERT_EQ(is_prime_u64(n), prime_by_trial_division(n)) << n;
  }
}

// Whole ranges against the sieve, some of them straddling a power of two:
// is_prime_u64 on every number, next_prime_from across every gap.
TEST(Primality, RangesAgainstSieve) {
  struct Range { uint64_t lo, len; };
  const Range ranges[] = {
      {0, 1u << 20},
      {1000000000, 1u << 16},
      {(1ULL << 32) - (1u << 15), 1u << 16},
      {(1ULL << 40) - (1u << 15), 1u << 16},
      {1125899906842624ULL - (1u << 16), 1u << 16},  // up to 2^50
      {(1ULL << 54) - (1u << 16), 1u << 16},
  };
  for (const Range& r : ranges) {
    const std::vector<bool> prime = sieve_range(r.lo, r.len);
    // next[i]: the smallest prime >= r.lo + i inside the range (0: none).
    std::vector<uint64_t> next(r.len + 1, 0);
    for (uint64_t i = r.len; i-- > 0;) next[i] = prime[i] ? r.lo + i : next[i + 1];
    uint64_t count = 0;
    for (uint64_t i = 0; i < r.len; ++i) {
      const uint64_t n = r.lo + i;
      ASSERT_EQ(is_prime_u64(n), prime[i]) << n;
      count += prime[i];
      // At each prime, just after it (a whole gap) and at a spread of others.
      const bool probe = prime[i] || (i > 0 && prime[i - 1]) || i % 61 == 0;
      if (probe && next[i] != 0) {
        ASSERT_EQ(next_prime_from(n), next[i]) << n;
      }
    }
    EXPECT_GT(count, 1000u) << r.lo;
  }
}

// Composites chosen to pass Fermat and strong probable-prime tests. Each
// entry is given with its factors, and the bases it passes are checked here
// first, so the table cannot claim more than it shows.
TEST(Primality, StrongPseudoprimes) {
  struct Case { uint64_t n; std::vector<uint64_t> factors; std::vector<uint64_t> bases; };
  const Case cases[] = {
      {2047, {23, 89}, {2}},
      {1194649, {1093, 1093}, {2}},
      {12327121, {3511, 3511}, {2}},
      {1373653, {829, 1657}, {2, 3}},
      {25326001, {2251, 11251}, {2, 3, 5}},
      {3215031751ULL, {151, 751, 28351}, {2, 3, 5, 7}},
      {4294967297ULL, {641, 6700417}, {2}},  // 2^32 + 1
      {2152302898747ULL, {6763, 10627, 29947}, {2, 3, 5, 7, 11}},
      {3474749660383ULL, {1303, 16927, 157543}, {2, 3, 5, 7, 11, 13}},
      {341550071728321ULL, {10670053, 32010157}, {2, 3, 5, 7, 11, 13, 17, 19}},
      // Only the base 37 shows it composite.
      {3825123056546413051ULL, {149491, 747451, 34233211}, {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31}},
  };
  for (const Case& c : cases) {
    u128 product = 1;
    for (uint64_t f : c.factors) {
      ASSERT_TRUE(f > 1 && f < c.n);
      product *= f;
    }
    ASSERT_EQ(product, static_cast<u128>(c.n));
    for (uint64_t a : c.bases) ASSERT_TRUE(strong_probable_prime(c.n, a)) << c.n << " base " << a;
    EXPECT_FALSE(is_prime_u64(c.n)) << c.n;
  }
}

// Carmichael numbers (6k+1)(12k+1)(18k+1) with all three factors prime, up
// to the largest below 2^64: Fermat pseudoprimes to every base prime to them.
TEST(Primality, CarmichaelNumbers) {
  int found = 0;
  uint64_t largest = 0;
  for (uint64_t k = 1;; ++k) {
    const u128 n = static_cast<u128>(6 * k + 1) * (12 * k + 1) * (18 * k + 1);
    if (n >> 64) break;
    if (!prime_by_trial_division(6 * k + 1) || !prime_by_trial_division(12 * k + 1) ||
        !prime_by_trial_division(18 * k + 1))
      continue;
    const uint64_t c = static_cast<uint64_t>(n);
    ASSERT_EQ(ref_pow(2, c - 1, c), 1u) << c;
    ASSERT_FALSE(is_prime_u64(c)) << c << " k " << k;
    ++found;
    largest = c;
  }
  EXPECT_GT(found, 100);
  EXPECT_GT(largest, 1ULL << 63);
}

// Squares and products of the primes just below 2^32, whose products come
// closest to 2^64; and some 64-bit numbers with known factors.
TEST(Primality, ProductsNear2To64AndKnownComposites) {
  std::vector<uint64_t> near32;
  const std::vector<bool> prime = sieve_range((1ULL << 32) - 1000, 1000);
  for (uint64_t i = 0; i < 1000; ++i) {
    if (prime[i]) near32.push_back((1ULL << 32) - 1000 + i);
  }
  ASSERT_GE(near32.size(), 30u);
  ASSERT_EQ(near32.back(), 4294967291u);
  for (uint64_t p : near32) {
    ASSERT_TRUE(is_prime_u64(p)) << p;
    for (uint64_t q : near32) ASSERT_FALSE(is_prime_u64(p * q)) << p << " * " << q;
  }
  EXPECT_FALSE(is_prime_u64(18446744030759878681ULL));  // 4294967291^2
  const uint64_t composites[] = {
      ~0ULL,                   // 3 * 5 * 17 * 257 * 641 * 65537 * 6700417
      (1ULL << 63) - 1,        // 7^2 * 73 * 127 * 337 * 92737 * 649657
      (1ULL << 59) - 1,        // 179951 * 3203431780337
      (1ULL << 62) + 1,        // 5 * 5581 * 8681 * 49477 * 384773
      (1ULL << 63) + 1,        // 3^3 * 19 * 43 * 5419 * 77158673929
      (3ULL << 62) + 1,        // 13 * 211 * 5295463 * 952469857
      1681,                    // 41^2, the first square past the bases
      37ULL * 41,
  };
  for (uint64_t n : composites) EXPECT_FALSE(is_prime_u64(n)) << n;
}

// The primes in the last few hundred numbers below 2^64, 2^63 and 2^61 (all
// of them, as offsets from the power of two) and the first prime above,
// and primes k*2^n + 1 with long runs of squarings; next_prime_from
// between them.
TEST(Primality, PrimesJustBelowPowersOfTwo) {
  // after: the first prime above 2^bits (0: none below 2^64).
  struct Top { int bits; uint64_t span; std::vector<uint64_t> offsets; uint64_t after; };
  const Top tops[] = {
      {64, 400, {363, 353, 323, 279, 257, 189, 179, 95, 83, 59}, 0},
      {63, 500, {471, 457, 409, 391, 387, 375, 301, 259, 165, 25}, (1ULL << 63) + 29},
      {61, 300, {283, 259, 229, 45, 31, 1}, (1ULL << 61) + 15},  // 2^61 - 1 is a Mersenne prime
  };
  for (const Top& t : tops) {
    const uint64_t top = t.bits == 64 ? 0 : 1ULL << t.bits;  // 2^64 wraps to 0
    std::vector<uint64_t> primes;
    for (uint64_t off : t.offsets) primes.push_back(top - off);
    if (t.after != 0) {
      ASSERT_TRUE(is_prime_u64(t.after));
      primes.push_back(t.after);
    }
    for (uint64_t n = top - t.span; n != top; ++n) {
      const bool want = std::find(primes.begin(), primes.end(), n) != primes.end();
      ASSERT_EQ(is_prime_u64(n), want) << "2^" << t.bits << " - " << top - n;
      const auto next = std::lower_bound(primes.begin(), primes.end(), n);
      if (next != primes.end()) {
        ASSERT_EQ(next_prime_from(n), *next) << "2^" << t.bits << " - " << top - n;
      }
    }
  }
  EXPECT_EQ(next_prime_from(~0ULL - 58), ~0ULL - 58);  // 2^64 - 59, the last 64-bit prime
  for (uint64_t p : {(27ULL << 59) + 1, (29ULL << 57) + 1, (27ULL << 56) + 1, (3ULL << 30) + 1}) {
    EXPECT_TRUE(is_prime_u64(p)) << p;
    EXPECT_EQ(next_prime_from(p), p);
  }
}

TEST(Primality, NextPrimeFromSmallValues) {
  struct Case { uint64_t n, want; };
  const Case cases[] = {{0, 2}, {1, 2}, {2, 2}, {3, 3}, {4, 5}, {24, 29}, {37, 37}, {38, 41},
                        {1000000000, 1000000007}, {1ULL << 32, 4294967311ULL}};
  for (const Case& c : cases) EXPECT_EQ(next_prime_from(c.n), c.want) << c.n;
}

}  // namespace
