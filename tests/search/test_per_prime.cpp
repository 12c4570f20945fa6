// The per-prime test: the standard-class decision of initialize, the
// counters, the Jacobi shortcut against Euler's criterion, the elimination
// against an independent power test, the survivors of thousands of primes
// against the plain form of the tests, a slot without class information, and
// whole primes end to end (the real sieve, order bound and searches) against
// discrete logarithms computed independently, on both the standard and the
// general elimination path. Every test runs twice: with the power tests on
// the 52-bit multiply-add vector instructions (skipped where the processor
// lacks them) and on the scalar path.
#include <gtest/gtest.h>

#include <primesieve.hpp>

#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "arith/ifma.h"
#include "arith/modmul.h"
#include "primes/sieve.h"
#include "search/hash.h"
#include "search/order_bound.h"
#include "search/per_prime.h"
#include "search_test_util.h"

namespace {

using namespace search_test;

constexpr uint32_t kNhigh = 20000000;
constexpr uint64_t kUnset = 0;  // never an inverse: marks amkinv entries test_idea did not write

// Every remaining n of k is a + M*t: the slot's class, or any n for a slot
// without class information.
void slot_class(int i, uint64_t& a, uint64_t& M) {
  a = akequiv[i];
  M = akpower[i];
  if (M == 0) a = 0, M = 1;
}

// Whether k index i can pass the elimination with B = p - 1, the weakest
// bound any order bound can give: -k*2^a must lie in the subgroup of index
// gcd(M, p - 1), which the power of 2^M generates at best.
bool passes_with_full_group(int i, uint64_t p) {
  uint64_t a, M;
  slot_class(i, a, M);
  const uint64_t f = (p - ref_mul(static_cast<uint64_t>(ak[i]) % p, ref_pow(2, a, p), p)) % p;
  return ref_pow(f, (p - 1) / std::gcd(M, p - 1), p) == 1;
}

// Standard classes (one residue each, akmod = akpower), empty sets, nhigh
// 20000000.
void standard_db() {
  reset_db(kNhigh);
  for (int i = 0; i < kNumK; ++i) {
    akpower[i] = akmod[i] = std_akpower[i];
    akequiv[i] = akares[i][0] = std_akequiv[i];
    aknres[i] = 1;
  }
}

// The same classes, but slot 1 claims only n = 2 (mod 4) instead of 6 (mod
// 8): the file no longer has the standard classes, the general path runs, and
// the searched residues (akmod 8, residue 6) are unchanged.
void general_db() {
  standard_db();
  akpower[1] = 4;
  akequiv[1] = 2;
}

// The parameter selects the vector path (true) or the scalar one.
class PerPrimeTest : public testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() { eratosthenes_base(1 << 18); }  // windows up to 6.8e10
  void SetUp() override {
    if (GetParam() && !cpu_has_ifma()) GTEST_SKIP() << "no AVX-512 IFMA on this processor";
    use_ifma = GetParam();
  }
  void TearDown() override {
    use_ifma = cpu_has_ifma();
    reset_db(kDefaultNhigh);
    initialize();
  }

  // Sieves the window that starts at p - 1, so that the order bound finds
  // the recorded factors of p - 1 for p, as in a run.
  static void position_sieve(uint64_t p) {
    sievewindowlow = p - 1;
    sievewindowindex = ~0u;
    eratosthenes_window(p - 1);
    ASSERT_EQ(next_sieved_p(), p);
  }

  // Walks the primes from 10^9 as a run does (sieve window at 10^9).
  static void start_walk() {
    sievewindowlow = 1000000000;
    sievewindowindex = ~0u;
    eratosthenes_window(sievewindowlow);
  }

  static void clear_inverses() {
    for (uint64_t& v : ps.amkinv) v = kUnset;
  }
};

TEST_P(PerPrimeTest, InitializeRecognisesOnlyTheStandardClasses) {
  standard_db();
  initialize();
  ASSERT_TRUE(standard_kpowers);
  for (int i = 0; i < kNumK; ++i) {
    const u64_pair t = ak2powa[i];
    const u128 want = static_cast<u128>(kBuiltinK[i]) << std_akequiv[i];
    const u128 got = t.second == 0 ? t.first : static_cast<u128>(t.first) * t.second;
    EXPECT_TRUE(got == want) << "k index " << i;
    EXPECT_LT(t.first, 1ULL << 40);
    EXPECT_EQ(t.second != 0, std_akequiv[i] > 23);
  }
  EXPECT_EQ(ak2powa[5].second, 1ULL << 23);  // 22699*2^46
  EXPECT_EQ(ak2powa[9].first, 33661u);       // a = 0

  struct change {
    const char* what;
    void (*apply)();
  };
  const change changes[] = {
      {"k of the first slot", [] { ak[0] = 4849; }},
      {"residue of slot 7", [] { akequiv[7] = 21; }},
      {"modulus of the last slot", [] { akpower[11] = 16; }},
      {"two slots swapped", [] { std::swap(ak[2], ak[3]); }},
      {"slot without class information", [] { akpower[6] = akequiv[6] = 0; }},
  };
  for (const change& c : changes) {
    standard_db();
    c.apply();
    initialize();
    EXPECT_FALSE(standard_kpowers) << c.what;
  }
}

// A prime at which no k can pass: 1 prime tested, 12 k and 1 prime
// eliminated, no inverse written, no search, no file.
TEST_P(PerPrimeTest, PrimeWithEveryKEliminated) {
  for (bool standard : {true, false}) {
    SCOPED_TRACE(standard ? "standard path" : "general path");
    TempDir dir;
    standard ? standard_db() : general_db();
    initialize();
    ASSERT_EQ(standard_kpowers, standard);
    primesieve::iterator it(1000000000);
    uint64_t p = it.next_prime();
    auto all_fail = [&] {
      for (int i = 0; i < kNumK; ++i) if (passes_with_full_group(i, p)) return false;
      return true;
    };
    while (!all_fail()) p = it.next_prime();
    position_sieve(p);
    hash_init(nhigh);
    clear_inverses();
    const uint64_t tested = stat_testedp, whackedk = stat_whackedk, whackedp = stat_whackedp;
    test_idea(p);
    EXPECT_EQ(stat_testedp - tested, 1u);
    EXPECT_EQ(stat_whackedk - whackedk, 12u);
    EXPECT_EQ(stat_whackedp - whackedp, 1u);
    for (uint64_t v : ps.amkinv) EXPECT_EQ(v, kUnset);
    EXPECT_FALSE(file_exists("fact.txt"));
    EXPECT_FALSE(file_exists("factexcl.txt"));
  }
}

// p = 3 (mod 4) and p = 2 (mod 3): gcd(M, p - 1) = 2 for every standard
// modulus, so each k is decided by the Jacobi symbol of -k*2^a alone, and the
// survivors are exactly the k for which -k*2^a is a square modulo p (Euler's
// criterion), whatever order bound the prime has. The inverses of the
// survivors are (-k)^-1.
TEST_P(PerPrimeTest, JacobiDecidesWhenTheGcdIsTwo) {
  TempDir dir;
  standard_db();
  initialize();
  ASSERT_TRUE(standard_kpowers);
  hash_init(nhigh);
  start_walk();
  int checked = 0, survivors = 0;
  while (checked < 40) {
    const uint64_t p = next_sieved_p();
    if (p % 12 != 11) continue;
    clear_inverses();
    testing::internal::CaptureStdout();
    test_idea(p);
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < kNumK; ++i) {
      const uint64_t f = p - ref_mul(static_cast<uint64_t>(ak[i]), ref_pow(2, akequiv[i], p), p);
      const bool square = ref_pow(f, (p - 1) / 2, p) == 1;
      EXPECT_EQ(ps.amkinv[i] != kUnset, square) << "p " << p << ", k index " << i;
      if (square) {
        EXPECT_EQ(ref_mul(ps.amkinv[i], p - static_cast<uint64_t>(ak[i]), p), 1u);
        ++survivors;
      }
    }
    ++checked;
  }
  EXPECT_GT(survivors, 100);
}

// Slots with moduli of several primes and prime powers, M = 1, and a slot
// without class information, all with empty candidate sets.
void varied_db() {
  reset_db(kNhigh);
  const uint32_t M[kNumK] = {24, 10, 7, 45, 0, 1, 11, 72, 2, 39, 16, 9};
  const uint32_t a[kNumK] = {15, 3, 6, 44, 0, 0, 4, 33, 1, 20, 9, 5};
  for (int i = 0; i < kNumK; ++i) {
    akpower[i] = akmod[i] = M[i];
    akequiv[i] = akares[i][0] = a[i];
    aknres[i] = M[i] == 0 ? 0 : 1;
  }
}

// The elimination in its plain form, with B from the order bound: k survives
// when p does not divide it and, for the standard classes with gcd(M, p - 1)
// = 2, -k*2^a is a square (Euler's criterion), otherwise when
// f^(B / gcd(M, B)) = 1 for f = -k*2^a (a = 0, M = 1 without class).
uint32_t plain_survivors(uint64_t p, uint64_t B) {
  uint32_t mask = 0;
  for (int i = 0; i < kNumK; ++i) {
    const uint64_t km = static_cast<uint64_t>(ak[i]) % p;
    if (km == 0) continue;
    uint64_t a, M;
    slot_class(i, a, M);
    const uint64_t f = (p - ref_mul(km, ref_pow(2, a, p), p)) % p;
    const bool pass = standard_kpowers && std::gcd(M, p - 1) == 2
                          ? ref_pow(f, (p - 1) / 2, p) == 1
                          : ref_pow(f, B / std::gcd(M, B), p) == 1;
    if (pass) mask |= 1u << i;
  }
  return mask;
}

// For 1500 consecutive primes in each of three windows (10^9, 3*10^10 and
// just below 2^50) and three kinds of candidate file, the k that survive
// test_idea (those whose inverse it writes) are exactly those of the plain
// tests, each with the inverse of p - k, and the counters agree.
TEST_P(PerPrimeTest, SurvivorsMatchThePlainTests) {
  eratosthenes_base(1 << 25);  // sieves windows up to 2^50
  struct file_kind {
    const char* name;
    void (*fill)();
    bool standard;
  };
  const file_kind kinds[] = {{"standard", standard_db, true},
                             {"general", general_db, false},
                             {"varied classes", varied_db, false}};
  const uint64_t lows[] = {1000000000ULL, 30000000000ULL, (1ULL << 50) - kSieveWindowSize};
  uint64_t survivors = 0, eliminated = 0;
  for (const file_kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    TempDir dir;
    kind.fill();
    initialize();
    ASSERT_EQ(standard_kpowers, kind.standard);
    hash_init(nhigh);
    for (uint64_t low : lows) {
      sievewindowlow = low;
      sievewindowindex = ~0u;
      eratosthenes_window(low);
      // Mismatches are collected while the searches' console output is
      // captured and checked afterwards.
      std::vector<std::string> mismatches;
      testing::internal::CaptureStdout();
      for (int n = 0; n < 1500 && mismatches.size() < 5; ++n) {
        const uint64_t p = next_sieved_p();
        clear_inverses();
        const uint64_t whackedk = stat_whackedk, whackedp = stat_whackedp;
        test_idea(p);
        uint32_t got = 0;
        bool inverses_ok = true;
        for (int i = 0; i < kNumK; ++i) {
          if (ps.amkinv[i] == kUnset) continue;
          got |= 1u << i;
          inverses_ok &= ref_mul(ps.amkinv[i], p - static_cast<uint64_t>(ak[i]) % p, p) == 1;
        }
        set_modulus(p);
        const uint32_t want = plain_survivors(p, order_2_bound(p));
        // The searches may eliminate more k, never fewer.
        const uint32_t nwant = static_cast<uint32_t>(__builtin_popcount(want));
        const bool counters_ok = stat_whackedk - whackedk >= kNumK - nwant &&
                                 (want != 0 || stat_whackedp - whackedp == 1);
        if (got != want || !inverses_ok || !counters_ok) {
          mismatches.push_back("p " + std::to_string(p) + ": survivors " + std::to_string(got) +
                               ", plain tests " + std::to_string(want) +
                               (inverses_ok ? "" : ", wrong inverse") + (counters_ok ? "" : ", counters"));
        }
        survivors += nwant;
        eliminated += kNumK - nwant;
      }
      testing::internal::GetCapturedStdout();
      for (const std::string& m : mismatches) ADD_FAILURE() << m;
    }
  }
  EXPECT_GT(survivors, 10000u);
  EXPECT_GT(eliminated, 10000u);
}

// A slot the candidate file did not fill (modulus 0, no residues) carries no
// class information: its k must survive whenever -k lies in the group
// generated by 2, here made sure by k = -(2^x)^-1. The elimination must stay
// a necessary condition.
TEST_P(PerPrimeTest, SlotWithoutClassInformationKeepsSolvableK) {
  TempDir dir;
  hash_init(kNhigh);
  start_walk();
  for (int checked = 0; checked < 30; ++checked) {
    const uint64_t p = next_sieved_p();
    standard_db();
    const uint64_t k5 = k_with_factor(p, 1000 + checked);
    const uint64_t k6 = k_with_factor(p, 77 + 3 * checked);
    ak[5] = static_cast<int32_t>(k5);
    akpower[5] = akequiv[5] = akmod[5] = aknres[5] = 0;
    ak[6] = static_cast<int32_t>(k6);
    akpower[6] = akmod[6] = aknres[6] = 0;
    akequiv[6] = 5;  // a stale residue without modulus is no information either
    initialize();
    ASSERT_FALSE(standard_kpowers);
    clear_inverses();
    testing::internal::CaptureStdout();
    test_idea(p);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ref_mul(ps.amkinv[5], p - k5, p), 1u) << "p " << p;
    EXPECT_EQ(ref_mul(ps.amkinv[6], p - k6, p), 1u) << "p " << p;
    // The other slots: a survivor always passes the weakest power test.
    for (int i = 0; i < kNumK; ++i) {
      if (i != 5 && i != 6 && ps.amkinv[i] != kUnset) {
        EXPECT_TRUE(passes_with_full_group(i, p)) << "p " << p << ", k index " << i;
      }
    }
  }
}

// The first 3000 primes from 10^9, walked as a run walks them, with nhigh
// 20000000 and the standard classes: every factor with n up to nhigh, found
// independently by discrete logarithms, and nothing else up to nhigh. The
// general path reports exactly the same lines.
TEST_P(PerPrimeTest, PrimeRangeMatchesIndependentDiscreteLogs) {
  struct ref {
    uint64_t p;
    int i;
    uint32_t n;
  };
  const ref expected[] = {
#include "per_prime_hits.inc"
  };
  std::set<hit> want;
  for (const ref& r : expected) {
    ASSERT_TRUE(ref_divides(r.p, static_cast<uint64_t>(kBuiltinK[r.i]), r.n));
    want.insert(hit{r.p, kBuiltinK[r.i], r.n});
  }
  std::vector<uint64_t> primes;
  primesieve::generate_n_primes(3000, 1000000000, &primes);

  std::string lines[2];
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "standard path" : "general path");
    TempDir dir;
    run == 0 ? standard_db() : general_db();
    initialize();
    ASSERT_EQ(standard_kpowers, run == 0);
    hash_init(nhigh);
    sievewindowlow = 1000000000;
    sievewindowindex = ~0u;
    eratosthenes_window(sievewindowlow);
    const uint64_t tested = stat_testedp;
    testing::internal::CaptureStdout();
    for (uint64_t p : primes) {
      ASSERT_EQ(next_sieved_p(), p);
      test_idea(p);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(stat_testedp - tested, primes.size());
    EXPECT_FALSE(file_exists("fact.txt"));  // the sets are empty
    // The residue-class search also reports factors of n outside the
    // candidate classes (as excluded factors); the comparison is on the n of
    // the classes.
    std::set<hit> got;
    for (const hit& h : read_hits("factexcl.txt")) {
      EXPECT_TRUE(ref_divides(h.p, static_cast<uint64_t>(h.k), h.n));
      int i = 0;
      while (i < kNumK && kBuiltinK[i] != h.k) ++i;
      ASSERT_LT(i, kNumK);
      if (h.n <= nhigh && h.n % std_akpower[i] == std_akequiv[i]) {
        EXPECT_TRUE(got.insert(h).second) << "reported twice: " << h.p << " " << h.n;
      }
    }
    EXPECT_EQ(got, want);
    lines[run] = read_file("factexcl.txt");
  }
  EXPECT_EQ(lines[0], lines[1]);
}

// Known factors of candidates, with the candidate in its set: each lands in
// "fact.txt" and leaves the set, on both paths.
TEST_P(PerPrimeTest, KnownFactorsOfCandidates) {
  struct known {
    uint64_t p;
    int i;
    uint32_t n;
  };
  const known cases[] = {
      {12598339027ULL, 2, 41},  // 10223*2^41+1
      {1000000033, 2, 18540221},
      {1000002089, 10, 12699178},
      {1000061749, 4, 2234468},
  };
  for (bool standard : {true, false}) {
    for (const known& c : cases) {
      SCOPED_TRACE(std::to_string(c.p) + (standard ? ", standard path" : ", general path"));
      TempDir dir;
      standard ? standard_db() : general_db();
      aunfacset[c.i] = {std_akequiv[c.i], c.n, c.n + std_akpower[c.i]};
      initialize();
      hash_init(nhigh);
      position_sieve(c.p);
      testing::internal::CaptureStdout();
      test_idea(c.p);
      const std::string console = testing::internal::GetCapturedStdout();
      const std::string line = std::to_string(c.p) + " | " + std::to_string(kBuiltinK[c.i]) + "*2^" +
                               std::to_string(c.n) + "+1\n";
      EXPECT_EQ(read_file("fact.txt"), line);
      EXPECT_NE(console.find(line), std::string::npos) << console;
      EXPECT_EQ(aunfacset[c.i].count(c.n), 0u);
      EXPECT_EQ(aunfacset[c.i].size(), 2u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PerPrimeTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Ifma" : "Scalar");
                         });

}  // namespace
