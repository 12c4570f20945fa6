// The differential check of the Pohlig-Hellman path inside the pipeline,
// shared by the pipeline tests: the same primes through a worker's
// test_prime with the Pohlig-Hellman search on and off, against the
// solutions of a plain search in __int128 arithmetic.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "primes/sieve.h"
#include "search/sph.h"
#include "search/worker.h"
#include "test_sph_support.h"
#include "worker_rig.h"

namespace sphtest {

constexpr sph_outcome_t kNotCalled = static_cast<sph_outcome_t>(99);

// For count primes from low: the Pohlig-Hellman path, the plain search alone,
// and the independent solutions must agree on every hit n <= nhigh in the
// candidates' classes; every hit is a factor; filed, fact.txt must be the
// same for both paths. fill: every n of the standard classes is a candidate
// (else the sets are empty and every hit is an excluded one). Counts the
// outcomes of sph_idea into seen.
inline int differential(scratch_dir& dir, u64 low, int count, uint32_t nh, bool fill, int seen[4]) {
  SCOPED_TRACE(testing::Message() << "window " << low << " nhigh " << nh);
  using key = std::tuple<u64, int64_t, u64>;
  std::vector<u64> primes;
  std::vector<hit> fact[2];
  std::set<key> low_hits[2];
  testrig::worker_rig rig;
  worker& w = rig.w;
  sph_trace_t trace{};
  w.trace = &trace;
  rig.sink.filing = true;
  for (int pass = 0; pass < 2; ++pass) {
    w.use_sph = pass == 0;
    set_standard_db(nh, fill);
    rig.rebuild();
    dir.clear_factor_files();
    w.sieve.sieve_window(low);
    for (int c = 0; c < count; ++c) {
      const u64 p = w.sieve.next();
      EXPECT_LT(p, kPLimit);
      if (pass == 0) primes.push_back(p);
      trace.outcome = kNotCalled;
      const search_counters before = w.stats;
      w.test_prime(p, w.sieve.pm1_factors());
      const uint64_t wk = w.stats.whackedk - before.whackedk, wp = w.stats.whackedp - before.whackedp;
      if (pass == 1) {
        if (trace.outcome != kNotCalled) {
          EXPECT_EQ(trace.outcome, sph_declined);
        }
        continue;
      }
      if (trace.outcome == kNotCalled) {
        EXPECT_EQ(wk, 12u);
        continue;
      }
      ++seen[trace.outcome];
      if (trace.outcome == sph_declined) continue;
      // Counters: 12 - survivors of test_prime, plus those sph_idea dropped.
      EXPECT_EQ(wk, static_cast<uint64_t>(12 - popcount(trace.mask))) << p;
      EXPECT_EQ(wp, trace.mask == 0 ? 1u : 0u) << p;
      // X[k] = n mod M for every solution n of every k handed on.
      const u64 ord = order_of_2(p);
      EXPECT_EQ(ord % trace.M, 0u) << p;
      const u64 g = powm(2, ord / trace.M, p);
      for (int i = 0; i < kNumK; ++i) {
        if (!(trace.mask & (1u << i))) continue;
        const u64 t = w.ps.amkinv[i];
        if (powm(t, ord, p) == 1) {
          EXPECT_EQ(powm(g, trace.X[i], p), powm(t, ord / trace.M, p)) << p << " k index " << i;
        }
      }
    }
    EXPECT_FALSE(w.ps.hash_overflow);
    EXPECT_FALSE(rig.sink.files.failed()) << rig.sink.files.error();
    fact[pass] = read_hits("fact.txt");
    std::sort(fact[pass].begin(), fact[pass].end());
    for (const factor_hit& fh : rig.sink.hits) {
      EXPECT_LT(fh.slot, kNumK);
      if (fh.slot >= kNumK) continue;
      const hit h = as_hit(fh);
      EXPECT_TRUE(genuine(h)) << h.p << " | " << h.k << "*2^" << h.n << "+1";
      if (h.n <= nhigh && in_candidate_classes(fh.slot, h.n)) {
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
