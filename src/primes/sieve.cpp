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
// record of the prime of rank r is the count apminus1count[r] and the slots
// apminus1slots[8r ...]. Because the sieving primes are walked in ascending
// order, every record comes out sorted. The buffers are allocated with the
// first window and only grow when a later window holds more primes than any
// before it.
#include "primes/sieve.h"

#include <cassert>
#include <cstring>

#include "arith/limits.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the window bitmap is read both as bytes and as 64-bit words (little endian)"
#endif

namespace {

constexpr uint32_t kBaseTableEntries = 1u << 21;           // room for pi(2^25) = 2063689
constexpr uint32_t kSieveWindowWords = kSieveWindowBits / 64;
constexpr uint32_t kBlockBits = 1u << 18;                  // 32 KiB of bitmap
constexpr uint32_t kBlockPrimeLimit = 1u << 16;            // block-wise below this
constexpr uint32_t kMaxBlockPrimes = 6542;                 // >= odd primes below 2^16 (6541)
constexpr uint32_t kFirstRecordedPrime = 73;               // 3..71 are left to the consumer
constexpr uint32_t kRecordSlots = 8;

// Work bitmap of the base sieve, odd numbers only: odd b is bit (b >> 1) & 7
// of byte b >> 4; a set bit means composite.
uint8_t asieve[(kBasePrimeLimit >> 4) + 1];

// Bitmap of the current window: bit g (bit g & 7 of byte g >> 3, equally bit
// g & 63 of 64-bit word g >> 6) stands for sievewindowlow + 1 + 2g; a set bit
// means composite.
alignas(64) uint8_t asievewindowprimebits[kSieveWindowBits / 8];

// Number of primes of the window in the 64-bit words before word w.
uint32_t awindowrank[kSieveWindowWords];
uint32_t windowprimecount = 0;

// The record of factors of N - 1, indexed by the rank of the prime N.
std::vector<uint8_t> apminus1count;
std::vector<uint32_t> apminus1slots;

// Block-wise primes of the pass in progress and the next bit each one hits.
uint32_t ablockprime[kMaxBlockPrimes];
uint32_t ablocknext[kMaxBlockPrimes];

inline uint64_t window_word(uint32_t w) {
  uint64_t x;
  std::memcpy(&x, asievewindowprimebits + 8 * static_cast<size_t>(w), sizeof x);
  return x;
}

inline bool window_bit_is_prime(uint32_t g) { return !((asievewindowprimebits[g >> 3] >> (g & 7)) & 1); }

inline void mark_composite(uint32_t g) { asievewindowprimebits[g >> 3] |= static_cast<uint8_t>(1u << (g & 7)); }

// Rank of the prime at bit g among the primes of the window.
inline uint32_t prime_rank(uint32_t g) {
  const uint64_t below = (uint64_t{1} << (g & 63)) - 1;
  return awindowrank[g >> 6] + static_cast<uint32_t>(__builtin_popcountll(~window_word(g >> 6) & below));
}

// Appends q to the record of N at bit g when N is prime. At most seven
// primes >= 73 can divide N - 1 below 2^51, so the eighth slot is spare; the
// check only keeps an unsupported window from writing past the record.
inline void record_factor(uint32_t g, uint32_t q) {
  if (!window_bit_is_prime(g)) return;
  const uint32_t r = prime_rank(g);
  uint8_t& n = apminus1count[r];
  if (n < kRecordSlots) apminus1slots[static_cast<size_t>(r) * kRecordSlots + n++] = q;
}

// Runs the block-wise primes of a pass over the window, block after block.
template <typename Visit>
void run_blocks(uint32_t count, Visit visit) {
  for (uint32_t block_end = kBlockBits; block_end <= kSieveWindowBits; block_end += kBlockBits) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t q = ablockprime[i];
      uint32_t g = ablocknext[i];
      for (; g < block_end; g += q) visit(g, q);
      ablocknext[i] = g;
    }
  }
}

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
  std::memset(asieve, 0, (lim >> 4) + 1);
  for (uint32_t i = 3; i <= lim; i += 2) {
    if ((asieve[i >> 4] >> ((i >> 1) & 7)) & 1) continue;
    visit(i);
    // Smaller multiples were marked by smaller primes already.
    for (uint64_t m = static_cast<uint64_t>(i) * i; m <= lim; m += 2 * i) {
      asieve[m >> 4] |= static_cast<uint8_t>(1u << ((m >> 1) & 7));
    }
  }
}

void mark_composites(uint64_t low, uint64_t hi) {
  uint32_t nblock = 0;
  for_each_sieving_prime(hi, [&](uint32_t q) {
    // e = (low + 1)/2 mod q, so the first odd multiple of q above low is bit (q - e) mod q.
    const uint32_t e = static_cast<uint32_t>(((low + q + 1) / 2) % q);
    uint32_t g = e ? q - e : 0;
    if (q < kBlockPrimeLimit) {
      ablockprime[nblock] = q;
      ablocknext[nblock] = g;
      ++nblock;
      return;
    }
    for (; g < kSieveWindowBits; g += q) mark_composite(g);
  });
  run_blocks(nblock, [](uint32_t g, uint32_t) { mark_composite(g); });
}

// Numbers the primes of the window and makes room for their records.
void rank_primes() {
  uint32_t total = 0;
  for (uint32_t w = 0; w < kSieveWindowWords; ++w) {
    awindowrank[w] = total;
    total += static_cast<uint32_t>(__builtin_popcountll(~window_word(w)));
  }
  windowprimecount = total;
  if (apminus1count.size() < total) {
    const size_t capacity = total + total / 8;
    apminus1count.resize(capacity);
    apminus1slots.resize(capacity * kRecordSlots);
  }
  std::memset(apminus1count.data(), 0, total);
}

void record_factors(uint64_t low, uint64_t hi) {
  const auto record = [](uint32_t g, uint32_t q) { record_factor(g, q); };
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
      ablockprime[nblock] = q;
      ablocknext[nblock] = g;
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

}  // namespace

// Base primes as gaps, allocated at start-up (4 MiB).
std::vector<uint16_t> aallprimes(kBaseTableEntries);
uint32_t nprimes = 0;
uint64_t sievewindowlow = 0;
uint32_t sievewindowindex = 0;

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

void eratosthenes_window(uint64_t low) {
  assert((low & 1) == 0 && low >= kBasePrimeLimit && nprimes > 1);
  const uint64_t hi = low + kSieveWindowSize;
  std::memset(asievewindowprimebits, 0, sizeof asievewindowprimebits);
  mark_composites(low, hi);
  rank_primes();
  record_factors(low, hi);
}

uint64_t next_sieved_p() {
  uint32_t g = sievewindowindex + 1;  // from all ones this gives bit 0
  for (;;) {
    if (g >= kSieveWindowBits) {
      sievewindowlow += kSieveWindowSize;
      eratosthenes_window(sievewindowlow);
      g = 0;
    }
    uint32_t w = g >> 6;
    uint64_t primes = ~window_word(w) & (~uint64_t{0} << (g & 63));
    while (primes == 0 && ++w < kSieveWindowWords) primes = ~window_word(w);
    if (primes != 0) {
      g = 64 * w + static_cast<uint32_t>(__builtin_ctzll(primes));
      break;
    }
    g = kSieveWindowBits;
  }
  sievewindowindex = g;
  return sievewindowlow + 2 * static_cast<uint64_t>(g) + 1;
}

factor_list mappminus1factors(uint32_t g) {
  if (g >= kSieveWindowBits || !window_bit_is_prime(g)) return factor_list{nullptr, nullptr};
  const uint32_t r = prime_rank(g);
  if (r >= windowprimecount) return factor_list{nullptr, nullptr};
  const uint32_t* first = apminus1slots.data() + static_cast<size_t>(r) * kRecordSlots;
  return factor_list{first, first + apminus1count[r]};
}
