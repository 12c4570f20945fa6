// The Pohlig-Hellman and residue-class searches inside the real pipeline of
// a worker: its sieve window, test_prime (order bound, eliminations,
// sph_idea), its hits filed through the program's sink. Four primes just
// above 10^9 with their classes and hits; primes from several windows up to
// 2^50, through the Pohlig-Hellman path and the plain search alone (use_sph
// off), checked against the exact order of 2 and an independent search in
// __int128 arithmetic; and known factors of primes from 10^12 to 2^50.
#include <gtest/gtest.h>

#include "arith/modmul.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/sph.h"
#include "search/worker.h"
#include "test_sph_differential.h"
#include "test_sph_support.h"
#include "worker_rig.h"

namespace {

using namespace sphtest;

class SphPipeline : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new scratch_dir;
    eratosthenes_base(1 << 25);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    rig_.w.trace = &trace_;
    rig_.sink.filing = true;
  }
  void TearDown() override {
    EXPECT_FALSE(rig_.sink.files.failed()) << rig_.sink.files.error();
    verbose = 0;
  }

  void start_window(u64 low) { rig_.w.sieve.sieve_window(low); }
  u64 next_prime() { return rig_.w.sieve.next(); }
  // The per-prime test of p, the prime the sieve returned last.
  void test_prime(u64 p) { rig_.w.test_prime(p, rig_.w.sieve.pm1_factors()); }

  static scratch_dir* dir_;
  testrig::worker_rig rig_;
  sph_trace_t trace_{};
};
scratch_dir* SphPipeline::dir_ = nullptr;

// Four primes of the window at 10^9 with the default nhigh and the standard
// classes: the class modulus M, the surviving k, their residues X and the
// hits; the candidate sets hold just the n that are found.
TEST_F(SphPipeline, FourPrimesAboveOneBillion) {
  set_standard_db(kDefaultNhigh, false);
  aunfacset[2].insert(18540221);
  aunfacset[10].insert(12699178);
  rig_.rebuild();
  ASSERT_TRUE(rig_.plan().standard_kpowers);
  dir_->clear_factor_files();

  struct Case {
    u64 p;
    u64 M;
    uint32_t mask;
    std::vector<std::pair<int, u64>> X;
    std::vector<hit> hits;
  };
  const Case cases[] = {
      {1000000021, 842460, (1u << 3) | (1u << 4), {{3, 303470}, {4, 441632}}, {}},
      {1000000033, 6096, (1u << 0) | (1u << 2), {{0, 3591}, {2, 2285}}, {{1000000033, 10223, 18540221}}},
      {1000000891, 17010, (1u << 8) | (1u << 11), {{8, 12517}, {11, 13203}}, {}},
      {1000002089, 226, (1u << 1) | (1u << 10), {{1, 14}, {10, 12}}, {{1000002089, 55459, 12699178}}},
  };
  start_window(1000000000);
  verbose = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    u64 p = 0;
    while (p < c.p) p = next_prime();
    ASSERT_EQ(p, c.p);
    trace_.outcome = kNotCalled;
    testing::internal::CaptureStdout();
    test_prime(p);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(trace_.M, c.M);
    EXPECT_EQ(trace_.outcome, sph_to_classes);
    EXPECT_EQ(trace_.mask_in, c.mask);
    EXPECT_EQ(trace_.mask, c.mask);
    for (auto [i, x] : c.X) EXPECT_EQ(trace_.X[i], x) << "k index " << i;
    std::vector<hit> low;
    for (const hit& h : read_hits("fact.txt"))
      if (h.p == p && h.n <= nhigh) low.push_back(h);
    EXPECT_EQ(low, c.hits);
    if (p == 1000000033) {
      EXPECT_EQ(console, "1000000033 | 10223*2^18540221+1\t(xmod 6096)\n");
    }
  }
  EXPECT_TRUE(aunfacset[2].empty());
  EXPECT_TRUE(aunfacset[10].empty());
}

// A slot whose set holds one n (factors took the others) has no class
// modulus; its n is still found, exactly once, by either search path. Slot 3
// gets at each prime a k with a factor at its lone n (which varies with p),
// the other slots keep the standard classes.
TEST_F(SphPipeline, LoneCandidateIsFoundOnEveryPath) {
  const uint32_t nh = 200000;
  for (bool sph : {true, false}) {
    SCOPED_TRACE(sph ? "Pohlig-Hellman path" : "plain search");
    rig_.w.use_sph = sph;
    start_window(1000000000);
    int found = 0;
    for (int count = 0; count < 300; ++count) {
      const u64 p = next_prime();
      const uint32_t n0 = 1000 + static_cast<uint32_t>(p % 150000);
      set_standard_db(nh, false);
      const u64 k = p - pow2inv(n0, p) % p;  // k*2^n0 = -1 (mod p)
      ASSERT_LT(k, 1ULL << 31);
      ak[3] = static_cast<int32_t>(k);
      akequiv[3] = akpower[3] = akmod[3] = aknres[3] = 0;
      aunfacset[3] = {n0};
      rig_.rebuild();
      ASSERT_EQ(rig_.plan().lone_mask, 1u << 3);
      dir_->clear_factor_files();
      testing::internal::CaptureStdout();
      test_prime(p);
      testing::internal::GetCapturedStdout();
      const hit want{p, static_cast<int64_t>(k), n0};
      int in_fact = 0, in_excl = 0;
      for (const hit& h : read_hits("fact.txt")) in_fact += h.p == want.p && h.k == want.k && h.n == n0;
      for (const hit& h : read_hits("factexcl.txt")) in_excl += h.p == want.p && h.k == want.k && h.n == n0;
      ASSERT_EQ(in_fact, 1) << "p = " << p;
      EXPECT_EQ(in_excl, 0) << "p = " << p;
      EXPECT_TRUE(aunfacset[3].empty());
      ++found;
    }
    EXPECT_EQ(found, 300);
  }
}

// Windows from 10^9 to 2^50 with small and default nhigh. Real factors are
// rare this far up (the hit-rich comparison is test_sph_diff); what counts
// here is X[k] checked against the exact order of 2 at every prime, the
// counters, and that both paths and the independent search agree.
TEST_F(SphPipeline, ResiduesAndCountersUpTo2To50) {
  struct Window {
    u64 low;
    int count;
    uint32_t nh;
    bool fill;
  };
  const Window windows[] = {
      {1000000000, 500, 200000, true},
      {1000000000000, 400, 1000000, true},
      {(1ULL << 40) + (1ULL << 23), 400, 500000, true},
      {kPLimit - (1ULL << 23), 400, 300000, true},
      {300000000000, 120, kDefaultNhigh, false},
      {kPLimit - (1ULL << 24), 60, kDefaultNhigh, false},
  };
  int seen[4] = {};
  for (const Window& w : windows) {
    const int hits = differential(*dir_, w.low, w.count, w.nh, w.fill, seen);
    std::printf("window %llu, nhigh %u: %d hits among the candidates' classes\n",
                static_cast<unsigned long long>(w.low), w.nh, hits);
  }
  // Every way out of sph_idea was taken somewhere.
  for (int o = 0; o < 4; ++o) EXPECT_GT(seen[o], 0) << "outcome " << o;
  std::printf("sph_idea outcomes: declined %d, all eliminated %d, plain search %d, class search %d\n",
              seen[0], seen[1], seen[2], seen[3]);
}

// Primes from 10^12 to 2^50 with a known small factor k*2^n+1 (found by
// factoring k*2^n+1 for small n of the standard classes): both paths must
// report it as a new factor.
TEST_F(SphPipeline, KnownFactorsOfLargePrimes) {
  const hit known[] = {
      {1743849966293, 10223, 101},        {5267641295857, 5359, 62},
      {13299816775727, 4847, 63},         {23761269195941, 67607, 51},
      {25750766623661, 55459, 34},        {28299753556783, 33661, 48},
      {43683056228117, 4847, 39},         {296807041810723, 5359, 54},
      {917873074748059, 5359, 94},
  };
  for (const hit& h : known) {
    ASSERT_TRUE(genuine(h));
    for (int pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(testing::Message() << h.p << (pass == 0 ? " Pohlig-Hellman" : " plain"));
      rig_.w.use_sph = pass == 0;
      set_standard_db(kDefaultNhigh, false);
      int i = 0;
      while (ak[i] != h.k) ++i;
      aunfacset[i].insert(static_cast<uint32_t>(h.n));
      rig_.rebuild();
      dir_->clear_factor_files();
      start_window(h.p - 1);
      const u64 p = next_prime();
      ASSERT_EQ(p, h.p);
      testing::internal::CaptureStdout();
      test_prime(p);
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(read_hits("fact.txt"), std::vector<hit>{h});
      EXPECT_TRUE(aunfacset[i].empty());
    }
  }
}

}  // namespace
