// Segmented sieve of Eratosthenes with a record of the factors of N - 1.
//
// A window is 2^23 consecutive integers starting at an even number; its odd
// numbers are one bit each (2^22 bits, 512 KiB), a set bit meaning composite.
// Sieving a window takes two passes over the sieving primes, each costing one
// 64-bit remainder per prime for the first hit:
//   1. composite marking: every odd multiple of q in the window;
//   2. factor recording: for every prime N of the window with N = 1 (mod q),
//      q >= 73, append q to the record of N.
// Primes below kBlockPrimeLimit hit the window thousands of times; they are
// processed block by block (32 KiB of bitmap, which stays in the L1 cache),
// carrying each prime's next bit from block to block. Larger primes hit the
// window at most 64 times and are walked across it directly.
//
// The record is flat: the primes of a window are numbered in ascending order
// (their rank, found from a per-word prefix count of the bitmap), and the
// record of the prime of rank r is the count count_[r] and the slots
// slots_[8r ...]. Because the sieving primes are walked in ascending
// order, every record comes out sorted. The buffers are allocated with the
// first window and only grow when a later window holds more primes than any
// before it.
#include "primes/sieve.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "arith/limits.h"

namespace {

constexpr uint32_t kBaseTableEntries = 1u << 21;           // room for pi(2^25) = 2063689
constexpr uint32_t kSieveWindowWords = kSieveWindowBits / 64;
constexpr uint32_t kBlockBits = 1u << 18;                  // 32 KiB of bitmap
constexpr uint32_t kBlockPrimeLimit = 1u << 16;            // block-wise below this
constexpr uint32_t kMaxBlockPrimes = 6542;                 // >= odd primes below 2^16 (6541)
constexpr uint32_t kFirstRecordedPrime = 73;               // 3..71 are left to the consumer
constexpr uint32_t kRecordSlots = 8;

// Walks the sieving primes of a window ending at hi: 3, 5, 7, ... while the
// square of the previous prime is below hi (the first test compares 2^2).
template <typename Visit>
void for_each_sieving_prime(uint64_t hi, Visit visit) {
  uint64_t prev = 2;
  for (uint32_t i = 1; i < nprimes && prev * prev < hi; ++i) {
    const uint64_t q = prev + aallprimes[i];
    visit(static_cast<uint32_t>(q));
    prev = q;
  }
}

// Calls visit(q) for every odd prime q <= lim (lim <= kBasePrimeLimit) in
// ascending order, by a plain sieve in asieve.
template <typename Visit>
void sieve_odd_primes(uint32_t lim, Visit visit) {
  // Odd b is bit (b >> 1) & 7 of byte b >> 4; a set bit means composite.
  std::vector<uint8_t> asieve((lim >> 4) + 1, 0);
  for (uint32_t i = 3; i <= lim; i += 2) {
    if ((asieve[i >> 4] >> ((i >> 1) & 7)) & 1) continue;
    visit(i);
    // Smaller multiples were marked by smaller primes already.
    for (uint64_t m = static_cast<uint64_t>(i) * i; m <= lim; m += 2 * i) {
      asieve[m >> 4] |= static_cast<uint8_t>(1u << ((m >> 1) & 7));
    }
  }
}

}  // namespace

// Base primes as gaps, allocated at start-up (4 MiB).
std::vector<uint16_t> aallprimes(kBaseTableEntries);
uint32_t nprimes = 0;

void eratosthenes_base(int32_t limit) {
  const uint32_t lim = limit < 0 ? 0 : (static_cast<uint32_t>(limit) > kBasePrimeLimit ? kBasePrimeLimit : static_cast<uint32_t>(limit));
  aallprimes[0] = 2;
  nprimes = 1;
  uint32_t last = 2;
  sieve_odd_primes(lim, [&last](uint32_t q) {
    aallprimes[nprimes++] = static_cast<uint16_t>(q - last);
    last = q;
  });
}

std::vector<uint32_t> odd_primes_up_to(uint32_t limit) {
  std::vector<uint32_t> primes;
  sieve_odd_primes(limit > kBasePrimeLimit ? kBasePrimeLimit : limit,
                   [&primes](uint32_t q) { primes.push_back(q); });
  return primes;
}


prime_sieve::prime_sieve()
    : bits_(kSieveWindowWords), rank_(kSieveWindowWords), blockprime_(kMaxBlockPrimes),
      blocknext_(kMaxBlockPrimes) {}

inline uint64_t prime_sieve::window_word(uint32_t w) const { return bits_[w]; }

inline bool prime_sieve::bit_is_prime(uint32_t g) const { return !((bits_[g >> 6] >> (g & 63)) & 1); }

inline void prime_sieve::mark_composite(uint32_t g) { bits_[g >> 6] |= uint64_t{1} << (g & 63); }

// Rank of the prime at bit g among the primes of the window.
inline uint32_t prime_sieve::prime_rank(uint32_t g) const {
  const uint64_t below = (uint64_t{1} << (g & 63)) - 1;
  return rank_[g >> 6] + static_cast<uint32_t>(__builtin_popcountll(~window_word(g >> 6) & below));
}

// Appends q to the record of N at bit g when N is prime. At most seven
// primes >= 73 can divide N - 1 below 2^51, so the eighth slot is spare; the
// check only keeps an unsupported window from writing past the record.
inline void prime_sieve::record_factor(uint32_t g, uint32_t q) {
  if (!bit_is_prime(g)) return;
  const uint32_t r = prime_rank(g);
  uint8_t& n = count_[r];
  if (n < kRecordSlots) slots_[static_cast<size_t>(r) * kRecordSlots + n++] = q;
}

// Runs the block-wise primes of a pass over the window, block after block.
template <typename Visit>
void prime_sieve::run_blocks(uint32_t count, Visit visit) {
  for (uint32_t block_end = kBlockBits; block_end <= kSieveWindowBits; block_end += kBlockBits) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t q = blockprime_[i];
      uint32_t g = blocknext_[i];
      for (; g < block_end; g += q) visit(g, q);
      blocknext_[i] = g;
    }
  }
}

void prime_sieve::mark_composites(uint64_t low, uint64_t hi) {
  uint32_t nblock = 0;
  for_each_sieving_prime(hi, [&](uint32_t q) {
    // e = (low + 1)/2 mod q, so the first odd multiple of q above low is bit (q - e) mod q.
    const uint32_t e = static_cast<uint32_t>(((low + q + 1) / 2) % q);
    uint32_t g = e ? q - e : 0;
    if (q < kBlockPrimeLimit) {
      blockprime_[nblock] = q;
      blocknext_[nblock] = g;
      ++nblock;
      return;
    }
    for (; g < kSieveWindowBits; g += q) mark_composite(g);
  });
  run_blocks(nblock, [this](uint32_t g, uint32_t) { mark_composite(g); });
}

// Numbers the primes of the window and makes room for their records.
void prime_sieve::rank_primes() {
  uint32_t total = 0;
  for (uint32_t w = 0; w < kSieveWindowWords; ++w) {
    rank_[w] = total;
    total += static_cast<uint32_t>(__builtin_popcountll(~window_word(w)));
  }
  primecount_ = total;
  if (count_.size() < total) {
    const size_t capacity = total + total / 8;
    count_.resize(capacity);
    slots_.resize(capacity * kRecordSlots);
  }
  std::memset(count_.data(), 0, total);
}

void prime_sieve::record_factors(uint64_t low, uint64_t hi) {
  const auto record = [this](uint32_t g, uint32_t q) { record_factor(g, q); };
  uint32_t nblock = 0;
  bool blocks_done = false;
  for_each_sieving_prime(hi, [&](uint32_t q) {
    if (q < kFirstRecordedPrime) return;
    // N = low + 1 + 2g with N - 1 = low + c a multiple of q; c must be even.
    const uint32_t r = static_cast<uint32_t>(low % q);
    uint32_t c = r ? q - r : 0;
    if (c & 1) c += q;
    uint32_t g = c / 2;
    if (q < kBlockPrimeLimit) {
      blockprime_[nblock] = q;
      blocknext_[nblock] = g;
      ++nblock;
      return;
    }
    // The block-wise primes are all smaller: record them first, so that
    // every record stays in ascending order.
    if (!blocks_done) {
      run_blocks(nblock, record);
      blocks_done = true;
    }
    for (; g < kSieveWindowBits; g += q) record_factor(g, q);
  });
  if (!blocks_done) run_blocks(nblock, record);
}

void prime_sieve::sieve_window(uint64_t low) {
  assert((low & 1) == 0 && low >= kBasePrimeLimit && nprimes > 1);
  const uint64_t hi = low + kSieveWindowSize;
  std::fill(bits_.begin(), bits_.end(), 0);
  mark_composites(low, hi);
  rank_primes();
  record_factors(low, hi);
  low_ = low;
  index_ = ~0u;
}

uint64_t prime_sieve::next_in_window() {
  uint32_t g = index_ + 1;  // from all ones this gives bit 0
  if (g >= kSieveWindowBits) return 0;
  uint32_t w = g >> 6;
  uint64_t primes = ~window_word(w) & (~uint64_t{0} << (g & 63));
  while (primes == 0 && ++w < kSieveWindowWords) primes = ~window_word(w);
  if (primes == 0) {
    index_ = kSieveWindowBits - 1;
    return 0;
  }
  index_ = 64 * w + static_cast<uint32_t>(__builtin_ctzll(primes));
  return low_ + 2 * static_cast<uint64_t>(index_) + 1;
}

uint64_t prime_sieve::next() {
  for (;;) {
    const uint64_t p = next_in_window();
    if (p != 0) return p;
    sieve_window(low_ + kSieveWindowSize);
  }
}

factor_list prime_sieve::pm1_factors_at(uint32_t g) const {
  if (g >= kSieveWindowBits || !bit_is_prime(g)) return factor_list{nullptr, nullptr};
  const uint32_t r = prime_rank(g);
  if (r >= primecount_) return factor_list{nullptr, nullptr};
  const uint32_t* first = slots_.data() + static_cast<size_t>(r) * kRecordSlots;
  return factor_list{first, first + count_[r]};
}
