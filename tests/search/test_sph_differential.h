// The differential check of the Pohlig-Hellman path inside the pipeline,
// shared by the pipeline tests: the same primes through test_idea with
// sph_enabled on and off, against the solutions of a plain search in
// __int128 arithmetic.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "primes/sieve.h"
#include "search/hash.h"
#include "search/per_prime.h"
#include "search/sph.h"
#include "test_sph_support.h"

namespace sphtest {

constexpr sph_outcome_t kNotCalled = static_cast<sph_outcome_t>(99);

// For count primes from low: the Pohlig-Hellman path, the plain search alone,
// and the independent solutions must agree on every hit n <= nhigh in the
// candidates' classes; fact.txt must be the same for both paths; every line
// is a factor. fill: every n of the standard classes is a candidate (else the
// sets are empty and every hit is an excluded one). Counts the outcomes of
// sph_idea into seen.
inline int differential(scratch_dir& dir, u64 low, int count, uint32_t nh, bool fill, int seen[4]) {
  SCOPED_TRACE(testing::Message() << "window " << low << " nhigh " << nh);
  using key = std::tuple<u64, int64_t, u64>;
  std::vector<u64> primes;
  std::vector<hit> fact[2];
  std::set<key> low_hits[2];
  for (int pass = 0; pass < 2; ++pass) {
    sph_enabled = pass == 0;
    set_standard_db(nh, fill);
    initialize();
    hash_init(nhigh);
    dir.clear_factor_files();
    sievewindowlow = low;
    sievewindowindex = 0xFFFFFFFF;
    eratosthenes_window(low);
    for (int c = 0; c < count; ++c) {
      const u64 p = next_sieved_p();
      EXPECT_LT(p, kPLimit);
      if (pass == 0) primes.push_back(p);
      sph_trace.outcome = kNotCalled;
      const uint64_t wk = stat_whackedk, wp = stat_whackedp;
      test_idea(p);
      if (pass == 1) {
        if (sph_trace.outcome != kNotCalled) {
          EXPECT_EQ(sph_trace.outcome, sph_declined);
        }
        continue;
      }
      if (sph_trace.outcome == kNotCalled) {
        EXPECT_EQ(stat_whackedk - wk, 12u);
        continue;
      }
      ++seen[sph_trace.outcome];
      if (sph_trace.outcome == sph_declined) continue;
      // Counters: 12 - survivors of test_idea, plus those sph_idea dropped.
      EXPECT_EQ(stat_whackedk - wk, static_cast<uint64_t>(12 - popcount(sph_trace.mask))) << p;
      EXPECT_EQ(stat_whackedp - wp, sph_trace.mask == 0 ? 1u : 0u) << p;
      // X[k] = n mod M for every solution n of every k handed on.
      const u64 ord = order_of_2(p);
      EXPECT_EQ(ord % sph_trace.M, 0u) << p;
      const u64 g = powm(2, ord / sph_trace.M, p);
      for (int i = 0; i < kNumK; ++i) {
        if (!(sph_trace.mask & (1u << i))) continue;
        const u64 t = ps.amkinv[i];
        if (powm(t, ord, p) == 1) {
          EXPECT_EQ(powm(g, sph_trace.X[i], p), powm(t, ord / sph_trace.M, p)) << p << " k index " << i;
        }
      }
    }
    fact[pass] = read_hits("fact.txt");
    std::sort(fact[pass].begin(), fact[pass].end());
    std::vector<hit> all = fact[pass];
    for (const hit& h : read_hits("factexcl.txt")) all.push_back(h);
    for (const hit& h : all) {
      EXPECT_TRUE(genuine(h)) << h.p << " | " << h.k << "*2^" << h.n << "+1";
      int i = 0;
      while (i < kNumK && ak[i] != h.k) ++i;
      EXPECT_LT(i, kNumK);
      if (i < kNumK && h.n <= nhigh && in_candidate_classes(i, h.n)) {
        EXPECT_TRUE(low_hits[pass].insert(key{h.p, h.k, h.n}).second) << "reported twice: " << h.n;
      }
    }
  }
  EXPECT_EQ(fact[0], fact[1]);

  // Every solution n <= nhigh in the class of each k, by the plain search
  // over that class in __int128 arithmetic (one table per class modulus).
  std::set<key> expected;
  for (u64 p : primes) {
    std::vector<std::pair<u64, class_logs>> logs;
    for (int i = 0; i < kNumK; ++i) {
      auto it = logs.begin();
      while (it != logs.end() && it->first != akpower[i]) ++it;
      if (it == logs.end()) it = logs.emplace(logs.end(), akpower[i], class_logs(p, akpower[i], nh));
      const u64 t = powm(p - static_cast<u64>(ak[i]), p - 2, p);
      for (u64 n : it->second(t, akequiv[i])) expected.insert(key{p, ak[i], n});
    }
  }
  EXPECT_EQ(low_hits[0], expected) << "Pohlig-Hellman path";
  EXPECT_EQ(low_hits[1], expected) << "plain search";
  return static_cast<int>(expected.size());
}

}  // namespace sphtest
