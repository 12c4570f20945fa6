// The Pohlig-Hellman path against the plain search and an independent
// search, over enough primes near 10^9 and candidates up to the default nhigh
// that real factors turn up: near 10^9 about one prime in a hundred divides
// some k*2^n+1 of the standard classes with n <= 20,000,000.
#include <gtest/gtest.h>

#include "test_sph_differential.h"
#include "test_sph_support.h"

namespace {

using namespace sphtest;

TEST(SphDifferential, HitsNearOneBillion) {
  scratch_dir dir;
  eratosthenes_base(1 << 25);
  struct Window {
    u64 low;
    int count;
    uint32_t nh;
    bool fill;
  };
  const Window windows[] = {
      {1000000000, 1200, kDefaultNhigh, false},
      {2000000000, 600, kDefaultNhigh, false},
      {1500000000, 600, 3000000, true},
  };
  int seen[4] = {};
  int total = 0;
  for (const Window& w : windows) {
    const int hits = differential(dir, w.low, w.count, w.nh, w.fill, seen);
    std::printf("window %llu, nhigh %u: %d hits among the candidates' classes\n",
                static_cast<unsigned long long>(w.low), w.nh, hits);
    total += hits;
  }
  EXPECT_GE(total, 10);
  std::printf("sph_idea outcomes: declined %d, all eliminated %d, plain search %d, class search %d\n",
              seen[0], seen[1], seen[2], seen[3]);
}

}  // namespace
