// The general search against brute force: for small nhigh every n from 0 to
// nhigh is tried directly (2^n mod p in 128-bit arithmetic), and the hits the
// worker hands on must be exactly those in the listed residue classes, each
// once; filed through the program's sink they land in the right file. Cases: class moduli that divide the stride 15840 and
// moduli that do not (multiplier 7 or 9, a modulus above the stride, several
// strides in one call), primes whose order of 2 divides 15840 (every giant
// step is 1), a mask that leaves slots out, nhigh below the stride, and hits
// above nhigh.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "arith/modmul.h"
#include "search/bsgs.h"
#include "search/hash.h"
#include "search/worker.h"
#include "search_test_util.h"
#include "worker_rig.h"

namespace {

using namespace search_test;

// Class of one slot: n = a (mod M), analysed with multiplier mult, dropping
// the residues modulo M*mult listed in drop_classes.
struct slot_cfg {
  uint32_t a;
  uint32_t M;
  uint32_t mult;
  std::set<uint32_t> drop_classes;
};

struct search_case {
  const char* what;
  std::vector<slot_cfg> slots;  // slot i gets slots[i]; missing slots stay empty
  uint32_t mask;
};

slot_cfg standard(int i, uint32_t mult, std::set<uint32_t> drop = {}) {
  return slot_cfg{std_akequiv[i], std_akpower[i], mult, std::move(drop)};
}

std::vector<search_case> cases() {
  std::vector<search_case> out;
  search_case s{"standard classes, moduli dividing 15840", {}, 0xFFF};
  for (int i = 0; i < kNumK; ++i) s.slots.push_back(standard(i, 1));
  out.push_back(s);

  // Multiplier 7: no modulus divides 15840, five different strides. One of
  // the seven classes is not listed.
  search_case m7{"moduli akpower*7, one class dropped", {}, 0xFFF};
  for (int i = 0; i < kNumK; ++i) {
    m7.slots.push_back(standard(i, 7, {(std_akequiv[i] + 3 * std_akpower[i]) % (7 * std_akpower[i])}));
  }
  out.push_back(m7);

  // Dividing and non-dividing moduli mixed in one call (8*9 = 72 and 12*5 =
  // 60 divide 15840, 24*9 = 216 does not), a modulus above the stride, and a
  // slot in the mask with no residues.
  search_case mix{"mixed strides", {}, 0xFFF};
  for (int i = 0; i < kNumK; ++i) mix.slots.push_back(standard(i, i % 2 ? 9 : 1));
  mix.slots[10] = standard(10, 5);
  mix.slots[11] = slot_cfg{3, 20011, 1, {}};
  mix.slots[9] = slot_cfg{0, 0, 0, {}};  // empty slot
  out.push_back(mix);

  search_case part{"mask leaves slots out", {}, 0x5A5};
  for (int i = 0; i < kNumK; ++i) part.slots.push_back(standard(i, i % 3 == 0 ? 7 : 1));
  out.push_back(part);
  return out;
}

struct reference_hit {
  int slot;
  uint32_t n;
};

class BsgsTest : public testing::Test {
 protected:
  void TearDown() override { reset_db(kDefaultNhigh); }

  // Sets up the slots, forces hits where the prime allows it, runs the
  // search and checks its hits, and the factor files they are filed to,
  // against brute force.
  // With hint_M > 0 (a divisor of the order of 2, ord), the search gets the
  // residue of every slot's solutions modulo hint_M, as the Pohlig-Hellman
  // search hands it over; the hits must be the same.
  void run_case(uint64_t p, uint32_t nh, const search_case& c, std::mt19937_64& rng,
                uint32_t hint_M = 0, uint64_t ord = 0) {
    SCOPED_TRACE(std::string(c.what) + ", p = " + std::to_string(p) + ", nhigh = " + std::to_string(nh));
    TempDir dir;
    reset_db(nh);
    for (size_t i = 0; i < c.slots.size(); ++i) {
      const slot_cfg& s = c.slots[i];
      if (s.M != 0) fill_slot(static_cast<int>(i), s.a, s.M, s.mult, s.drop_classes);
    }
    // Give each slot a k with a hit at one of its candidates (the largest
    // one up to nhigh for slot 0, the smallest for slot 1), where such a k is
    // below 2^31.
    for (int i = 0; i < kNumK; ++i) {
      std::vector<uint32_t> cand;
      for (uint32_t n : aunfacset[i]) if (n <= nh) cand.push_back(n);
      if (cand.empty()) continue;
      for (int tries = 0; tries < 40; ++tries) {
        uint32_t n0 = cand[rng() % cand.size()];
        if (i == 0 && tries == 0) n0 = cand.back();
        if (i == 1 && tries == 0) n0 = cand.front();
        const uint64_t k = k_with_factor(p, n0);
        // Distinct k per slot, so that a factor line names its slot.
        if (k < (1ULL << 31) && std::find(ak, ak + kNumK, static_cast<int32_t>(k)) == ak + kNumK) {
          ak[i] = static_cast<int32_t>(k);
          break;
        }
      }
    }
    uint64_t target[kNumK];
    for (int i = 0; i < kNumK; ++i) target[i] = ref_inv(p - static_cast<uint64_t>(ak[i]) % p, p);

    // Brute force: every n up to nhigh in a listed class of a slot of the mask.
    std::vector<reference_hit> expected;
    uint64_t v = 1;
    for (uint32_t n = 0; n <= nh; ++n) {
      for (int i = 0; i < kNumK; ++i) {
        if (v == target[i] && ((c.mask >> i) & 1) && listed(i, n)) expected.push_back({i, n});
      }
      v = v * 2 % p;
    }
    // Take a third of them out of the candidate sets: they must come back as
    // duplicates in "factexcl.txt".
    std::set<hit> want_fact, want_excl;
    for (const reference_hit& h : expected) {
      const hit x{p, ak[h.slot], h.n};
      if (aunfacset[h.slot].count(h.n) && rng() % 3 != 0) {
        want_fact.insert(x);
      } else {
        aunfacset[h.slot].erase(h.n);
        want_excl.insert(x);
      }
    }

    rig_.rebuild();
    rig_.sink.filing = true;
    worker& w = rig_.w;
    for (int i = 0; i < kNumK; ++i) w.ps.amkinv[i] = target[i];
    set_modulus(w.ps, p);
    testing::internal::CaptureStdout();
    if (hint_M == 0) {
      check_factors(w, p, c.mask);
    } else {
      // Every solution of slot i is n0 + j*ord with 2^n0 = target[i], so
      // n = n0 (mod hint_M); a slot without solution takes any residue.
      uint64_t X[kNumK] = {};
      uint64_t pw = 1;
      for (uint64_t n = 0; n < ord; ++n) {
        for (int i = 0; i < kNumK; ++i) {
          if (pw == target[i]) X[i] = n % hint_M;
        }
        pw = pw * 2 % p;
      }
      check_factors(w, p, c.mask, hint_M, X);
    }
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(rig_.sink.files.failed()) << rig_.sink.files.error();

    // The hits themselves: each a factor, of a k of the mask, in one of its
    // listed classes, found once; those up to nhigh exactly the brute force.
    std::set<std::pair<int, uint32_t>> got_hits, want_hits;
    for (const reference_hit& h : expected) want_hits.emplace(h.slot, h.n);
    std::set<std::pair<int, uint32_t>> seen;
    size_t above = 0;
    for (const factor_hit& h : rig_.sink.hits) {
      ASSERT_LT(h.slot, kNumK);
      const std::string line = std::to_string(ak[h.slot]) + "*2^" + std::to_string(h.n) + "+1";
      EXPECT_EQ(h.p, p) << line;
      EXPECT_EQ(h.xmod, 0u) << line;
      EXPECT_FALSE(h.only_if_candidate) << line;
      EXPECT_TRUE(ref_divides(p, static_cast<uint64_t>(ak[h.slot]), h.n)) << line;
      EXPECT_TRUE(((c.mask >> h.slot) & 1) && listed(h.slot, h.n))
          << "outside the listed classes: " << line;
      EXPECT_TRUE(seen.insert({h.slot, h.n}).second) << "reported twice: " << line;
      if (h.n <= nh) got_hits.emplace(h.slot, h.n); else ++above;
    }
    EXPECT_EQ(got_hits, want_hits);

    // Filed: the new factors to "fact.txt", the others to "factexcl.txt",
    // every hit one line there and one on the console.
    const std::vector<hit> fact = read_hits("fact.txt");
    const std::vector<hit> excl = read_hits("factexcl.txt");
    std::set<hit> got_fact(fact.begin(), fact.end());
    std::set<hit> got_excl_in_range;
    for (const hit& h : excl) {
      if (h.n <= nh) got_excl_in_range.insert(h);
    }
    EXPECT_EQ(fact.size() + excl.size(), rig_.sink.hits.size());
    EXPECT_EQ(got_fact, want_fact);
    EXPECT_EQ(got_excl_in_range, want_excl);
    EXPECT_EQ(fact.size() + excl.size(), static_cast<size_t>(std::count(console.begin(), console.end(), '\n')));
    EXPECT_EQ(above, count_of(console, "\t(outside range)"));
    EXPECT_EQ(want_excl.size(), count_of(console, "\t(duplicate)"));
    total_hits_ += expected.size();
  }

  static bool listed(int i, uint32_t n) {
    if (akmod[i] == 0) return false;
    for (uint32_t j = 0; j < aknres[i]; ++j) {
      if (n % akmod[i] == akares[i][j]) return true;
    }
    return false;
  }

  // Gives slot 0 the k (below p < 2^31) for which p divides k*2^n+1, runs
  // the search for slot 0 alone, files its hits and returns the console
  // output.
  std::string search_slot0_with_factor_at(uint64_t p, uint32_t n) {
    ak[0] = static_cast<int32_t>(k_with_factor(p, n));
    rig_.rebuild();
    rig_.sink.filing = true;
    worker& w = rig_.w;
    w.ps.amkinv[0] = ref_inv(p - static_cast<uint64_t>(ak[0]), p);
    set_modulus(w.ps, p);
    testing::internal::CaptureStdout();
    check_factors(w, p, 1);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(rig_.sink.files.failed()) << rig_.sink.files.error();
    return console;
  }

  static size_t count_of(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  size_t total_hits_ = 0;
  testrig::worker_rig rig_;
};

// Primes from 10^9 to just below 2^31 and a little above it: random ones
// (order of 2 near p, one forced hit per slot) and ones whose order of 2 is a
// few thousand (several hits per class).
TEST_F(BsgsTest, MatchesBruteForce) {
  const std::vector<uint64_t> primes = {
      1000000007, 1000000009, 1000000021, 1000000033, 2147483647,  // 2^31 - 1: order 31
      1460279641,  // order 7815
      1913310257,  // order 10582
      1628393759,  // order 37717
      1514971391,  // order 20645
      2146043153,  // order 51106
      1229493337,  // order 19711
      2348354977,  // order 22396
      2735732143,  // order 48917
  };
  const uint32_t nhighs[] = {50000, 123457, 200000, 47520};
  std::mt19937_64 rng(4242);
  int run = 0;
  for (const search_case& c : cases()) {
    for (uint64_t p : primes) {
      run_case(p, nhighs[run++ % 4], c, rng);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(total_hits_, 500u);  // the comparison is not vacuous
}

// The residues known from the Pohlig-Hellman search: primes of known order of
// 2 and a divisor M <= 49 of it; the walks skip the residues that contradict
// n mod M, and the hits stay exactly those of the brute force.
TEST_F(BsgsTest, KnownResiduesModuloMGiveTheSameHits) {
  struct prime_case {
    uint64_t p, ord;
    uint32_t M;
  };
  const prime_case primes[] = {
      {1460279641, 7815, 15},  {1913310257, 10582, 26}, {1514971391, 20645, 5},
      {2146043153, 51106, 46}, {1229493337, 19711, 23}, {2348354977, 22396, 44},
      {2735732143, 48917, 11},
  };
  std::mt19937_64 rng(777);
  int run = 0;
  const uint32_t nhighs[] = {50000, 123457, 200000};
  for (const search_case& c : cases()) {
    for (const prime_case& pc : primes) {
      ASSERT_EQ(ref_pow(2, pc.ord, pc.p), 1u);
      ASSERT_EQ(pc.ord % pc.M, 0u);
      run_case(pc.p, nhighs[run++ % 3], c, rng, pc.M, pc.ord);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(total_hits_, 300u);  // the comparison is not vacuous
}

// Orders of 2 that divide 15840: every giant step 2^(15840*j) is 1, so a walk
// value of 1 matches all table entries at once, one n per entry.
TEST_F(BsgsTest, OrderOfTwoDividingTheStride) {
  const uint64_t primes[] = {2931542417ULL /* order 88 */, 4278255361ULL /* 80 */,
                             4562284561ULL /* 120 */, 1761345169ULL /* 264 */};
  std::mt19937_64 rng(99);
  for (uint64_t p : primes) {
    ASSERT_EQ(ref_pow(2, 15840, p), 1u);
    for (const search_case& c : cases()) run_case(p, 60000, c, rng);
  }
  EXPECT_GT(total_hits_, 2000u);
}

// nhigh below the stride: the table holds 2^0 only and the walk alone covers
// every n up to nhigh.
TEST_F(BsgsTest, NhighBelowTheStride) {
  std::mt19937_64 rng(7);
  for (uint64_t p : {1000000007ULL, 1460279641ULL, 2931542417ULL}) {
    for (const search_case& c : cases()) run_case(p, 10000, c, rng);
  }
}

// A hit above nhigh is examined and reported, annotated "(outside range)",
// to "factexcl.txt" or, when the candidate set still holds it, "fact.txt";
// with a modulus dividing 15840 and one that does not.
TEST_F(BsgsTest, HitAboveNhighIsReportedAsOutsideRange) {
  const uint64_t p = 1000000007;
  for (uint32_t mult : {1u, 7u}) {
    for (bool in_set : {false, true}) {
      SCOPED_TRACE("multiplier " + std::to_string(mult) + (in_set ? ", in the set" : ""));
      TempDir dir;
      reset_db(50000);
      fill_slot(0, 15, 24, mult);  // 4847: n = 15 (mod 24)
      const uint32_t n = 51015;    // 15 + 24*2125, above nhigh
      if (in_set) aunfacset[0].insert(n);
      const std::string console = search_slot0_with_factor_at(p, n);
      const std::string line = std::to_string(p) + " | " + std::to_string(ak[0]) + "*2^51015+1";
      EXPECT_EQ(console, line + "\t(outside range)\n");
      EXPECT_EQ(read_file(in_set ? "fact.txt" : "factexcl.txt"), line + "\n");
      EXPECT_FALSE(file_exists(in_set ? "factexcl.txt" : "fact.txt"));
      EXPECT_EQ(aunfacset[0].count(n), 0u);
    }
  }
}

// Class moduli near 2^32 (a file with two n that far apart has such a
// modulus): the stride is the modulus itself, and its rounding must not wrap
// in 32 bits (from 2^32 - 15839 on it did, giving a stride of 0). The single
// listed residue is found as the only hit up to nhigh.
TEST_F(BsgsTest, ClassModulusNear2To32) {
  const uint64_t p = 1000000007;
  for (uint32_t m : {4294951456u, 4294951457u, 4294967280u, 4294967295u}) {
    SCOPED_TRACE("modulus " + std::to_string(m));
    TempDir dir;
    reset_db(20000000);
    aunfacset[0] = {15};
    akpower[0] = m;
    akequiv[0] = 15;
    akmod[0] = m;
    aknres[0] = 1;
    akares[0][0] = 15;
    EXPECT_EQ(bsgs_stride(m), m);
    const std::string console = search_slot0_with_factor_at(p, 15);
    const std::string line = std::to_string(p) + " | " + std::to_string(ak[0]) + "*2^15+1";
    EXPECT_EQ(console, line + "\n");
    EXPECT_EQ(read_file("fact.txt"), line + "\n");
  }
}

// The hits come in the order of the walks: one table per stride
// (15840 first, then the other strides in order of their first k), per k in
// index order, per listed residue, per walk position u, per giant step j
// (equal table entries in the order stored). The expected order is worked
// out here by brute force over n = r + u*m + S*j; the primes have orders of
// 2 that divide 15840 (every giant step is 1) or give several hits per class.
TEST_F(BsgsTest, HitsComeInWalkOrder) {
  const uint64_t primes[] = {2931542417ULL /* order 88 */, 1761345169ULL /* 264 */,
                             1460279641ULL /* 7815 */, 1000000007ULL};
  const uint32_t nh = 60000;
  std::mt19937_64 rng(515);
  size_t total = 0;
  for (const search_case& c : cases()) {
    for (uint64_t p : primes) {
      SCOPED_TRACE(std::string(c.what) + ", p = " + std::to_string(p));
      reset_db(nh);
      for (size_t i = 0; i < c.slots.size(); ++i) {
        const slot_cfg& s = c.slots[i];
        if (s.M != 0) fill_slot(static_cast<int>(i), s.a, s.M, s.mult, s.drop_classes);
      }
      // k with a hit at a random candidate of its slot, distinct per slot.
      for (int i = 0; i < kNumK; ++i) {
        if (aunfacset[i].empty()) continue;
        std::vector<uint32_t> cand(aunfacset[i].begin(), aunfacset[i].end());
        for (int tries = 0; tries < 40; ++tries) {
          const uint64_t k = k_with_factor(p, cand[rng() % cand.size()]);
          if (k < (1ULL << 31) && std::find(ak, ak + kNumK, static_cast<int32_t>(k)) == ak + kNumK) {
            ak[i] = static_cast<int32_t>(k);
            break;
          }
        }
      }
      rig_.rebuild();
      worker& w = rig_.w;
      uint64_t target[kNumK];
      for (int i = 0; i < kNumK; ++i) {
        target[i] = ref_inv(p - static_cast<uint64_t>(ak[i]) % p, p);
        w.ps.amkinv[i] = target[i];
      }

      // Strides in table order, then the expected sequence of hits.
      uint32_t left = 0;
      for (int i = 0; i < kNumK; ++i) {
        if (((c.mask >> i) & 1) && aknres[i] != 0 && akmod[i] != 0) left |= 1u << i;
      }
      std::vector<uint64_t> strides;
      for (int i = 0; i < kNumK; ++i) {
        if (((left >> i) & 1) && akmod[i] != 0 && 15840 % akmod[i] == 0) {
          strides.push_back(15840);
          break;
        }
      }
      for (int i = 0; i < kNumK; ++i) {
        if (!((left >> i) & 1)) continue;
        const uint64_t S = bsgs_stride(akmod[i]);
        if (std::find(strides.begin(), strides.end(), S) == strides.end()) strides.push_back(S);
      }
      std::vector<uint64_t> pow2(2 * nh + 40000);
      pow2[0] = 1;
      for (size_t n = 1; n < pow2.size(); ++n) pow2[n] = pow2[n - 1] * 2 % p;
      std::vector<std::pair<int64_t, uint64_t>> want;
      for (uint64_t S : strides) {
        for (int i = 0; i < kNumK; ++i) {
          if (!((left >> i) & 1) || bsgs_stride(akmod[i]) != S) continue;
          const uint32_t m = akmod[i];
          for (uint32_t ri = 0; ri < aknres[i]; ++ri) {
            for (uint64_t u = 0; u * m < S; ++u) {
              for (uint64_t j = 0; j <= nh / S; ++j) {
                const uint64_t n = akares[i][ri] + u * m + S * j;
                if (pow2.at(n) == target[i]) want.emplace_back(ak[i], n);
              }
            }
          }
        }
      }

      set_modulus(w.ps, p);
      check_factors(w, p, c.mask);
      std::vector<std::pair<int64_t, uint64_t>> got;
      for (const factor_hit& h : rig_.sink.hits) {
        EXPECT_EQ(h.p, p);
        got.emplace_back(ak[h.slot], h.n);
      }
      EXPECT_EQ(got, want);
      total += want.size();
    }
  }
  EXPECT_GT(total, 1000u);  // the comparison is not vacuous
}

}  // namespace
