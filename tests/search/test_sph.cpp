// sph_idea and check_factors_sph called directly on a worker with a prepared
// prime state (modulus, order bound, grouped factors, per-k inverses), each
// call checked against independent arithmetic: the exact order of 2
// (Pollard-Brent), the residue X[k] as a discrete log in the subgroup of
// order M, every solution up to nhigh from a plain baby-step giant-step
// search, every hit handed on re-checked with __int128, and the counters.
//
// Besides the real k, some slots get a made-up k = -2^-n0 mod p (p < 2^31),
// so that t_k = 2^n0 and the solutions are known in advance.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "arith/modmul.h"
#include "search/hash.h"
#include "search/sph.h"
#include "search/worker.h"
#include "test_sph_support.h"
#include "worker_rig.h"

namespace {

using namespace sphtest;

constexpr uint32_t kAllK = (1u << kNumK) - 1;

class Sph : public ::testing::Test {
 protected:
  void SetUp() override {
    set_standard_db(kDefaultNhigh, false);
    rig_.rebuild();
    rig_.w.trace = &trace_;
  }

  // The worker's prime state.
  prime_state& ps() { return rig_.w.ps; }

  // The hits recorded since the last rebuild, as factor lines.
  std::vector<hit> recorded() const {
    std::vector<hit> out;
    for (const factor_hit& h : rig_.sink.hits) out.push_back(as_hit(h));
    return out;
  }

  // Slot i gets the made-up k with t_k = 2^n0 and the candidate class
  // equiv (mod power); power 0 stands for a slot without a class.
  static void set_fake_k(int i, u64 p, u64 n0, uint32_t power, uint32_t equiv) {
    ak[i] = static_cast<int32_t>(p - pow2inv(n0, p));
    akpower[i] = power;
    akequiv[i] = equiv;
    akmod[i] = power ? power : 1;
    aknres[i] = 1;
    akares[i][0] = power ? equiv : 0;
  }

  struct outcome {
    bool handled;
    std::vector<hit> hits;
  };

  // Builds the plan from the candidate globals, prepares the worker's state
  // for p, calls sph_idea and checks the call; returns what it handed on.
  outcome run(u64 p, u64 B, const std::vector<uint32_t>& factors, uint32_t mask) {
    rig_.rebuild();
    worker& w = rig_.w;
    prime_state& ps = w.ps;
    set_modulus(ps, p);
    for (int i = 0; i < kNumK; ++i) {
      const u64 minus_k = p - static_cast<u64>(ak[i]) % p;
      ps.amkinv[i] = powm(minus_k, p - 2, p);
    }
    ps.o2bfactors = static_cast<uint32_t>(factors.size());
    std::copy(factors.begin(), factors.end(), ps.ao2bfactors);
    ps.ao2bfactors[factors.size()] = 0;
    const search_counters before = w.stats;

    outcome out;
    out.handled = sph_idea(w, p, B, mask);
    out.hits = recorded();
    EXPECT_FALSE(ps.hash_overflow);

    const sph_trace_t& tr = trace_;
    EXPECT_EQ(tr.mask_in, mask);
    if (!out.handled) {
      EXPECT_EQ(tr.outcome, sph_declined);
      EXPECT_TRUE(out.hits.empty());
      EXPECT_EQ(w.stats.whackedk, before.whackedk);
      EXPECT_EQ(w.stats.whackedp, before.whackedp);
      return out;
    }
    EXPECT_NE(tr.outcome, sph_declined);
    EXPECT_EQ(tr.mask & ~mask, 0u);
    EXPECT_EQ(w.stats.whackedk - before.whackedk, static_cast<uint64_t>(popcount(mask) - popcount(tr.mask)));
    EXPECT_EQ(w.stats.whackedp - before.whackedp, tr.mask == 0 ? 1u : 0u);
    EXPECT_EQ(tr.outcome == sph_all_whacked, tr.mask == 0);
    if (tr.mask != 0) {
      EXPECT_EQ(tr.outcome, tr.M < 50 ? sph_to_bsgs : sph_to_classes);
    }

    // X[k] is the logarithm of t_k^(ord/M) to the base 2^(ord/M), which has
    // order exactly M, for every k that has solutions at all.
    const u64 ord = order_of_2(p);
    const u64 M = tr.M;
    EXPECT_EQ(ord % M, 0u) << "M does not divide the order of 2";
    const u64 g = powm(2, ord / M, p);
    for (int i = 0; i < kNumK; ++i) {
      if (!(tr.mask & (1u << i))) continue;
      EXPECT_LT(tr.X[i], M);
      const u64 t = ps.amkinv[i];
      if (powm(t, ord, p) == 1) {
        EXPECT_EQ(powm(g, tr.X[i], p), powm(t, ord / M, p)) << "k index " << i;
      }
    }

    // Every hit genuine and with the class modulus M when the residue-class
    // search found it; every solution among the candidate classes found; a
    // k searched by residue class gets every solution up to nhigh.
    std::vector<std::vector<u64>> reported(kNumK);
    for (const factor_hit& fh : rig_.sink.hits) {
      EXPECT_LT(fh.slot, kNumK);
      if (fh.slot >= kNumK) continue;
      const hit h = as_hit(fh);
      EXPECT_EQ(h.p, p);
      EXPECT_TRUE(genuine(h)) << h.p << " | " << h.k << "*2^" << h.n << "+1";
      EXPECT_EQ(fh.xmod, tr.outcome == sph_to_classes ? M : 0u) << h.n;
      EXPECT_FALSE(fh.only_if_candidate);
      EXPECT_TRUE(tr.mask & (1u << fh.slot)) << "hit for an eliminated k";
      if (h.n <= nhigh) reported[fh.slot].push_back(h.n);
    }
    const all_logs logs(p, nhigh);
    for (int i = 0; i < kNumK; ++i) {
      if (!(mask & (1u << i))) continue;
      std::vector<u64> got = reported[i];
      std::sort(got.begin(), got.end());
      EXPECT_TRUE(std::adjacent_find(got.begin(), got.end()) == got.end()) << "reported twice";
      const std::vector<u64> all = logs(ps.amkinv[i]);
      std::vector<u64> cls;
      for (u64 n : all)
        if (in_candidate_classes(i, n)) cls.push_back(n);
      EXPECT_TRUE(std::includes(got.begin(), got.end(), cls.begin(), cls.end()))
          << "k index " << i << ": a solution among the candidates was missed";
      if (tr.outcome == sph_to_classes && (tr.mask & (1u << i))) {
        EXPECT_EQ(got, all) << "k index " << i;
      }
    }
    return out;
  }

  // The first prime p = step*m + 1 (m = m0, m0 + 1, ...) that satisfies ok.
  template <class Pred>
  static u64 find_prime(u64 step, u64 m0, Pred ok) {
    for (u64 m = m0;; ++m) {
      const u64 p = step * m + 1;
      if (is_prime(p) && ok(p)) return p;
    }
  }

  testrig::worker_rig rig_;
  sph_trace_t trace_{};
};

constexpr uint32_t bit(int i) { return 1u << i; }

// Four primes just above 10^9 with the standard classes, each given its
// grouped factors and order bound as the order-bound step gives them and the
// survivors of the per-prime test: the class modulus M, the residues X of the
// surviving k and every hit up to nhigh.
TEST_F(Sph, FourPrimesAboveOneBillion) {
  struct Case {
    u64 p;
    u64 B;
    std::vector<uint32_t> factors;
    uint32_t mask;
    u64 M;
    std::vector<std::pair<int, u64>> X;
    std::vector<hit> hits;  // every hit up to nhigh
  };
  const Case cases[] = {
      {1000000021, 1000000020, {1140, 739, 1187}, bit(3) | bit(4), 842460, {{3, 303470}, {4, 441632}}, {}},
      {1000000891, 1000000890, {17010}, bit(8) | bit(11), 17010, {{8, 12517}, {11, 13203}}, {}},
      {1000000033, 500000016, {6096}, bit(0) | bit(2), 6096, {{0, 3591}, {2, 2285}},
       {{1000000033, 10223, 18540221}}},
      {1000002089, 1000002088, {226}, bit(1) | bit(10), 226, {{1, 14}, {10, 12}},
       {{1000002089, 55459, 12699178}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    const outcome out = run(c.p, c.B, c.factors, c.mask);
    ASSERT_TRUE(out.handled);
    EXPECT_EQ(trace_.outcome, sph_to_classes);
    EXPECT_EQ(trace_.M, c.M);
    EXPECT_EQ(trace_.mask, c.mask);
    for (auto [i, x] : c.X) EXPECT_EQ(trace_.X[i], x) << "k index " << i;
    std::vector<hit> low;
    for (const hit& h : out.hits)
      if (h.n <= nhigh) low.push_back(h);
    EXPECT_EQ(low, c.hits);
  }
}

// Which leading factors are used, and when the prime is declined. 1000000021
// has p - 1 = 2^2*3*5*19*739*1187, and the order of 2 is p - 1 (checked), so
// any product of those prime powers is a valid entry.
TEST_F(Sph, FactorChoiceAndDecline) {
  const u64 p = 1000000021;
  ASSERT_EQ(order_of_2(p), p - 1);
  struct Case {
    std::vector<uint32_t> factors;
    uint32_t nh;
    bool enabled;
    u64 M;
    bool handled;
  };
  const Case cases[] = {
      {{}, 20000000, true, 1, false},                      // no factors
      {{1140}, 1000, true, 1, false},                      // first entry above nhigh
      {{2, 739}, 1000, true, 2, false},                    // 739 > nhigh/2
      {{3, 4, 5}, 11, true, 3, false},                     // 4 > 11/3: the walk stops
      {{4, 739}, 1000, true, 4, true},                     // smallest accepted M
      {{3, 19, 739, 4}, 1000, true, 57, true},             // 739 > 1000/57, 4 is not tried
      {{60, 19}, 1140, true, 1140, true},                  // M = nhigh
      {{1140, 739, 1187}, 20000000, false, 1, false},      // switched off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "nhigh " << c.nh << " M " << c.M);
    set_standard_db(c.nh, c.nh <= 1000000);
    rig_.w.use_sph = c.enabled;
    const outcome out = run(p, p - 1, c.factors, kAllK);
    EXPECT_EQ(out.handled, c.handled);
    if (c.enabled) {
      EXPECT_EQ(trace_.M, c.M);
    }
  }
}

// 2^-n0 gives known solutions n0 + i*ord. p - 1 = 2*5^2*7^2*m with 2 not a
// square and neither a fifth nor a seventh power: 49 and 50 are valid
// entries. M = 49 goes to the plain search, M = 50 to the class search, and
// both find the same solutions. Slots 0..2 made-up k, the rest real k.
TEST_F(Sph, HandOffAt49And50) {
  const u64 p = find_prime(2450, 1000000000 / 2450, [](u64 q) {
    return (q - 1) % 4 != 0 && powm(2, (q - 1) / 2, q) != 1 && powm(2, (q - 1) / 5, q) != 1 &&
           powm(2, (q - 1) / 7, q) != 1;
  });
  set_standard_db(1000000, false);
  const u64 ord = order_of_2(p);
  set_fake_k(0, p, 123457, 1, 0);
  set_fake_k(1, p, ord + 98765, 2, 1);   // smallest solution 98765
  set_fake_k(2, p, 600001, 10, 1);
  for (auto [factors, handoff] : {std::pair{std::vector<uint32_t>{49}, sph_to_bsgs},
                                  std::pair{std::vector<uint32_t>{50}, sph_to_classes}}) {
    SCOPED_TRACE(factors[0]);
    const outcome out = run(p, p - 1, factors, kAllK);
    ASSERT_TRUE(out.handled);
    EXPECT_EQ(trace_.outcome, handoff);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(trace_.mask & bit(i));
    EXPECT_EQ(trace_.X[0], 123457 % factors[0]);
    EXPECT_EQ(trace_.X[1], 98765 % factors[0]);
    int fake_hits = 0;
    for (const hit& h : out.hits) fake_hits += (h.k == ak[0] || h.k == ak[1] || h.k == ak[2]) && h.n <= nhigh;
    EXPECT_GE(fake_hits, 3);
  }
}

// The residue-class filter: a k whose class modulo gcd(akpower, M) differs
// from X[k] is eliminated and counted; a k with akpower 0 has no class and
// is kept whatever X[k] is.
TEST_F(Sph, ResidueClassFilter) {
  const u64 p = find_prime(2450, 1000000000 / 2450, [](u64 q) {
    return (q - 1) % 4 != 0 && powm(2, (q - 1) / 2, q) != 1 && powm(2, (q - 1) / 5, q) != 1 &&
           powm(2, (q - 1) / 7, q) != 1;
  });
  set_standard_db(1000000, false);
  // Solutions 777 + 1000i, all = 7 (mod 10) and = 27 (mod 50).
  set_fake_k(0, p, 777, 10, 7);    // = 7 (mod 10): kept
  set_fake_k(1, p, 1777, 10, 3);   // gcd(10, 50) = 10, 7 != 3: eliminated
  set_fake_k(2, p, 2777, 4, 3);    // gcd(4, 50) = 2, 1 = 3 (mod 2): kept
  set_fake_k(3, p, 3777, 4, 0);    // 1 != 0 (mod 2): eliminated
  set_fake_k(4, p, 4777, 0, 0);    // no class: kept
  const uint32_t mask = bit(0) | bit(1) | bit(2) | bit(3) | bit(4);
  const outcome out = run(p, p - 1, {50}, mask);
  ASSERT_TRUE(out.handled);
  EXPECT_EQ(trace_.mask, bit(0) | bit(2) | bit(4));
  int slot4 = 0;
  for (const hit& h : out.hits) slot4 += h.k == ak[4] && h.n == 4777;
  EXPECT_EQ(slot4, 1);

  // Only contradicting k: all eliminated by the filter, one prime counted.
  const outcome none = run(p, p - 1, {50}, bit(1) | bit(3));
  EXPECT_TRUE(none.handled);
  EXPECT_EQ(trace_.outcome, sph_all_whacked);
}

// A run of three equal entries q builds one giant-step table, lifts n mod q,
// q^2, q^3 and leaves the entries 0, 0, q^3.
TEST_F(Sph, RunOfThreeEqualFactors) {
  const u64 q = 181, q3 = q * q * q;
  const u64 p = find_prime(2 * q3, 1000000000 / (2 * q3), [&](u64 x) { return powm(2, (x - 1) / q, x) != 1; });
  const u64 n0[] = {0, 1, q3 - 1, 4000000, 19999999, q3 * 2 + q * q * 5 + q * 7 + 11};
  for (int i = 0; i < 6; ++i) set_fake_k(i, p, n0[i], 1, 0);
  const outcome out = run(p, p - 1, {q, q, q}, kAllK);
  ASSERT_TRUE(out.handled);
  EXPECT_EQ(trace_.tables, 1u);
  EXPECT_EQ(trace_.M, q3);
  EXPECT_EQ(ps().ao2bfactors[0], 0u);
  EXPECT_EQ(ps().ao2bfactors[1], 0u);
  EXPECT_EQ(ps().ao2bfactors[2], q3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(trace_.X[i], n0[i] % q3) << i;
}

// A lone prime factor just below 2^24 needs s = 4096 baby steps and a giant-
// step table of 4096 entries, the largest any factor gives; the hash table
// has room to spare and every lookup ends.
TEST_F(Sph, LoneFactorJustBelow2To24) {
  const u64 f = 16777213;  // prime; 4095*4096 < f < 2^24
  ASSERT_TRUE(is_prime(f));
  EXPECT_GE(ps().ahashexp.size(), 2u * 4096u);
  const u64 p = find_prime(2 * f, 30, [&](u64 x) { return powm(2, (x - 1) / f, x) != 1; });
  ASSERT_LT(p, 1ULL << 31);
  const u64 n0[] = {0, f - 1, f, 4095 * 4096, 12345678, 19999999};
  for (int i = 0; i < 6; ++i) set_fake_k(i, p, n0[i], 1, 0);
  const outcome out = run(p, p - 1, {static_cast<uint32_t>(f)}, kAllK);
  ASSERT_TRUE(out.handled);
  EXPECT_EQ(trace_.M, f);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(trace_.X[i], n0[i] % f) << i;
}

// p = 7 (mod 8): 2 is a square, so the order bound (p-1)/2 is odd, and a k
// whose t_k is no square has no logarithm in any odd subgroup: it is
// eliminated at the first factor. With every k gone the prime is counted
// once, whether that happens before the last factor or after it.
TEST_F(Sph, EveryKEliminatedInASubgroup) {
  const u64 q1 = 1009, q2 = 1013;
  const u64 p = find_prime(2 * q1 * q2, 1000000000 / (2 * q1 * q2), [&](u64 x) {
    return x % 8 == 7 && powm(2, (x - 1) / q1, x) != 1 && powm(2, (x - 1) / q2, x) != 1;
  });
  uint32_t nonsquares = 0;
  for (int i = 0; i < kNumK; ++i) {
    const u64 t = powm(p - static_cast<u64>(ak[i]), p - 2, p);
    if (powm(t, (p - 1) / 2, p) != 1) nonsquares |= bit(i);
  }
  ASSERT_NE(nonsquares, 0u);
  ASSERT_NE(nonsquares, kAllK);
  for (const std::vector<uint32_t>& factors : {std::vector<uint32_t>{1009}, std::vector<uint32_t>{1009, 1013}}) {
    SCOPED_TRACE(factors.size());
    const outcome out = run(p, (p - 1) / 2, factors, nonsquares);
    EXPECT_TRUE(out.handled);
    EXPECT_EQ(trace_.outcome, sph_all_whacked);
    EXPECT_TRUE(out.hits.empty());
  }
  // The squares among the k survive the subgroup step.
  const outcome rest = run(p, (p - 1) / 2, {1009, 1013}, kAllK & ~nonsquares);
  EXPECT_TRUE(rest.handled);
}

// M = nhigh: r = 2, S = 2M, and the class search must still reach n = nhigh
// when X = 0.
TEST_F(Sph, ClassSearchReachesNhigh) {
  const u64 p = 1000000021;  // order of 2 is p - 1
  set_standard_db(1140, false);
  set_fake_k(0, p, 1140, 1, 0);
  set_fake_k(1, p, 0, 1, 0);
  set_fake_k(2, p, 1139, 1, 0);
  const outcome out = run(p, p - 1, {1140}, bit(0) | bit(1) | bit(2));
  EXPECT_EQ(trace_.outcome, sph_to_classes);
  std::vector<hit> low;
  for (const hit& h : out.hits)
    if (h.n <= nhigh) low.push_back(h);
  std::sort(low.begin(), low.end());
  std::vector<hit> want = {{p, ak[0], 1140}, {p, ak[1], 0}, {p, ak[2], 1139}};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(low, want);
}

// check_factors_sph on its own: every n = X (mod M) up to nhigh, including
// several solutions per k when the order of 2 is far below nhigh, each once.
TEST_F(Sph, ClassSearchFindsEveryRepeat) {
  const u64 p = 2147483647;  // 2^31 - 1: the order of 2 is 31
  set_standard_db(100000, false);
  set_fake_k(0, p, 5, 1, 0);
  rig_.rebuild();
  set_modulus(ps(), p);
  ps().amkinv[0] = 32;  // 2^5
  const uint64_t X[kNumK] = {5 % 62};
  check_factors_sph(rig_.w, p, bit(0), 62, X);
  std::vector<u64> got;
  for (const factor_hit& h : rig_.sink.hits) {
    EXPECT_EQ(h.slot, 0);
    EXPECT_EQ(h.xmod, 62u);
    if (h.n <= nhigh) got.push_back(h.n);
  }
  std::sort(got.begin(), got.end());
  std::vector<u64> want;
  for (u64 n = 5; n <= nhigh; n += 62) want.push_back(n);
  EXPECT_EQ(got, want);
}

// The largest tables for any nhigh: a subgroup table of up to 4096 entries
// and a class table of floor(nhigh/S) + 1 entries, computed as the search
// computes S, for every class modulus M >= 50, must leave at least half the
// hash table empty (so every lookup of an absent value stops early).
TEST_F(Sph, TablesFitTheHashTable) {
  const uint32_t nhighs[] = {0, 1000, 59998, 5000000, 20000000, 64864800, 838451250, 2147483648u, 4294967295u};
  prime_state ps;
  for (uint32_t nh : nhighs) {
    hash_init(ps, nh);
    const u64 slots = ps.ahashexp.size();
    EXPECT_LE(2 * 4096u, slots) << nh;
    u64 most = 0;
    for (u64 M = 50; M <= nh && M < 200000; ++M) {
      const u64 r = static_cast<u64>(std::sqrt(static_cast<long double>(nh) / static_cast<long double>(M))) + 1;
      most = std::max(most, nh / (r * M) + 1);
    }
    EXPECT_LE(2 * most, slots) << nh;
  }
}

// nhigh = 2^32 - 1: M = 60 gives r = 8461 and S above 500,000; n that would
// pass 2^32 are not reported (a 32-bit sum would wrap them into false hits),
// and every solution up to nhigh is.
TEST_F(Sph, LargestNhigh) {
  const u64 p = 1000000021;  // order of 2 is p - 1
  set_standard_db(UINT32_MAX, false);
  set_fake_k(0, p, 4294967295u - 7, 1, 0);
  set_fake_k(1, p, 3000000001u, 1, 0);
  set_fake_k(2, p, 59, 1, 0);
  const outcome out = run(p, p - 1, {60}, kAllK);
  ASSERT_TRUE(out.handled);
  EXPECT_EQ(trace_.outcome, sph_to_classes);
  int fake = 0;
  for (const hit& h : out.hits) fake += h.k == ak[0] || h.k == ak[1] || h.k == ak[2];
  EXPECT_GE(fake, 3 + 2 + 4);  // n0 and its repeats every p - 1 below 2^32
}

// The residue-class search hands on its hits per k in index order, per walk
// offset u, per giant step j (equal table entries in the order stored): they
// must come in exactly that order, worked out here by brute force over
// the n = X + u + S*j. Orders of 2 that make many table entries equal (31,
// dividing S, so every giant step is 1) or give several hits per k (7815).
TEST_F(Sph, ClassSearchReportsInWalkOrder) {
  struct row {
    u64 p;
    uint32_t nh;
    uint32_t M;
  };
  const row rows[] = {{2147483647, 20000, 62}, {1460279641, 100000, 15}, {1460279641, 100000, 53}};
  for (const row& c : rows) {
    SCOPED_TRACE("p = " + std::to_string(c.p) + ", M = " + std::to_string(c.M));
    set_standard_db(c.nh, false);
    const u64 ord = order_of_2(c.p);
    uint64_t X[kNumK] = {};
    for (int i = 0; i < kNumK; ++i) set_fake_k(i, c.p, 1000 + 37 * static_cast<u64>(i), 1, 0);
    rig_.rebuild();
    set_modulus(ps(), c.p);
    for (int i = 0; i < kNumK; ++i) {
      const u64 n0 = 1000 + 37 * static_cast<u64>(i);
      ps().amkinv[i] = powm(c.p - static_cast<u64>(ak[i]) % c.p, c.p - 2, c.p);
      // A class with solutions when the order shares a factor with M, and
      // one class off it for k index 5.
      X[i] = (n0 + (i == 5 ? 1 : 0)) % c.M;
    }
    const uint32_t mask = kAllK & ~bit(3);
    check_factors_sph(rig_.w, c.p, mask, c.M, X);
    std::vector<std::pair<int64_t, u64>> got;
    for (const factor_hit& h : rig_.sink.hits) {
      EXPECT_EQ(h.p, c.p);
      EXPECT_EQ(h.xmod, c.M);
      got.emplace_back(ak[h.slot], h.n);
    }
    const u64 r = static_cast<u64>(std::sqrt(static_cast<long double>(nhigh) / static_cast<long double>(c.M))) + 1;
    const u64 S = r * c.M;
    const u64 ulimit = std::min<u64>(S, u64{nhigh} + 1);
    std::vector<std::pair<int64_t, u64>> want;
    for (int i = 0; i < kNumK; ++i) {
      if (!(mask & bit(i))) continue;
      const u64 t = ps().amkinv[i];
      for (u64 u = 0; u < ulimit; u += c.M) {
        for (u64 j = 0; j <= nhigh / S; ++j) {
          const u64 n = X[i] + u + S * j;
          if (n <= UINT32_MAX && powm(2, n % ord, c.p) == t) want.emplace_back(ak[i], n);
        }
      }
    }
    EXPECT_GE(want.size(), 10u);  // the comparison is not vacuous
    EXPECT_EQ(got, want);
  }
}

}  // namespace
