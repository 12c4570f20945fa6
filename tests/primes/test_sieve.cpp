// The segmented sieve against primesieve: the base primes, the sequence of
// primes handed out across window boundaries (from 10^9, around a window
// whose bit 0 and last bit are primes, and just below 2^50), and the record
// of factors of p - 1 against two independent computations: stepping every
// sieving prime >= 73 through the window's numbers N = 1 (mod q), and trial
// division of p - 1 for a sample of primes. Last, two sieves used in turn on
// different windows, as two workers use theirs, against primesieve and a
// sieve running alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <primesieve.hpp>
#include <string>
#include <utility>
#include <vector>

#include "primes/sieve.h"

namespace {

constexpr uint64_t k2_50 = 1ULL << 50;

// The base primes are built once for the whole executable.
const std::vector<uint64_t>& base_primes() {
  static const std::vector<uint64_t> primes = [] {
    eratosthenes_base(1 << 25);
    std::vector<uint64_t> v;
    primesieve::generate_primes(1ULL << 25, &v);
    return v;
  }();
  return primes;
}

// Sieves the window at low; the next prime handed out is its first.
void start_window(prime_sieve& s, uint64_t low) {
  base_primes();
  s.sieve_window(low);
  ASSERT_EQ(s.window_low(), low);
  ASSERT_EQ(s.index(), ~0u);
  ASSERT_TRUE(s.pm1_factors().empty());
}

// The last sieving prime of the window [low, low + 2^23): the first prime
// whose square reaches the window's end, or the last base prime.
uint64_t last_sieving_prime(uint64_t low) {
  const unsigned __int128 hi = low + kSieveWindowSize;
  for (uint64_t q : base_primes()) {
    if (static_cast<unsigned __int128>(q) * q >= hi) return q;
  }
  return base_primes().back();
}

std::vector<uint32_t> as_vector(const factor_list& l) { return std::vector<uint32_t>(l.begin(), l.end()); }

TEST(BasePrimes, CountLastPrimeAndGapsMatchPrimesieve) {
  const std::vector<uint64_t>& expected = base_primes();
  ASSERT_EQ(nprimes, 2063689u);
  ASSERT_EQ(expected.size(), 2063689u);
  uint64_t sum = 0;
  for (uint32_t i = 0; i < nprimes; ++i) {
    sum += aallprimes[i];
    ASSERT_EQ(sum, expected[i]) << "entry " << i;
  }
  EXPECT_EQ(sum, 33554393u);
}

// The odd primes up to a limit come from the same sieve and leave the base
// primes alone; vexgen takes its base primes from here.
TEST(BasePrimes, OddPrimesUpToALimit) {
  const std::vector<uint64_t>& all = base_primes();
  const uint32_t n_before = nprimes;
  const std::vector<uint16_t> gaps_before(aallprimes.begin(), aallprimes.begin() + nprimes);
  for (uint32_t limit : {0u, 1u, 2u, 3u, 4u, 8u, 9u, 31622u, 31623u, 1u << 20, 1u << 25, ~0u}) {
    SCOPED_TRACE(limit);
    std::vector<uint64_t> want;
    for (uint64_t q : all)
      if (q >= 3 && q <= limit) want.push_back(q);
    const std::vector<uint32_t> got = odd_primes_up_to(limit);
    EXPECT_EQ(std::vector<uint64_t>(got.begin(), got.end()), want);
  }
  EXPECT_EQ(nprimes, n_before);
  EXPECT_TRUE(std::equal(gaps_before.begin(), gaps_before.end(), aallprimes.begin()));
}

TEST(Sieve, FirstPrimesAbove1e9AndTheirRecords) {
  prime_sieve s;
  start_window(s, 1000000000);
  struct Case { uint64_t p; uint32_t index; std::vector<uint32_t> factors; };
  const Case cases[] = {
      {1000000007, 3, {}},
      {1000000009, 4, {109, 167}},  // 109 divides p - 1 twice, listed once
      {1000000021, 10, {739, 1187}},
      {1000000033, 16, {127}},      // 82021 is above the last sieving prime 31769
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.next(), c.p);
    EXPECT_EQ(s.index(), c.index);
    EXPECT_EQ(s.window_low(), 1000000000u);
    EXPECT_EQ(as_vector(s.pm1_factors_at(s.index())), c.factors) << c.p;
    EXPECT_EQ(as_vector(s.pm1_factors()), c.factors) << c.p;
  }
  EXPECT_EQ(last_sieving_prime(1000000000), 31769u);
  // Composite bits and bits outside the window have no record.
  EXPECT_TRUE(s.pm1_factors_at(0).empty());        // 1000000001 = 7 * 11 * 13 * 19 * 52579
  EXPECT_TRUE(s.pm1_factors_at(kSieveWindowBits).empty());
  EXPECT_TRUE(s.pm1_factors_at(~0u).empty());
}

// Walks next() from an even start through the given number of windows and
// compares every prime, its window and its bit with primesieve.
void expect_sequence(uint64_t start, int windows) {
  prime_sieve s;
  start_window(s, start);
  const uint64_t end = start + windows * kSieveWindowSize;
  primesieve::iterator it(start + 1);
  uint64_t count = 0;
  for (;;) {
    const uint64_t want = it.next_prime();
    const uint64_t got = s.next();
    ASSERT_EQ(got, want) << "after " << count << " primes from " << start;
    ASSERT_LT(s.index(), kSieveWindowBits);
    ASSERT_EQ(s.window_low() + 2 * static_cast<uint64_t>(s.index()) + 1, got);
    ASSERT_EQ((s.window_low() - start) % kSieveWindowSize, 0u);
    ASSERT_LE(s.window_low(), got);
    ASSERT_LT(got, s.window_low() + kSieveWindowSize);
    if (got >= end) break;
    ++count;
  }
  EXPECT_EQ(count, primesieve::count_primes(start, end - 1));
}

TEST(Sieve, SequenceFrom1e9AcrossWindows) { expect_sequence(1000000000, 3); }

TEST(Sieve, SequenceJustBelow2To50) {
  expect_sequence(k2_50 - 2 * kSieveWindowSize, 2);
  // A start that is not a multiple of 2^23: the window after it straddles 2^50.
  expect_sequence(k2_50 - kSieveWindowSize - kSieveWindowSize / 2, 1);
}

// Windows from 10^9 whose first bit, or whose last bit, is a prime.
uint64_t window_with_prime_at(bool first_bit) {
  for (uint64_t low = 1000000000 + kSieveWindowSize;; low += kSieveWindowSize) {
    const uint64_t n = first_bit ? low + 1 : low + kSieveWindowSize - 1;
    if (primesieve::count_primes(n, n) == 1) return low;
  }
}

TEST(Sieve, PrimesAtBitZeroAndLastBitAcrossABoundary) {
  prime_sieve s;
  const uint64_t low0 = window_with_prime_at(true);
  start_window(s, low0 - kSieveWindowSize);
  const uint64_t before = primesieve::nth_prime(-1, low0);  // last prime below low0
  uint64_t p;
  while ((p = s.next()) < before) {}
  EXPECT_EQ(p, before);
  EXPECT_EQ(s.window_low(), low0 - kSieveWindowSize);
  EXPECT_EQ(s.next(), low0 + 1);
  EXPECT_EQ(s.window_low(), low0);
  EXPECT_EQ(s.index(), 0u);

  const uint64_t low1 = window_with_prime_at(false);
  start_window(s, low1);
  const uint64_t last = low1 + kSieveWindowSize - 1;
  while ((p = s.next()) < last) {}
  EXPECT_EQ(p, last);
  EXPECT_EQ(s.index(), kSieveWindowBits - 1);
  EXPECT_EQ(s.next(), primesieve::nth_prime(1, last));
  EXPECT_EQ(s.window_low(), low1 + kSieveWindowSize);
}

// next_in_window stops at the window's end, whether its last bit is a prime
// or not, and keeps returning 0 there; next() then goes on with the
// following window.
TEST(Sieve, NextInWindowStopsAtTheEnd) {
  const uint64_t low1 = window_with_prime_at(false);
  for (const uint64_t low : {low1, uint64_t{1000000000}}) {
    SCOPED_TRACE(low);
    prime_sieve s;
    start_window(s, low);
    const uint64_t last = primesieve::nth_prime(-1, low + kSieveWindowSize);  // last prime of the window
    uint64_t p, prev = 0, count = 0;
    while ((p = s.next_in_window()) != 0) {
      prev = p;
      ++count;
    }
    EXPECT_EQ(prev, last);
    EXPECT_EQ(count, primesieve::count_primes(low, low + kSieveWindowSize - 1));
    EXPECT_EQ(s.next_in_window(), 0u);
    EXPECT_EQ(s.window_low(), low);
    EXPECT_EQ(s.next(), primesieve::nth_prime(1, last));
    EXPECT_EQ(s.window_low(), low + kSieveWindowSize);
  }
}

// Every bit of the window: the record must be, for a prime N, exactly the
// primes q from 73 to the last sieving prime with q | N - 1, ascending; and
// empty for a composite. Expected lists come from primesieve's primes.
void expect_records_match(uint64_t low) {
  prime_sieve s;
  start_window(s, low);
  const uint64_t lastq = last_sieving_prime(low);
  std::vector<char> is_prime(kSieveWindowBits, 0);
  std::vector<uint64_t> window_primes;
  primesieve::generate_primes(low, low + kSieveWindowSize - 1, &window_primes);
  for (uint64_t n : window_primes) is_prime[(n - low - 1) / 2] = 1;

  std::vector<std::pair<uint32_t, uint32_t>> expected;  // (bit, q), q ascending per bit
  for (uint64_t q : base_primes()) {
    if (q < 73) continue;
    if (q > lastq) break;
    uint64_t n = low - low % q + 1;  // n = 1 (mod q), n <= low + 1
    if (n <= low) n += q;
    if (n % 2 == 0) n += q;
    for (; n < low + kSieveWindowSize; n += 2 * q) {
      const uint32_t g = static_cast<uint32_t>((n - low - 1) / 2);
      if (is_prime[g]) expected.emplace_back(g, static_cast<uint32_t>(q));
    }
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  size_t k = 0;
  std::vector<uint32_t> want;
  for (uint32_t g = 0; g < kSieveWindowBits; ++g) {
    want.clear();
    for (; k < expected.size() && expected[k].first == g; ++k) want.push_back(expected[k].second);
    const factor_list got = s.pm1_factors_at(g);
    if (got.size() != want.size() || !std::equal(want.begin(), want.end(), got.begin())) {
      ADD_FAILURE() << "record of " << low + 1 + 2 * static_cast<uint64_t>(g) << " (bit " << g << ")";
      return;
    }
  }
  EXPECT_EQ(k, expected.size());

  // Trial division of p - 1 for a sample of primes, spread over the window.
  const size_t samples = lastq > 1000000 ? 12 : 2000;
  const size_t stride = window_primes.size() / samples;
  for (size_t i = 0; i < window_primes.size(); i += stride) {
    const uint64_t p = window_primes[i];
    want.clear();
    for (uint64_t q : base_primes()) {
      if (q > lastq) break;
      if (q >= 73 && (p - 1) % q == 0) want.push_back(static_cast<uint32_t>(q));
    }
    EXPECT_EQ(as_vector(s.pm1_factors_at(static_cast<uint32_t>((p - low - 1) / 2))), want) << p;
  }
}

TEST(SieveRecord, MatchesIndependentComputation) {
  expect_records_match(1000000000);
  expect_records_match(window_with_prime_at(true));
  expect_records_match(1ULL << 40);
  expect_records_match(k2_50 - kSieveWindowSize);  // every base prime sieves
}

// The primes a sieve hands out in one window, each with its record of
// factors of p - 1: factors[ends[i-1] .. ends[i]) belong to primes[i].
struct window_walk {
  uint64_t low = 0;
  std::vector<uint64_t> primes;
  std::vector<size_t> ends;
  std::vector<uint32_t> factors;

  void add(uint64_t p, const factor_list& f) {
    primes.push_back(p);
    factors.insert(factors.end(), f.begin(), f.end());
    ends.push_back(factors.size());
  }
};

// Where two walks of the same window first differ ("" when they agree).
std::string first_difference(const window_walk& got, const window_walk& want) {
  const size_t n = std::min(got.primes.size(), want.primes.size());
  for (size_t i = 0; i < n; ++i) {
    const size_t g0 = i ? got.ends[i - 1] : 0, w0 = i ? want.ends[i - 1] : 0;
    const std::vector<uint32_t> g(got.factors.begin() + g0, got.factors.begin() + got.ends[i]);
    const std::vector<uint32_t> w(want.factors.begin() + w0, want.factors.begin() + want.ends[i]);
    if (got.primes[i] != want.primes[i]) {
      return "prime " + std::to_string(i) + ": " + std::to_string(got.primes[i]) + " instead of " +
             std::to_string(want.primes[i]);
    }
    if (g != w) return "record of " + std::to_string(got.primes[i]) + " differs";
  }
  if (got.primes.size() != want.primes.size()) {
    return std::to_string(got.primes.size()) + " primes instead of " + std::to_string(want.primes.size());
  }
  return "";
}

// Walks the current window of s to its end.
void walk_window(prime_sieve& s, window_walk& out) {
  for (uint64_t p; (p = s.next_in_window()) != 0;) out.add(p, s.pm1_factors());
}

// Two sieves, as two workers hold them, take windows at different heights
// and hand out one prime each in turn; each sieves its next window while the
// other is part-way through its own (the windows hold different numbers of
// primes). Every window must give exactly primesieve's primes, and primes
// and records equal to those of one sieve walking the same windows alone.
TEST(SieveWorkers, TwoSievesUsedInTurnMatchOneAlone) {
  base_primes();
  const std::vector<uint64_t> lows[2] = {
      {1000000000, 1ULL << 40, k2_50 - 2 * kSieveWindowSize},
      {1000000000 + kSieveWindowSize, k2_50 - kSieveWindowSize, (1ULL << 40) + kSieveWindowSize},
  };
  prime_sieve workers[2];
  std::vector<window_walk> got[2];
  size_t taken[2] = {0, 0};
  bool in_window[2] = {false, false};
  for (bool any = true; any;) {
    any = false;
    for (int w = 0; w < 2; ++w) {
      prime_sieve& s = workers[w];
      if (!in_window[w]) {
        if (taken[w] == lows[w].size()) continue;
        got[w].emplace_back();
        got[w].back().low = lows[w][taken[w]];
        s.sieve_window(lows[w][taken[w]++]);
        in_window[w] = true;
      }
      any = true;
      const uint64_t p = s.next_in_window();
      if (p == 0) {
        in_window[w] = false;
        continue;
      }
      ASSERT_EQ(s.window_low(), got[w].back().low);
      ASSERT_EQ(s.window_low() + 2 * static_cast<uint64_t>(s.index()) + 1, p);
      got[w].back().add(p, s.pm1_factors());
    }
  }

  prime_sieve alone;
  for (int w = 0; w < 2; ++w) {
    ASSERT_EQ(got[w].size(), lows[w].size());
    for (const window_walk& walk : got[w]) {
      SCOPED_TRACE("worker " + std::to_string(w) + ", window at " + std::to_string(walk.low));
      std::vector<uint64_t> want_primes;
      primesieve::generate_primes(walk.low, walk.low + kSieveWindowSize - 1, &want_primes);
      EXPECT_TRUE(walk.primes == want_primes) << walk.primes.size() << " primes, primesieve "
                                              << want_primes.size();
      window_walk want;
      want.low = walk.low;
      alone.sieve_window(walk.low);
      walk_window(alone, want);
      EXPECT_EQ(want.primes, want_primes);
      EXPECT_EQ(first_difference(walk, want), "");
      EXPECT_GT(walk.factors.size(), walk.primes.size() / 4);  // the records are not all empty
    }
  }
}

}  // namespace
