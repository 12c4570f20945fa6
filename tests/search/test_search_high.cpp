// The whole per-prime test above 2^50 (order bound, elimination, the
// Pohlig-Hellman, residue-class and plain searches) against brute force: for
// 162 primes between 2^50 and 2^62 that divide some k*2^n+1 with small n
// (factors_above_2_50.inc) and the largest primes below 2^51, 2^56 and 2^62,
// the hits a worker reports with n <= nhigh include every n of the slot's
// class up to nhigh with 2^n = (-k)^-1 (mod p) and nothing but such n of any
// class, both found by walking 2^n one doubling at a time in 128-bit
// arithmetic. Once with every n a candidate
// (the general path, akpower 1) and once with the standard classes (the
// Jacobi shortcut and the standard power tests). The factor list of p - 1
// comes from trial division by the primes 73 to 2^16 (a partial list, as
// the order bound allows).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include "arith/numtheory.h"
#include "primes/sieve.h"
#include "search/plan.h"
#include "search/worker.h"
#include "search_test_util.h"
#include "worker_rig.h"

namespace {

using namespace search_test;

struct known_factor {
  uint64_t p;
  int slot;
  uint32_t n;
};

const known_factor kKnown[] = {
#include "factors_above_2_50.inc"
};

constexpr uint32_t kNhigh = 1000000;

// Every n a candidate of every slot: one class, n = 0 (mod 1), sets left
// empty (the searches do not read them).
void every_n_db() {
  reset_db(kNhigh);
  for (int i = 0; i < kNumK; ++i) {
    akpower[i] = akmod[i] = 1;
    akequiv[i] = akares[i][0] = 0;
    aknres[i] = 1;
  }
}

void standard_classes_db() {
  reset_db(kNhigh);
  load_standard_classes(kNhigh);
}

using hit_set = std::set<std::pair<int, uint32_t>>;

// (slot, n) with n <= nhigh and p | k*2^n+1.
hit_set brute_force(uint64_t p) {
  uint64_t target[kNumK];
  for (int i = 0; i < kNumK; ++i) target[i] = ref_inv(p - static_cast<uint64_t>(ak[i]) % p, p);
  hit_set out;
  uint64_t x = 1;  // 2^n mod p
  for (uint32_t n = 0; n <= kNhigh; ++n) {
    for (int i = 0; i < kNumK; ++i) {
      if (x == target[i]) out.emplace(i, n);
    }
    x = x >= p - x ? x - (p - x) : x + x;
  }
  return out;
}

// The hits whose n lies in its slot's class.
hit_set in_class(const hit_set& all) {
  hit_set out;
  for (const auto& h : all) {
    if (h.second % akpower[h.first] == akequiv[h.first]) out.insert(h);
  }
  return out;
}

std::vector<uint32_t> small_factors_of_pm1(uint64_t p, const std::vector<uint32_t>& primes) {
  std::vector<uint32_t> out;
  for (uint32_t q : primes) {
    if (q >= 73 && (p - 1) % q == 0) out.push_back(q);
  }
  return out;
}

TEST(SearchAboveTwoToThe50, HitsMatchBruteForce) {
  std::vector<uint64_t> primes;
  for (const known_factor& f : kKnown) primes.push_back(f.p);
  for (uint64_t top : {1ULL << 51, 1ULL << 56, 1ULL << 62}) {
    uint64_t n = top - 1;
    while (!is_prime_u64(n)) n -= 2;
    primes.push_back(n);
  }
  const std::vector<uint32_t> trial = odd_primes_up_to(1u << 16);
  size_t hits_seen = 0;
  for (void (*fill)() : {every_n_db, standard_classes_db}) {
    fill();
    testrig::worker_rig rig;
    ASSERT_EQ(rig.plan().standard_kpowers, fill == standard_classes_db);
    for (uint64_t p : primes) {
      const std::vector<uint32_t> pm1 = small_factors_of_pm1(p, trial);
      rig.sink.hits.clear();
      rig.w.test_prime(p, factor_list{pm1.data(), pm1.data() + pm1.size()});
      ASSERT_FALSE(rig.w.ps.hash_overflow);
      hit_set got;
      for (const factor_hit& h : rig.sink.hits) {
        EXPECT_EQ(h.p, p);
        EXPECT_TRUE(ref_divides(p, static_cast<uint64_t>(ak[h.slot]), h.n)) << p << " " << h.n;
        if (h.n <= kNhigh) got.emplace(h.slot, h.n);
      }
      // Every hit of a candidate class is found; a search may also report
      // true factors outside the class (they are filed as excluded).
      const hit_set all = brute_force(p);
      const hit_set wanted = in_class(all);
      EXPECT_TRUE(std::includes(got.begin(), got.end(), wanted.begin(), wanted.end())) << "p " << p;
      EXPECT_TRUE(std::includes(all.begin(), all.end(), got.begin(), got.end())) << "p " << p;
      hits_seen += wanted.size();
    }
  }
  // Every known factor in the first pass; the in-class ones again in the second.
  EXPECT_GE(hits_seen, std::size(kKnown));
  for (const known_factor& f : kKnown) {
    EXPECT_TRUE(ref_divides(f.p, static_cast<uint64_t>(kBuiltinK[f.slot]), f.n)) << f.p;
  }
}

}  // namespace
