// The generator's removal and prime enumeration against brute force and a
// plain sieve. The generator is built into the vexgen executable only, so its
// sources are compiled into this test directly.
#include "vexgen/generate.cpp"
#include "vexgen/output.cpp"

#include <random>

#include "vexgen_test_util.h"

namespace {

std::vector<std::vector<uint64_t>> kept(const candidate_sieve& s) {
  std::vector<std::vector<uint64_t>> v(s.ks.size());
  for (uint32_t i = 0; i < s.ks.size(); ++i) {
    for_each_candidate(s, i, [&](uint32_t n) { v[i].push_back(n); });
  }
  return v;
}

std::vector<vxt::std_class> standard_table() {
  return std::vector<vxt::std_class>(std::begin(vxt::kStandard), std::end(vxt::kStandard));
}

struct sieve_case {
  const char* what;  // the path or fault the case covers
  std::vector<vxt::std_class> ks;
  uint32_t nhigh;
  uint32_t bound;
};

// Every removed n has a prime factor below the bound other than k*2^n+1
// itself, and every kept n has none.
TEST(VexgenSieve, RemovesExactlyTheNWithASmallFactor) {
  const std::vector<sieve_case> cases = {
      {"standard classes, primes below nhigh: the period of 2^72 and small orders "
       "(127, 73, 8191) repeat each hit",
       standard_table(), 20000, 10000},
      {"standard classes, primes far above nhigh: only the range of n limits the search",
       standard_table(), 1500, 40000},
      {"3*2^n+1: 7, 13, 97, 193 and 769 are primes below the bound and stay; n = 0 "
       "gives 4, removed by 2",
       {{3, 0, 1}}, 300, 1000},
      {"2^n+1: 2, 3, 5, 17, 257 stay (k = 1, n = 0 is the prime 2)", {{1, 0, 1}}, 200, 70000},
      {"k sharing primes with p (3, 5, 7) and mixed moduli, L = 12",
       {{15, 1, 2}, {21, 0, 4}, {105, 3, 6}, {7, 5, 12}}, 3000, 5000},
      {"a bound of 3 removes only by the prime 2 (n = 0 of odd k)", standard_table(), 200, 3},
      {"bounds 0 and 2 remove nothing", standard_table(), 200, 2},
  };
  for (const sieve_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    std::vector<kclass> ks;
    for (const vxt::std_class& c : sc.ks) ks.push_back({c.k, c.a, c.m});
    candidate_sieve s;
    std::string err;
    ASSERT_TRUE(candidate_sieve_init(s, ks, sc.nhigh, err)) << err;
    remove_primes_below(s, sc.bound, nullptr);
    EXPECT_EQ(kept(s), vxt::brute_force(sc.ks, sc.nhigh, sc.bound));
  }
}

// Brute force over all primes in the enumeration's range: every odd prime
// below the bound, in order, none missing at the segment edges.
TEST(VexgenSieve, EnumeratesEveryOddPrimeBelowTheBound) {
  const uint32_t limit = 2100000;
  std::vector<uint8_t> composite(limit, 0);
  std::vector<uint32_t> primes;
  for (uint32_t q = 2; q < limit; ++q) {
    if (composite[q]) continue;
    if (q > 2) primes.push_back(q);
    for (uint64_t x = static_cast<uint64_t>(q) * q; x < limit; x += q) composite[x] = 1;
  }
  // Segments hold 2^18 odd numbers starting at 3, so edges lie at 3 + j*2^19.
  const uint32_t edge = 3 + (1u << 19);
  for (uint32_t bound : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 9u, 10u, 25u, 26u, 1000u, edge - 2, edge - 1,
                         edge, edge + 1, edge + 2, 2 * edge - 3, 1048583u, 1048584u, limit}) {
    SCOPED_TRACE(bound);
    std::vector<uint32_t> got;
    for_each_odd_prime(bound, [&](uint32_t p) { got.push_back(p); }, nullptr);
    std::vector<uint32_t> want;
    for (uint32_t q : primes) {
      if (q < bound) want.push_back(q);
    }
    EXPECT_EQ(got, want);
  }
  uint32_t count = 0;
  uint32_t last = 0;
  for_each_odd_prime(100000000, [&](uint32_t p) { ++count, last = p; }, nullptr);
  EXPECT_EQ(count, 5761455u - 1);  // pi(10^8) without 2
  EXPECT_EQ(last, 99999989u);
}

// The Montgomery products of the searches against __int128, for primes at the
// small end, around 2^30 and just below 2^31.
TEST(VexgenSieve, MontgomeryProductsMatchInt128) {
  std::mt19937_64 rng(12345);
  for (uint32_t p : {3u, 5u, 7u, 65537u, 999999937u, 1073741789u, 2147483647u}) {
    const montgomery mg(p);
    EXPECT_EQ(mg.from(mg.one), 1u) << p;
    const uint64_t r = (static_cast<unsigned __int128>(1) << 32) % p;
    std::vector<uint64_t> values = {0, 1, 2, p - 2, p - 1};
    for (int i = 0; i < 200; ++i) values.push_back(rng() % p);
    for (uint64_t a : values) {
      EXPECT_EQ(mg.to(a), static_cast<uint64_t>(static_cast<unsigned __int128>(a) * r % p));
      for (uint64_t b : {values[1], values[3], values[4], values[5 + (a % 200)]}) {
        const uint64_t want = static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % p);
        EXPECT_EQ(mg.from(mg.mul(mg.to(a), mg.to(b))), want) << p << " " << a << " " << b;
      }
    }
  }
}

TEST(VexgenSieve, RejectsUnusableClassTables) {
  const struct {
    std::vector<kclass> ks;
    const char* message;
  } cases[] = {
      {{{0, 0, 2}}, "k must be positive"},
      {{{3, 2, 2}}, "bad residue class"},
      {{{3, 0, 0}}, "bad residue class"},
      {{{3, 0, 4096}, {5, 0, 4095}}, "common multiple above"},
  };
  for (const auto& c : cases) {
    candidate_sieve s;
    std::string err;
    EXPECT_FALSE(candidate_sieve_init(s, c.ks, 1000, err));
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
}

}  // namespace
