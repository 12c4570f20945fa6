// The order-of-two bound: B and the grouped moduli of five primes just above
// 10^9 exactly (also with a small nhigh that caps the moduli), then, for
// thousands of consecutive primes from windows at 10^9, 2^40 and just below 2^50, the
// properties the searches rely on, each checked with unsigned __int128:
//   - 2^B = 1 (mod p) and B | p - 1;
//   - B is fully reduced: for every known prime factor q of B (2, 3..71 and
//     the sieve's record), 2^(B/q) != 1, and (p - 1)/B has only known prime
//     factors, so the unknown part of p - 1 stays in B;
//   - the grouped moduli multiply to a divisor of B, each modulus f has no
//     prime factor above 2^24, and 2^(B/f) has order exactly f;
// and, given the factor list of another prime, B still a multiple of the
// order of 2 (computed independently, by factoring p - 1).
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "arith/prime_state.h"
#include "db/candidates.h"
#include "primes/sieve.h"
#include "search/order_bound.h"
#include "test_sph_support.h"

namespace {

using u128 = unsigned __int128;

uint64_t ref_pow(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t r = 1;
  b %= p;
  while (e) {
    if (e & 1) r = static_cast<uint64_t>(static_cast<u128>(r) * b % p);
    b = static_cast<uint64_t>(static_cast<u128>(b) * b % p);
    e >>= 1;
  }
  return r;
}

// Distinct prime factors of a grouped modulus (below 2^32), by trial division.
std::vector<uint64_t> prime_factors(uint64_t f) {
  std::vector<uint64_t> out;
  for (uint64_t q = 2; q * q <= f; ++q) {
    if (f % q) continue;
    out.push_back(q);
    while (f % q == 0) f /= q;
  }
  if (f > 1) out.push_back(f);
  return out;
}

// Sieves the window at low (the base primes built once), so that next()
// walks its primes from the first.
void start_window(prime_sieve& sieve, uint64_t low) {
  static const bool base_built = (eratosthenes_base(1 << 25), true);
  (void)base_built;
  sieve.sieve_window(low);
}

std::vector<uint32_t> grouped(const prime_state& ps) {
  return std::vector<uint32_t>(ps.ao2bfactors, ps.ao2bfactors + ps.o2bfactors);
}

std::vector<uint32_t> as_vector(factor_list l) { return std::vector<uint32_t>(l.begin(), l.end()); }

factor_list as_list(const std::vector<uint32_t>& v) { return factor_list{v.data(), v.data() + v.size()}; }

TEST(OrderBound, FivePrimesAboveOneBillion) {
  struct Case { uint64_t p; uint32_t nhigh; uint64_t B; std::vector<uint32_t> moduli; };
  const Case cases[] = {
      {1000000007, 20000000, 500000003, {}},
      {1000000009, 20000000, 125000001, {63, 11881, 167}},
      {1000000021, 20000000, 1000000020, {1140, 739, 1187}},
      {1000000033, 20000000, 500000016, {6096}},
      {1000000891, 20000000, 1000000890, {17010}},
      // A small nhigh caps the moduli below lim = nhigh / 2: merges that would
      // reach it leave the factor out.
      {1000000891, 1000, 1000000890, {486}},      // 5 and 7 left out
      {1000000009, 20000, 125000001, {63, 109}},  // second 109 and 167 left out
  };
  prime_sieve sieve;
  prime_state ps;
  for (const Case& c : cases) {
    start_window(sieve, 1000000000);
    while (sieve.next() < c.p) {}
    ASSERT_EQ(sieve.window_low() + 2 * static_cast<uint64_t>(sieve.index()) + 1, c.p);
    set_modulus(ps, c.p);
    EXPECT_EQ(order_2_bound(ps, c.p, sieve.pm1_factors(), c.nhigh), c.B) << c.p;
    EXPECT_EQ(grouped(ps), c.moduli) << c.p << " nhigh " << c.nhigh;
    EXPECT_EQ(ps.ao2bfactors[ps.o2bfactors], 0u);
  }
}

struct property_counts {
  uint64_t primes = 0;
  uint64_t large_factor_in_B = 0;  // a known prime factor above 2^24 stayed in B
};

void check_properties(const prime_state& ps, uint64_t p, uint64_t B, factor_list pm1, property_counts& counts) {
  ++counts.primes;
  ASSERT_EQ(ref_pow(2, B, p), 1u) << p;
  ASSERT_EQ((p - 1) % B, 0u) << p;

  // Known primes: 2, the odd primes to 71, and the sieve's record for p.
  std::vector<uint64_t> known = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71};
  for (uint32_t q : pm1) known.push_back(q);
  uint64_t removed = (p - 1) / B;
  for (uint64_t q : known) {
    while (removed % q == 0) removed /= q;
    if (B % q == 0) {
      EXPECT_NE(ref_pow(2, B / q, p), 1u) << p << ": known factor " << q << " not divided out";
      if (q > (1u << 24)) ++counts.large_factor_in_B;
    }
  }
  EXPECT_EQ(removed, 1u) << p << ": a factor outside the known ones was removed from B";

  u128 product = 1;
  for (uint32_t i = 0; i < ps.o2bfactors; ++i) {
    const uint64_t f = ps.ao2bfactors[i];
    ASSERT_GT(f, 1u) << p;
    product *= f;
    ASSERT_LE(product, static_cast<u128>(B)) << p;
    ASSERT_EQ(B % f, 0u) << p << ": modulus " << f;
    const uint64_t x = ref_pow(2, B / f, p);
    EXPECT_EQ(ref_pow(x, f, p), 1u) << p << ": modulus " << f;
    for (uint64_t r : prime_factors(f)) {
      EXPECT_LE(r, 1u << 24) << p << ": modulus " << f;
      EXPECT_NE(ref_pow(x, f / r, p), 1u) << p << ": order of 2^(B/" << f << ") is not " << f;
    }
  }
  EXPECT_EQ(static_cast<u128>(B) % product, 0u) << p;
  EXPECT_EQ(ps.ao2bfactors[ps.o2bfactors], 0u) << p;
}

TEST(OrderBound, PropertiesOverConsecutivePrimes) {
  property_counts counts;
  prime_sieve sieve;
  prime_state ps;
  for (uint64_t low : {1000000000ULL, 1ULL << 40, (1ULL << 50) - kSieveWindowSize}) {
    start_window(sieve, low);
    for (int i = 0; i < 4000; ++i) {
      const uint64_t p = sieve.next();
      set_modulus(ps, p);
      const uint64_t B = order_2_bound(ps, p, sieve.pm1_factors(), kDefaultNhigh);
      check_properties(ps, p, B, sieve.pm1_factors(), counts);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(counts.primes, 12000u);
  // Near 2^50 the record holds primes between 2^24 and 2^25; some of them
  // must have stayed in B, so the cutoff was exercised.
  EXPECT_GT(counts.large_factor_in_B, 0u);
}

// Primes above 2^50 without the sieve's record: the largest ones below 2^62
// and 2^58, and primes whose p - 1 holds a long run of one small prime (3^36,
// 5^25, 71^9, 2^55), where the cofactor n times q passes 2^64 while the
// trial primes are divided out and the run power comes near p.
TEST(OrderBound, PropertiesAboveTwoToThe50) {
  std::vector<uint64_t> primes;
  for (uint64_t top : {1ULL << 62, 1ULL << 58, (1ULL << 50) + (1ULL << 40)}) {
    int found = 0;
    for (uint64_t n = top - 1; found < 40; n -= 2) {
      if (is_prime_u64(n)) {
        primes.push_back(n);
        ++found;
      }
    }
  }
  const uint64_t runs[] = {2 * 150094635296999121ULL,  // 2 * 3^36
                           2 * 59604644775390625ULL,   // 2 * 5^24
                           2 * 45848500718449031ULL,   // 2 * 71^9
                           1ULL << 55};
  for (uint64_t run : runs) {
    int found = 0;
    for (uint64_t c = 1; found < 3 && run * c < (1ULL << 62); ++c) {
      if (is_prime_u64(run * c + 1)) {
        primes.push_back(run * c + 1);
        ++found;
      }
    }
    ASSERT_GT(found, 0) << run;
  }
  property_counts counts;
  prime_state ps;
  const factor_list none{nullptr, nullptr};
  for (uint64_t p : primes) {
    set_modulus(ps, p);
    const uint64_t B = order_2_bound(ps, p, none, kDefaultNhigh);
    check_properties(ps, p, B, none, counts);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(counts.primes, primes.size());
}

// The reduction walk in its plain form: the known prime factors of p - 1 with
// multiplicity (2, then 3 to 71, then the sieve's record), each copy divided
// out of B while 2^(B/q) = 1; the first copy that stays keeps its run, whose
// power is noted there; then the same grouping rules as the program's.
struct walk_result {
  uint64_t B;
  std::vector<uint32_t> moduli;
};

walk_result plain_walk(uint64_t p, factor_list pm1, uint32_t nh) {
  std::vector<uint64_t> q;
  uint64_t n = p - 1;
  std::vector<uint64_t> known = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71};
  for (uint32_t r : pm1) known.push_back(r);
  for (uint64_t r : known) {
    while (n % r == 0) {
      q.push_back(r);
      n /= r;
    }
  }
  std::vector<uint64_t> runpow(q.size(), 0);
  uint64_t B = p - 1;
  for (size_t i = 0; i < q.size();) {
    const uint64_t r = q[i];
    if (ref_pow(2, B / r, p) == 1) {
      B /= r;
      q[i++] = 0;
      continue;
    }
    uint64_t power = 1;
    const size_t start = i;
    for (; i < q.size() && q[i] == r; ++i) power *= r;
    runpow[start] = power;
  }
  const uint64_t lim = std::min<uint64_t>(nh / 2, 8388608);
  std::vector<uint32_t> g;
  for (size_t i = 0; i < q.size(); ++i) {
    const uint64_t d = q[i];
    if (d == 0 || d > (1u << 24)) continue;
    if (g.empty()) {
      g.push_back(static_cast<uint32_t>(d));
      continue;
    }
    const uint64_t last = g.back();
    const uint64_t prev = i > 0 ? q[i - 1] : 0;
    const uint64_t next = i + 1 < q.size() ? q[i + 1] : 0;
    bool merge;
    if (last * d <= 29999) {
      merge = !(next == d && prev != d) || runpow[i] * last <= 29999;
    } else {
      merge = prev == d && last > d;
    }
    if (!merge) {
      g.push_back(static_cast<uint32_t>(d));
    } else if (last * d < lim) {
      g.back() = static_cast<uint32_t>(last * d);
    }
  }
  return walk_result{B, g};
}

TEST(OrderBound, SameAsThePlainWalk) {
  struct window {
    uint64_t low;
    uint32_t nhigh;
  };
  const window windows[] = {{1000000000ULL, 20000000},
                            {1000000000000ULL, 20000000},
                            {1ULL << 40, 1000},
                            {(1ULL << 50) - 3 * kSieveWindowSize, 20000000},
                            {(1ULL << 50) - kSieveWindowSize, 100000}};
  uint64_t reduced = 0, multi_copy_runs = 0;
  prime_sieve sieve;
  prime_state ps;
  for (const window& w : windows) {
    start_window(sieve, w.low);
    for (int i = 0; i < 3000; ++i) {
      const uint64_t p = sieve.next();
      set_modulus(ps, p);
      const uint64_t B = order_2_bound(ps, p, sieve.pm1_factors(), w.nhigh);
      const walk_result want = plain_walk(p, sieve.pm1_factors(), w.nhigh);
      ASSERT_EQ(B, want.B) << p;
      ASSERT_EQ(grouped(ps), want.moduli) << p << " nhigh " << w.nhigh;
      ASSERT_EQ(ps.ao2bfactors[ps.o2bfactors], 0u) << p;
      if (B != p - 1) ++reduced;
      if (B % 4 == 0 || B % 9 == 0) ++multi_copy_runs;
    }
  }
  // Both kinds of outcome occur often: copies removed, and runs of several
  // copies left in B.
  EXPECT_GT(reduced, 5000u);
  EXPECT_GT(multi_copy_runs, 3000u);
}

// The factor list of another number: the listed primes that do not divide
// p - 1 are passed over, so B stays a multiple of the order of 2 (computed
// here by factoring p - 1 completely), only less reduced than with p's own
// list, and every grouped modulus f still has 2^(B/f) of order exactly f.
// Each prime of three windows gets the list of the next prime, no list, and
// its own list merged with the next prime's, which must change nothing.
TEST(OrderBound, FactorListOfAnotherPrimeLeavesAMultipleOfTheOrder) {
  prime_sieve sieve;
  prime_state ps;
  uint64_t foreign_primes = 0, less_reduced = 0;
  for (uint64_t low : {1000000000ULL, 1ULL << 40, (1ULL << 50) - kSieveWindowSize}) {
    start_window(sieve, low);
    std::vector<uint64_t> primes;
    std::vector<std::vector<uint32_t>> lists;
    for (int i = 0; i < 601; ++i) {
      primes.push_back(sieve.next());
      lists.push_back(as_vector(sieve.pm1_factors()));
    }
    for (size_t i = 0; i + 1 < primes.size(); ++i) {
      const uint64_t p = primes[i];
      const std::vector<uint32_t>& own = lists[i];
      const std::vector<uint32_t>& other = lists[i + 1];
      std::vector<uint32_t> merged;
      std::set_union(own.begin(), own.end(), other.begin(), other.end(), std::back_inserter(merged));
      for (uint32_t q : other) foreign_primes += (p - 1) % q != 0;
      const uint64_t ord = sphtest::order_of_2(p);
      set_modulus(ps, p);
      const uint64_t B_own = order_2_bound(ps, p, as_list(own), kDefaultNhigh);
      const std::vector<uint32_t> moduli_own = grouped(ps);
      ASSERT_EQ(B_own % ord, 0u) << p;
      const std::vector<uint32_t> none;
      for (const std::vector<uint32_t>* list : {&other, &none}) {
        const uint64_t B = order_2_bound(ps, p, as_list(*list), kDefaultNhigh);
        ASSERT_EQ(B % ord, 0u) << p << ": B " << B << " is no multiple of the order " << ord;
        ASSERT_EQ((p - 1) % B, 0u) << p;
        ASSERT_EQ(B % B_own, 0u) << p;
        less_reduced += B != B_own;
        for (uint32_t i = 0; i < ps.o2bfactors; ++i) {
          const uint64_t f = ps.ao2bfactors[i];
          ASSERT_EQ(B % f, 0u) << p << ": modulus " << f;
          const uint64_t x = ref_pow(2, B / f, p);
          ASSERT_EQ(ref_pow(x, f, p), 1u) << p << ": modulus " << f;
          for (uint64_t r : prime_factors(f)) {
            ASSERT_NE(ref_pow(x, f / r, p), 1u) << p << ": order of 2^(B/" << f << ") is not " << f;
          }
        }
        ASSERT_EQ(ps.ao2bfactors[ps.o2bfactors], 0u) << p;
      }
      EXPECT_EQ(order_2_bound(ps, p, as_list(merged), kDefaultNhigh), B_own) << p;
      EXPECT_EQ(grouped(ps), moduli_own) << p;
    }
  }
  // The lists were foreign indeed, and p's own list mattered at some primes
  // (those whose order of 2 lacks a recorded prime of p - 1).
  EXPECT_GT(foreign_primes, 1000u);
  EXPECT_GT(less_reduced, 0u);
}

}  // namespace
