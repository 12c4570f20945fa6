// The per-prime test of a worker: the standard-class decision of the search
// plan, the counters, the Jacobi shortcut against Euler's criterion, the
// elimination against an independent power test, the survivors of thousands
// of primes against the plain form of the tests, a slot without class
// information, whole primes end to end (the real sieve, order bound and
// searches) against discrete logarithms computed independently, on both the
// standard and the general elimination path, and the same hits when the
// factor list of p - 1 belongs to another prime. Every test runs twice:
// with the power tests on the 52-bit multiply-add vector instructions
// (skipped where the processor lacks them) and on the scalar path.
#include <gtest/gtest.h>

#include <primesieve.hpp>

#include <map>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "arith/ifma.h"
#include "arith/modmul.h"
#include "primes/sieve.h"
#include "search/hash.h"
#include "search/order_bound.h"
#include "search/plan.h"
#include "search/worker.h"
#include "search_test_util.h"
#include "worker_rig.h"

namespace {

using namespace search_test;

constexpr uint32_t kNhigh = 20000000;
constexpr uint64_t kUnset = 0;  // never an inverse: marks amkinv entries test_prime did not write

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
  load_standard_classes(kNhigh);
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
  }

  // Sieves the window that starts at p - 1, so that the worker's sieve
  // holds the recorded factors of p - 1 for p, as in a run.
  void position_sieve(uint64_t p) {
    rig_.w.sieve.sieve_window(p - 1);
    ASSERT_EQ(rig_.w.sieve.next(), p);
  }

  // Walks the primes from 10^9 as a run does (sieve window at 10^9).
  void start_walk() { rig_.w.sieve.sieve_window(1000000000); }

  // The next prime of the walk.
  uint64_t next_prime() { return rig_.w.sieve.next(); }

  // The per-prime test of p, the prime the sieve returned last, with its
  // recorded factors of p - 1.
  void test_prime(uint64_t p) { rig_.w.test_prime(p, rig_.w.sieve.pm1_factors()); }

  void clear_inverses() {
    for (uint64_t& v : rig_.w.ps.amkinv) v = kUnset;
  }

  const search_plan& plan() const { return rig_.plan(); }
  const search_counters& stats() const { return rig_.w.stats; }
  const prime_state& ps() const { return rig_.w.ps; }

  testrig::worker_rig rig_;
};

TEST_P(PerPrimeTest, PlanRecognisesOnlyTheStandardClasses) {
  standard_db();
  rig_.rebuild();
  ASSERT_TRUE(plan().standard_kpowers);
  for (int i = 0; i < kNumK; ++i) {
    const u64_pair t = plan().ak2powa[i];
    const u128 want = static_cast<u128>(kBuiltinK[i]) << std_akequiv[i];
    const u128 got = t.second == 0 ? t.first : static_cast<u128>(t.first) * t.second;
    EXPECT_TRUE(got == want) << "k index " << i;
    EXPECT_LT(t.first, 1ULL << 40);
    EXPECT_EQ(t.second != 0, std_akequiv[i] > 23);
  }
  EXPECT_EQ(plan().ak2powa[5].second, 1ULL << 23);  // 22699*2^46
  EXPECT_EQ(plan().ak2powa[9].first, 33661u);       // a = 0

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
    rig_.rebuild();
    EXPECT_FALSE(plan().standard_kpowers) << c.what;
  }
}

// A prime at which no k can pass: 1 prime tested, 12 k and 1 prime
// eliminated, no inverse written, no search, no hit.
TEST_P(PerPrimeTest, PrimeWithEveryKEliminated) {
  for (bool standard : {true, false}) {
    SCOPED_TRACE(standard ? "standard path" : "general path");
    standard ? standard_db() : general_db();
    rig_.rebuild();
    ASSERT_EQ(plan().standard_kpowers, standard);
    primesieve::iterator it(1000000000);
    uint64_t p = it.next_prime();
    auto all_fail = [&] {
      for (int i = 0; i < kNumK; ++i) if (passes_with_full_group(i, p)) return false;
      return true;
    };
    while (!all_fail()) p = it.next_prime();
    position_sieve(p);
    clear_inverses();
    const search_counters before = stats();
    test_prime(p);
    EXPECT_EQ(stats().testedp - before.testedp, 1u);
    EXPECT_EQ(stats().whackedk - before.whackedk, 12u);
    EXPECT_EQ(stats().whackedp - before.whackedp, 1u);
    for (uint64_t v : ps().amkinv) EXPECT_EQ(v, kUnset);
    EXPECT_TRUE(rig_.sink.hits.empty());
  }
}

// p = 3 (mod 4) and p = 2 (mod 3): gcd(M, p - 1) = 2 for every standard
// modulus, so each k is decided by the Jacobi symbol of -k*2^a alone, and the
// survivors are exactly the k for which -k*2^a is a square modulo p (Euler's
// criterion), whatever order bound the prime has. The inverses of the
// survivors are (-k)^-1.
TEST_P(PerPrimeTest, JacobiDecidesWhenTheGcdIsTwo) {
  standard_db();
  rig_.rebuild();
  ASSERT_TRUE(plan().standard_kpowers);
  start_walk();
  int checked = 0, survivors = 0;
  while (checked < 40) {
    const uint64_t p = next_prime();
    if (p % 12 != 11) continue;
    clear_inverses();
    test_prime(p);
    for (int i = 0; i < kNumK; ++i) {
      const uint64_t f = p - ref_mul(static_cast<uint64_t>(ak[i]), ref_pow(2, akequiv[i], p), p);
      const bool square = ref_pow(f, (p - 1) / 2, p) == 1;
      EXPECT_EQ(ps().amkinv[i] != kUnset, square) << "p " << p << ", k index " << i;
      if (square) {
        EXPECT_EQ(ref_mul(ps().amkinv[i], p - static_cast<uint64_t>(ak[i]), p), 1u);
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
uint32_t plain_survivors(uint64_t p, uint64_t B, bool standard_kpowers) {
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
// test_prime (those whose inverse it writes) are exactly those of the plain
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
    kind.fill();
    rig_.rebuild();
    ASSERT_EQ(plan().standard_kpowers, kind.standard);
    prime_state bound;  // the order bound again, on a state of its own
    for (uint64_t low : lows) {
      rig_.w.sieve.sieve_window(low);
      // Mismatches are collected and reported after the window.
      std::vector<std::string> mismatches;
      for (int n = 0; n < 1500 && mismatches.size() < 5; ++n) {
        const uint64_t p = next_prime();
        clear_inverses();
        const search_counters before = stats();
        test_prime(p);
        uint32_t got = 0;
        bool inverses_ok = true;
        for (int i = 0; i < kNumK; ++i) {
          if (ps().amkinv[i] == kUnset) continue;
          got |= 1u << i;
          inverses_ok &= ref_mul(ps().amkinv[i], p - static_cast<uint64_t>(ak[i]) % p, p) == 1;
        }
        set_modulus(bound, p);
        const uint64_t B = order_2_bound(bound, p, rig_.w.sieve.pm1_factors(), nhigh);
        const uint32_t want = plain_survivors(p, B, plan().standard_kpowers);
        // The searches may eliminate more k, never fewer.
        const uint32_t nwant = static_cast<uint32_t>(__builtin_popcount(want));
        const bool counters_ok = stats().whackedk - before.whackedk >= kNumK - nwant &&
                                 (want != 0 || stats().whackedp - before.whackedp == 1);
        if (got != want || !inverses_ok || !counters_ok) {
          mismatches.push_back("p " + std::to_string(p) + ": survivors " + std::to_string(got) +
                               ", plain tests " + std::to_string(want) +
                               (inverses_ok ? "" : ", wrong inverse") + (counters_ok ? "" : ", counters"));
        }
        survivors += nwant;
        eliminated += kNumK - nwant;
      }
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
  start_walk();
  for (int checked = 0; checked < 30; ++checked) {
    const uint64_t p = next_prime();
    standard_db();
    const uint64_t k5 = k_with_factor(p, 1000 + checked);
    const uint64_t k6 = k_with_factor(p, 77 + 3 * checked);
    ak[5] = static_cast<int32_t>(k5);
    akpower[5] = akequiv[5] = akmod[5] = aknres[5] = 0;
    ak[6] = static_cast<int32_t>(k6);
    akpower[6] = akmod[6] = aknres[6] = 0;
    akequiv[6] = 5;  // a stale residue without modulus is no information either
    rig_.rebuild();
    ASSERT_FALSE(plan().standard_kpowers);
    clear_inverses();
    test_prime(p);
    EXPECT_EQ(ref_mul(ps().amkinv[5], p - k5, p), 1u) << "p " << p;
    EXPECT_EQ(ref_mul(ps().amkinv[6], p - k6, p), 1u) << "p " << p;
    // The other slots: a survivor always passes the weakest power test.
    for (int i = 0; i < kNumK; ++i) {
      if (i != 5 && i != 6 && ps().amkinv[i] != kUnset) {
        EXPECT_TRUE(passes_with_full_group(i, p)) << "p " << p << ", k index " << i;
      }
    }
  }
}

// The first 3000 primes from 10^9, walked as a run walks them, with nhigh
// 20000000 and the standard classes: every factor with n up to nhigh, found
// independently by discrete logarithms, and nothing else up to nhigh. The
// general path finds exactly the same hits. Filed, with empty candidate
// sets, every hit is an excluded factor.
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

  std::vector<hit> found[2];
  std::string lines[2];
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "standard path" : "general path");
    TempDir dir;
    run == 0 ? standard_db() : general_db();
    rig_.rebuild();
    rig_.sink.filing = true;
    ASSERT_EQ(plan().standard_kpowers, run == 0);
    start_walk();
    const uint64_t tested = stats().testedp;
    testing::internal::CaptureStdout();
    for (uint64_t p : primes) {
      ASSERT_EQ(next_prime(), p);
      test_prime(p);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(rig_.sink.files.failed()) << rig_.sink.files.error();
    EXPECT_EQ(stats().testedp - tested, primes.size());
    // The residue-class search also reports factors of n outside the
    // candidate classes; the comparison is on the n of the classes.
    std::set<hit> got;
    for (const factor_hit& fh : rig_.sink.hits) {
      ASSERT_LT(fh.slot, kNumK);
      const hit h = as_hit(fh);
      found[run].push_back(h);
      EXPECT_EQ(h.k, kBuiltinK[fh.slot]);
      EXPECT_TRUE(ref_divides(h.p, static_cast<uint64_t>(h.k), h.n));
      if (h.n <= nhigh && h.n % std_akpower[fh.slot] == std_akequiv[fh.slot]) {
        EXPECT_TRUE(got.insert(h).second) << "reported twice: " << h.p << " " << h.n;
      }
    }
    EXPECT_EQ(got, want);
    // Filed: the sets are empty, so each hit is one line of "factexcl.txt".
    EXPECT_FALSE(file_exists("fact.txt"));
    EXPECT_TRUE(read_hits("factexcl.txt") == found[run]);
    lines[run] = read_file("factexcl.txt");
  }
  EXPECT_TRUE(found[0] == found[1]);
  EXPECT_EQ(lines[0], lines[1]);
}

// p - 1 factored with the record of another prime: the order bound passes
// over the listed primes that do not divide p - 1, so no k with a solution
// is eliminated and no hit is lost. Each prime of the hits above is tested
// with the record of the prime after it, with no record, and with its own,
// on both paths; the hits in the candidates' classes are the independent
// ones every time.
TEST_P(PerPrimeTest, FactorListOfAnotherPrimeLosesNoHit) {
  struct ref {
    uint64_t p;
    int i;
    uint32_t n;
  };
  const ref expected[] = {
#include "per_prime_hits.inc"
  };
  std::map<uint64_t, std::set<hit>> want;
  for (const ref& r : expected) want[r.p].insert(hit{r.p, kBuiltinK[r.i], r.n});
  // The records of those primes and of the primes after them.
  std::map<uint64_t, std::vector<uint32_t>> own, other;
  start_walk();
  for (uint64_t p = next_prime(), prev = 0; p <= want.rbegin()->first || prev != 0; p = next_prime()) {
    const factor_list l = rig_.w.sieve.pm1_factors();
    if (prev != 0) other[prev].assign(l.begin(), l.end());
    prev = want.count(p) ? p : 0;
    if (prev != 0) own[p].assign(l.begin(), l.end());
  }
  ASSERT_EQ(other.size(), want.size());
  uint64_t foreign_primes = 0;
  for (const auto& [p, list] : other) {
    for (uint32_t q : list) foreign_primes += (p - 1) % q != 0;
  }
  const std::vector<uint32_t> none;
  for (bool standard : {true, false}) {
    SCOPED_TRACE(standard ? "standard path" : "general path");
    standard ? standard_db() : general_db();
    rig_.rebuild();
    for (const auto& [p, hits] : want) {
      SCOPED_TRACE(p);
      const std::pair<const char*, const std::vector<uint32_t>*> records[] = {
          {"next prime's record", &other[p]}, {"no record", &none}, {"own record", &own[p]}};
      for (const auto& [what, list] : records) {
        rig_.sink.hits.clear();
        rig_.w.test_prime(p, factor_list{list->data(), list->data() + list->size()});
        std::set<hit> got;
        for (const factor_hit& fh : rig_.sink.hits) {
          const hit h = as_hit(fh);
          EXPECT_TRUE(ref_divides(h.p, static_cast<uint64_t>(h.k), h.n));
          if (h.n <= nhigh && h.n % std_akpower[fh.slot] == std_akequiv[fh.slot]) got.insert(h);
        }
        EXPECT_EQ(got, hits) << what;
      }
    }
  }
  EXPECT_GT(foreign_primes, 20u);  // the records were foreign indeed
}

// Known factors of candidates, with the candidate in its set: filed, each
// lands in "fact.txt" and leaves the set, on both paths.
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
      rig_.rebuild();
      rig_.sink.filing = true;
      position_sieve(c.p);
      testing::internal::CaptureStdout();
      test_prime(c.p);
      const std::string console = testing::internal::GetCapturedStdout();
      EXPECT_FALSE(rig_.sink.files.failed()) << rig_.sink.files.error();
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
