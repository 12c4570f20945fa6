// The segmented sieve against primesieve: the base primes, the sequence of
// primes handed out across window boundaries (from 10^9, around a window
// whose bit 0 and last bit are primes, and just below 2^50), and the record
// of factors of p - 1 against two independent computations: stepping every
// sieving prime >= 73 through the window's numbers N = 1 (mod q), and trial
// division of p - 1 for a sample of primes.
#include <gtest/gtest.h>

#include <algorithm>
#include <primesieve.hpp>
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

void start_window(uint64_t low) {
  base_primes();
  sievewindowlow = low;
  sievewindowindex = 0xFFFFFFFFu;
  eratosthenes_window(low);
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
  start_window(1000000000);
  struct Case { uint64_t p; uint32_t index; std::vector<uint32_t> factors; };
  const Case cases[] = {
      {1000000007, 3, {}},
      {1000000009, 4, {109, 167}},  // 109 divides p - 1 twice, listed once
      {1000000021, 10, {739, 1187}},
      {1000000033, 16, {127}},      // 82021 is above the last sieving prime 31769
  };
  for (const Case& c : cases) {
    EXPECT_EQ(next_sieved_p(), c.p);
    EXPECT_EQ(sievewindowindex, c.index);
    EXPECT_EQ(sievewindowlow, 1000000000u);
    EXPECT_EQ(as_vector(mappminus1factors(sievewindowindex)), c.factors) << c.p;
  }
  EXPECT_EQ(last_sieving_prime(1000000000), 31769u);
  // Composite bits and bits outside the window have no record.
  EXPECT_TRUE(mappminus1factors(0).empty());        // 1000000001 = 7 * 11 * 13 * 19 * 52579
  EXPECT_TRUE(mappminus1factors(kSieveWindowBits).empty());
}

// Walks next_sieved_p from an even start through the given number of
// windows and compares every prime, its window and its bit with primesieve.
void expect_sequence(uint64_t start, int windows) {
  start_window(start);
  const uint64_t end = start + windows * kSieveWindowSize;
  primesieve::iterator it(start + 1);
  uint64_t count = 0;
  for (;;) {
    const uint64_t want = it.next_prime();
    const uint64_t got = next_sieved_p();
    ASSERT_EQ(got, want) << "after " << count << " primes from " << start;
    ASSERT_LT(sievewindowindex, kSieveWindowBits);
    ASSERT_EQ(sievewindowlow + 2 * static_cast<uint64_t>(sievewindowindex) + 1, got);
    ASSERT_EQ((sievewindowlow - start) % kSieveWindowSize, 0u);
    ASSERT_LE(sievewindowlow, got);
    ASSERT_LT(got, sievewindowlow + kSieveWindowSize);
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
  const uint64_t low0 = window_with_prime_at(true);
  start_window(low0 - kSieveWindowSize);
  const uint64_t before = primesieve::nth_prime(-1, low0);  // last prime below low0
  uint64_t p;
  while ((p = next_sieved_p()) < before) {}
  EXPECT_EQ(p, before);
  EXPECT_EQ(sievewindowlow, low0 - kSieveWindowSize);
  EXPECT_EQ(next_sieved_p(), low0 + 1);
  EXPECT_EQ(sievewindowlow, low0);
  EXPECT_EQ(sievewindowindex, 0u);

  const uint64_t low1 = window_with_prime_at(false);
  start_window(low1);
  const uint64_t last = low1 + kSieveWindowSize - 1;
  while ((p = next_sieved_p()) < last) {}
  EXPECT_EQ(p, last);
  EXPECT_EQ(sievewindowindex, kSieveWindowBits - 1);
  EXPECT_EQ(next_sieved_p(), primesieve::nth_prime(1, last));
  EXPECT_EQ(sievewindowlow, low1 + kSieveWindowSize);
}

// Every bit of the window: the record must be, for a prime N, exactly the
// primes q from 73 to the last sieving prime with q | N - 1, ascending; and
// empty for a composite. Expected lists come from primesieve's primes.
void expect_records_match(uint64_t low) {
  start_window(low);
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
    const factor_list got = mappminus1factors(g);
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
    EXPECT_EQ(as_vector(mappminus1factors(static_cast<uint32_t>((p - low - 1) / 2))), want) << p;
  }
}

TEST(SieveRecord, MatchesIndependentComputation) {
  expect_records_match(1000000000);
  expect_records_match(window_with_prime_at(true));
  expect_records_match(1ULL << 40);
  expect_records_match(k2_50 - kSieveWindowSize);  // every base prime sieves
}

}  // namespace
