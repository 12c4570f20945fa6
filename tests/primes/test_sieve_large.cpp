// The sieve with the base primes up to 2^31, against primesieve: the base
// table at 2^31 and at smaller limits; windows above 2^50 up to the last one
// below 2^62, including windows that straddle two super-windows (2^29
// integers each), windows that start at no multiple of 2^23, and windows taken
// out of order by two sieves; the record of factors of N - 1 above 2^50
// against trial division by primesieve's primes; and, below 2^50, the same
// primes and records from the 2^31 table as from the 2^25 one.
#include <gtest/gtest.h>

#include <algorithm>
#include <primesieve.hpp>
#include <string>
#include <vector>

#include "primes/sieve.h"

namespace {

constexpr uint64_t k2_25 = 1ULL << 25;
constexpr uint64_t k2_31 = 1ULL << 31;
constexpr uint64_t k2_50 = 1ULL << 50;
constexpr uint64_t k2_62 = 1ULL << 62;
constexpr uint64_t kSuper = 1ULL << 29;  // integers per super-window
constexpr uint32_t kPrimesBelow2To31 = 105097565;

// The base table up to 2^31, rebuilt only when a test left a smaller one.
void full_table() {
  if (nprimes != kPrimesBelow2To31) eratosthenes_base(k2_31);
  ASSERT_EQ(nprimes, kPrimesBelow2To31);
}

// The base table as primes.
std::vector<uint64_t> table_primes() {
  std::vector<uint64_t> v;
  v.reserve(nprimes);
  uint64_t q = 0;
  for (uint32_t i = 0; i < nprimes; ++i) v.push_back(q += aallprimes[i]);
  return v;
}

// Walks the window the sieve holds and collects its primes.
std::vector<uint64_t> window_primes(prime_sieve& s) {
  std::vector<uint64_t> v;
  for (uint64_t p; (p = s.next_in_window()) != 0;) v.push_back(p);
  return v;
}

std::vector<uint64_t> primesieve_window(uint64_t low) {
  std::vector<uint64_t> v;
  primesieve::generate_primes(low, low + kSieveWindowSize - 1, &v);
  return v;
}

// Sieves the window at low and compares its primes with primesieve's.
void expect_window_exact(prime_sieve& s, uint64_t low) {
  SCOPED_TRACE("window at " + std::to_string(low));
  s.sieve_window(low);
  ASSERT_EQ(s.window_low(), low);
  const std::vector<uint64_t> got = window_primes(s);
  const std::vector<uint64_t> want = primesieve_window(low);
  ASSERT_FALSE(want.empty());
  if (got != want) {
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    ADD_FAILURE() << got.size() << " primes, primesieve " << want.size() << "; first difference: "
                  << (diff.first == got.end() ? 0 : *diff.first) << " against "
                  << (diff.second == want.end() ? 0 : *diff.second);
  }
}

// The whole table at 2^31, prime by prime, against primesieve; it holds no
// more room than its primes take (about 210 MB).
TEST(BaseTable, UpTo2To31MatchesPrimesieve) {
  full_table();
  EXPECT_EQ(nprimes, primesieve::count_primes(0, k2_31));
  EXPECT_EQ(aallprimes.size(), nprimes);
  EXPECT_LE(aallprimes.capacity(), nprimes + nprimes / 64);
  primesieve::iterator it;
  uint64_t q = 0, sum = 0;
  for (uint32_t i = 0; i < nprimes; ++i) {
    q += aallprimes[i];
    const uint64_t want = it.next_prime();
    if (q != want) {
      ADD_FAILURE() << "entry " << i << ": " << q << " instead of " << want;
      break;
    }
    sum += q;
  }
  EXPECT_EQ(q, 2147483647u);  // 2^31 - 1 is the last prime
  EXPECT_EQ(it.next_prime(), 2147483659u);
  EXPECT_EQ(sum, 109930816131860852u);
}

// Smaller limits give exactly the primes up to the limit, and the table
// shrinks with them; limits above 2^31 are treated as 2^31 (this case runs
// last and leaves the full table behind).
TEST(BaseTable, LimitsMatchPrimesieve) {
  full_table();
  const std::vector<uint64_t> below = [] {
    std::vector<uint64_t> v;
    primesieve::generate_primes(1ULL << 26, &v);
    return v;
  }();
  for (const uint64_t limit : {uint64_t{0}, uint64_t{1}, uint64_t{2}, uint64_t{3}, uint64_t{4}, uint64_t{5},
                               uint64_t{1000}, uint64_t{65536}, uint64_t{216}, k2_25 - 40, k2_25, k2_25 + 34,
                               k2_25 + 35, k2_25 + 36, uint64_t{1} << 26}) {
    SCOPED_TRACE(limit);
    eratosthenes_base(limit);
    const std::vector<uint64_t> want(below.begin(), std::upper_bound(below.begin(), below.end(), limit));
    EXPECT_EQ(table_primes(), want);
    EXPECT_EQ(aallprimes.size(), nprimes);
    EXPECT_LE(aallprimes.capacity(), nprimes + nprimes / 4 + 64);
  }
  eratosthenes_base(~uint64_t{0});
  EXPECT_EQ(nprimes, kPrimesBelow2To31);
  uint64_t last = 0;
  for (uint32_t i = 0; i < nprimes; ++i) last += aallprimes[i];
  EXPECT_EQ(last, 2147483647u);
}

// Windows above 2^50 against primesieve: aligned ones, one that starts at
// no multiple of 2^23 (its slice of the super-window is not word aligned),
// and windows across a super-window boundary, aligned and unaligned, and
// across 2^50 (below which no base prime above 2^25 sieves).
TEST(SieveAbove2To50, WindowsMatchPrimesieve) {
  full_table();
  prime_sieve s;
  const uint64_t lows[] = {
      (1ULL << 52) + 5 * kSieveWindowSize,
      (1ULL << 54) + 3 * kSuper + 12345 * 2,          // unaligned inside one super-window
      (1ULL << 55) + 7 * kSuper - kSieveWindowSize / 2,  // straddles, slices word aligned
      (1ULL << 57) + 9 * kSuper - 3 * 1000 * 2 - 2,    // straddles, slices not word aligned
      k2_50 - kSieveWindowSize / 2,                      // straddles 2^50
      (1ULL << 58) - kSieveWindowSize,                   // the last window of a super-window
  };
  for (const uint64_t low : lows) expect_window_exact(s, low);
}

// Out of order and partial use: two sieves take windows of two super-windows
// in turn, going back and forth between them and walking some windows only
// part-way; every window gives primesieve's primes and the same records as
// a third sieve that takes only the windows walked in full.
TEST(SieveAbove2To50, WindowsOutOfOrderByTwoSieves) {
  full_table();
  const uint64_t a = (1ULL << 54) + 40 * kSuper, b = a + kSuper;
  struct Step { int sieve; uint64_t low; bool partial; };
  const Step steps[] = {
      {0, a + 63 * kSieveWindowSize, false}, {1, b, true},
      {0, b + 2 * kSieveWindowSize, true},   {1, a, false},
      {0, a + 17 * kSieveWindowSize, false}, {1, b + 63 * kSieveWindowSize, false},
      {0, b - kSieveWindowSize / 2, false},  {1, a + kSieveWindowSize, false},
  };
  prime_sieve sieves[2];
  prime_sieve alone;  // the reference, which sieves only the full windows
  for (const Step& st : steps) {
    SCOPED_TRACE("sieve " + std::to_string(st.sieve) + ", window at " + std::to_string(st.low));
    prime_sieve& s = sieves[st.sieve];
    s.sieve_window(st.low);
    if (st.partial) {  // a few primes, then on to the next window
      for (int i = 0; i < 100; ++i) ASSERT_NE(s.next_in_window(), 0u);
      continue;
    }
    std::vector<uint64_t> got;
    std::vector<std::vector<uint32_t>> got_records;
    for (uint64_t p; (p = s.next_in_window()) != 0;) {
      got.push_back(p);
      got_records.emplace_back(s.pm1_factors().begin(), s.pm1_factors().end());
    }
    EXPECT_TRUE(got == primesieve_window(st.low)) << got.size() << " primes";
    alone.sieve_window(st.low);
    std::vector<std::vector<uint32_t>> want_records;
    for (uint64_t p; (p = alone.next_in_window()) != 0;) {
      want_records.emplace_back(alone.pm1_factors().begin(), alone.pm1_factors().end());
    }
    EXPECT_TRUE(got_records == want_records);
  }
}

// Divisibility by an odd q without a division: q | n exactly when
// n * q^-1 (mod 2^64) is at most floor((2^64 - 1)/q).
struct trial_divisor {
  uint32_t q;
  uint64_t inv;
  uint64_t lim;
};

const std::vector<trial_divisor>& recorded_range_divisors() {
  static const std::vector<trial_divisor> divisors = [] {
    std::vector<uint64_t> primes;
    primesieve::generate_primes(73, k2_25, &primes);
    std::vector<trial_divisor> v;
    for (const uint64_t q : primes) {
      uint64_t inv = q;  // right in 3 bits; each step doubles that
      for (int i = 0; i < 5; ++i) inv *= 2 - q * inv;
      v.push_back(trial_divisor{static_cast<uint32_t>(q), inv, ~uint64_t{0} / q});
    }
    return v;
  }();
  return divisors;
}

// The window's primes against primesieve and, for about 300 of them spread
// over the window, the record against the primes 73 <= q <= 2^25 dividing
// p - 1 by trial division.
void expect_records_by_trial_division(uint64_t low) {
  SCOPED_TRACE("window at " + std::to_string(low));
  prime_sieve s;
  s.sieve_window(low);
  const std::vector<uint64_t> primes = primesieve_window(low);
  const std::vector<uint64_t> got = window_primes(s);
  ASSERT_TRUE(got == primes) << got.size() << " primes, primesieve " << primes.size();
  const std::vector<trial_divisor>& divisors = recorded_range_divisors();
  size_t nonempty = 0;
  std::vector<uint32_t> want;
  for (size_t i = 0; i < primes.size(); i += primes.size() / 300) {
    const uint64_t p = primes[i];
    want.clear();
    for (const trial_divisor& d : divisors) {
      if ((p - 1) * d.inv <= d.lim) want.push_back(d.q);
    }
    const factor_list f = s.pm1_factors_at(static_cast<uint32_t>((p - low - 1) / 2));
    EXPECT_EQ(std::vector<uint32_t>(f.begin(), f.end()), want) << p;
    nonempty += !want.empty();
  }
  EXPECT_GT(nonempty, 100u);  // a real test: most records hold something
}

TEST(SieveRecordAbove2To50, MatchesTrialDivision) {
  full_table();
  expect_records_by_trial_division((1ULL << 58) + 11 * kSuper + 20 * kSieveWindowSize);
  expect_records_by_trial_division(k2_62 - kSieveWindowSize);  // the last window below 2^62
}

// Below 2^50 the larger table changes nothing: the last window below 2^50
// and the one across it give the same primes and records with the base
// primes up to 2^25 as with those up to 2^31.
TEST(SieveRecord, BelowTwoTo50SameWithEitherTable) {
  const uint64_t lows[] = {k2_50 - kSieveWindowSize, k2_50 - kSieveWindowSize / 2};
  std::vector<uint64_t> primes[2];
  std::vector<uint32_t> records[2];
  eratosthenes_base(k2_25);
  for (int table = 0; table < 2; ++table) {
    prime_sieve s;
    for (const uint64_t low : lows) {
      s.sieve_window(low);
      for (uint64_t p; (p = s.next_in_window()) != 0;) {
        primes[table].push_back(p);
        const factor_list f = s.pm1_factors();
        records[table].push_back(f.size());
        records[table].insert(records[table].end(), f.begin(), f.end());
      }
    }
    if (table == 0) full_table();
  }
  EXPECT_TRUE(primes[0] == primes[1]);
  EXPECT_TRUE(records[0] == records[1]);
  std::vector<uint64_t> want = primesieve_window(lows[0]);
  const std::vector<uint64_t> more = primesieve_window(lows[1]);
  want.insert(want.end(), more.begin(), more.end());
  EXPECT_TRUE(primes[1] == want);
  EXPECT_GT(records[1].size(), 2 * primes[1].size());
}

}  // namespace
