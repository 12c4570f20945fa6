// Segmented sieve of Eratosthenes with a record of the factors of N - 1.
//
// The base primes come from a segmented sieve of the odd numbers: segments of
// 2^18 odd numbers (32 KiB of bitmap, kept in the L1 cache) start from a
// repeating pattern that already holds the multiples of 3, 5, 7, 11 and 13,
// and the primes from 17 up to the square root of the limit mark the rest,
// each carrying its next multiple from segment to segment.
//
// A window is 2^23 consecutive integers starting at an even number; its odd
// numbers are one bit each (2^22 bits, 512 KiB), a set bit meaning composite.
// Sieving a window takes two passes over the sieving primes up to 2^25, each
// costing one 64-bit remainder per prime for the first hit:
//   1. composite marking: every odd multiple of q in the window;
//   2. factor recording: for every prime N of the window with N = 1 (mod q),
//      73 <= q <= 2^25, append q to the record of N.
// Primes below kBlockPrimeLimit hit the window thousands of times; they are
// processed block by block (32 KiB of bitmap, which stays in the L1 cache),
// carrying each prime's next bit from block to block. Larger primes hit the
// window at most 64 times and are walked across it directly.
//
// Above 2^50 the base primes between 2^25 and 2^31 are needed as well. There
// are about 10^8 of them and each hits a window less than once, so a
// remainder per prime per window would cost far more than the marking.
// Instead they mark a super-window of 2^29 integers (64 windows, starting at
// a multiple of 2^29) once: one remainder per prime, at most eight hits each.
// Every window of the super-window then ORs its slice of that bitmap into its
// own. A window that straddles two super-windows takes a slice of each.
//
// The record is flat: the primes of a window are numbered in ascending order
// (their rank, found from a per-word prefix count of the bitmap), and the
// record of the prime of rank r is the count count_[r] and the slots
// slots_[9r ...]. Because the sieving primes are walked in ascending
// order, every record comes out sorted. The buffers are allocated with the
// first window and only grow when a later window holds more primes than any
// before it.
#include "primes/sieve.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "arith/limits.h"

namespace {

constexpr uint64_t kBaseTableLimit = uint64_t{1} << 31;   // largest limit of the base table
constexpr uint32_t kOddPrimesLimit = 1u << 25;            // largest limit of odd_primes_up_to
constexpr uint32_t kSmallSievingLimit = 1u << 25;         // sieving primes of the window's own passes
constexpr uint64_t kSmallSievingReach = uint64_t{1} << 50;  // (2^25)^2: no larger prime sieves below
constexpr uint64_t kWindowLowMin = uint64_t{1} << 25;
constexpr uint64_t kWindowEndMax = uint64_t{1} << 62;
constexpr uint32_t kSieveWindowWords = kSieveWindowBits / 64;
constexpr uint32_t kBlockBits = 1u << 18;                  // 32 KiB of bitmap
constexpr uint32_t kBlockPrimeLimit = 1u << 16;            // block-wise below this
constexpr uint32_t kMaxBlockPrimes = 6542;                 // >= odd primes below 2^16 (6541)
constexpr uint32_t kFirstRecordedPrime = 73;               // 3..71 are left to the consumer
// The distinct primes >= 73 dividing N - 1 for N < 2^62: N - 1 is even and
// 2 * 73 * 79 * 83 * 89 * 97 * 101 * 103 * 107 * 109 = 1002740727020576114
// is below 2^62 = 4611686018427387904, but that times 113 is above it, so at
// most nine.
constexpr uint32_t kRecordSlots = 9;
constexpr int kSuperShift = 29;                            // integers per super-window: 2^29
constexpr uint32_t kSuperBits = 1u << (kSuperShift - 1);   // odd numbers per super-window
constexpr uint32_t kSuperWords = kSuperBits / 64;          // 2^22 words, 32 MiB

static_assert(kBasePrimeLimit <= kBaseTableLimit, "the base table stops at 2^31");
static_assert(uint64_t{kSmallSievingLimit} * kSmallSievingLimit == kSmallSievingReach, "");
static_assert((uint64_t{1} << kSuperShift) % kSieveWindowSize == 0, "whole windows per super-window");

// Segmented sieve of the odd numbers, bit i of the index space standing for
// 2i + 1; a segment is kSegmentBits consecutive indexes.
constexpr uint32_t kSegmentBits = 1u << 18;
constexpr uint32_t kSegmentWords = kSegmentBits / 64;
// The multiples of 3, 5, 7, 11 and 13 repeat every 15015 indexes, hence every
// 15015 words: pattern word w holds indexes 64w .. 64w + 63 of the first period.
constexpr uint32_t kPatternWords = 3 * 5 * 7 * 11 * 13;
constexpr uint32_t kPatternPrimes[] = {3, 5, 7, 11, 13};

const std::vector<uint64_t>& presieve_pattern() {
  static const std::vector<uint64_t> pattern = [] {
    std::vector<uint64_t> p(kPatternWords, 0);
    for (const uint32_t q : kPatternPrimes) {
      // 2i + 1 = q (mod 2q) first at i = (q - 1) / 2.
      for (uint64_t i = (q - 1) / 2; i < uint64_t{64} * kPatternWords; i += q) p[i >> 6] |= uint64_t{1} << (i & 63);
    }
    return p;
  }();
  return pattern;
}

// The odd primes up to root (root <= 2^16), by a plain sieve.
std::vector<uint32_t> plain_odd_primes(uint32_t root) {
  std::vector<uint32_t> primes;
  std::vector<char> composite(root / 2 + 1, 0);  // index i: 2i + 1
  for (uint32_t i = 1; 2 * i + 1 <= root; ++i) {
    if (composite[i]) continue;
    const uint32_t q = 2 * i + 1;
    primes.push_back(q);
    for (uint32_t j = (q * q - 1) / 2; 2 * j + 1 <= root; j += q) composite[j] = 1;
  }
  return primes;
}

uint32_t isqrt(uint64_t n) {
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  while (r * r > n) --r;
  while ((r + 1) * (r + 1) <= n) ++r;
  return static_cast<uint32_t>(r);
}

// Calls visit(q) for every odd prime q <= lim (lim <= 2^31) in ascending
// order.
template <typename Visit>
void sieve_odd_primes(uint64_t lim, Visit visit) {
  if (lim < 3) return;
  const std::vector<uint64_t>& pattern = presieve_pattern();
  // The pattern handles 3..13; the primes from 17 to sqrt(lim) mark the rest,
  // each from its square on. next[k] is its next index relative to the
  // current segment.
  std::vector<uint32_t> primes = plain_odd_primes(isqrt(lim));
  primes.erase(primes.begin(), std::upper_bound(primes.begin(), primes.end(), 13u));
  std::vector<uint64_t> next(primes.size());
  for (size_t k = 0; k < primes.size(); ++k) next[k] = (uint64_t{primes[k]} * primes[k] - 1) / 2;

  const uint64_t nindex = (lim - 1) / 2 + 1;  // indexes 0 .. (lim - 1) / 2
  std::vector<uint64_t> seg(kSegmentWords);
  for (uint64_t base = 0; base < nindex; base += kSegmentBits) {
    const uint32_t nbits = static_cast<uint32_t>(std::min<uint64_t>(kSegmentBits, nindex - base));
    const uint32_t nwords = (nbits + 63) / 64;
    const uint32_t pw = static_cast<uint32_t>((base / 64) % kPatternWords);
    const uint32_t run = std::min(nwords, kPatternWords - pw);
    std::memcpy(seg.data(), pattern.data() + pw, run * sizeof(uint64_t));
    for (uint32_t w = run; w < nwords; ++w) seg[w] = pattern[(pw + w) % kPatternWords];
    if (base == 0) {
      seg[0] |= 1;  // 1 is not a prime
      for (const uint32_t q : kPatternPrimes) seg[0] &= ~(uint64_t{1} << ((q - 1) / 2));
    }
    for (size_t k = 0; k < primes.size(); ++k) {
      const uint32_t q = primes[k];
      const uint64_t i = next[k];
      if (i >= base + nbits) {
        // A prime that has not reached its square yet: neither have the
        // larger ones. (One that has reached it hits every whole segment,
        // q being shorter than one.)
        if (i == (uint64_t{q} * q - 1) / 2) break;
        continue;
      }
      uint32_t j = static_cast<uint32_t>(i - base);
      for (; j < nbits; j += q) seg[j >> 6] |= uint64_t{1} << (j & 63);
      next[k] = base + j;
    }
    for (uint32_t w = 0; w < nwords; ++w) {
      uint64_t found = ~seg[w];
      if (64 * w + 64 > nbits) found &= (uint64_t{1} << (nbits - 64 * w)) - 1;
      while (found) {
        const uint64_t i = base + 64 * w + static_cast<uint32_t>(__builtin_ctzll(found));
        visit(static_cast<uint32_t>(2 * i + 1));
        found &= found - 1;
      }
    }
  }
}

// An upper bound on the number of primes up to x (Dusart: pi(x) <= x/ln x *
// (1 + 1.2762/ln x) for x > 1), with room to spare for rounding.
uint64_t prime_count_bound(uint64_t x) {
  if (x < 2) return 1;
  const double l = std::log(static_cast<double>(x));
  return static_cast<uint64_t>(static_cast<double>(x) / l * (1 + 1.2762 / l)) + 16;
}

// Where the base primes above 2^25 start in the table: the index of the first
// one (nprimes when there is none) and the prime before it.
uint32_t large_first = 0;
uint64_t large_before = 0;
// Counts the fillings of the table, so that a super-window built from an
// earlier one is not reused.
uint32_t table_filling = 0;

// Walks the sieving primes of a window ending at hi that are at most qmax:
// 3, 5, 7, ... while the square of the previous prime is below hi (the first
// test compares 2^2).
template <typename Visit>
void for_each_sieving_prime(uint64_t hi, uint32_t qmax, Visit visit) {
  uint64_t prev = 2;
  for (uint32_t i = 1; i < nprimes && prev * prev < hi; ++i) {
    const uint64_t q = prev + aallprimes[i];
    if (q > qmax) break;
    visit(static_cast<uint32_t>(q));
    prev = q;
  }
}

}  // namespace

// Base primes as gaps; sized by eratosthenes_base.
std::vector<uint16_t> aallprimes;
uint32_t nprimes = 0;

void eratosthenes_base(uint64_t limit) {
  const uint64_t lim = std::min(limit, kBaseTableLimit);
  const uint64_t room = std::max<uint64_t>(prime_count_bound(lim), 1);
  // Exactly the room asked for: give back a much larger table from an
  // earlier call, and do not let a larger one grow by doubling (its old
  // contents are not needed).
  if (aallprimes.capacity() < room || aallprimes.capacity() > room + room / 4) {
    std::vector<uint16_t> fresh;
    fresh.reserve(room);
    aallprimes.swap(fresh);
  }
  aallprimes.resize(room);
  ++table_filling;
  nprimes = 0;
  large_first = 0;
  large_before = 0;
  if (lim < 2) {
    aallprimes.clear();
    return;
  }
  aallprimes[0] = 2;
  nprimes = 1;
  uint32_t last = 2;
  sieve_odd_primes(lim, [&last](uint32_t q) {
    if (nprimes == aallprimes.size()) aallprimes.resize(aallprimes.size() + aallprimes.size() / 16 + 1024);
    if (q > kSmallSievingLimit && large_first == 0) {
      large_first = nprimes;
      large_before = last;
    }
    aallprimes[nprimes++] = static_cast<uint16_t>(q - last);
    last = q;
  });
  if (large_first == 0) large_first = nprimes;
  aallprimes.resize(nprimes);
}

std::vector<uint32_t> odd_primes_up_to(uint32_t limit) {
  std::vector<uint32_t> primes;
  sieve_odd_primes(std::min(limit, kOddPrimesLimit), [&primes](uint32_t q) { primes.push_back(q); });
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

// Appends q to the record of N at bit g when N is prime. The check only
// keeps an unsupported window from writing past the record: below 2^62 no
// N - 1 has more than kRecordSlots distinct primes >= 73.
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
  for_each_sieving_prime(hi, kSmallSievingLimit, [&](uint32_t q) {
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

  // The primes above 2^25, from the super-windows the window overlaps (below
  // 2^50 none of them sieves).
  if (hi <= kSmallSievingReach || large_first >= nprimes) return;
  for (uint64_t s = low >> kSuperShift; s <= (hi - 1) >> kSuperShift; ++s) {
    if (((s + 1) << kSuperShift) <= kSmallSievingReach) continue;
    if (s != super_index_ || super_table_ != table_filling) build_super_window(s);
    merge_super_window(low, s);
  }
}

// Marks in super_ the odd multiples of the base primes q > 2^25 with q^2
// below the super-window's end (the smallest prime factor of a composite N
// is at most sqrt(N)); q < 2^31 never lies in a super-window above 2^50
// itself, so only composites are marked.
void prime_sieve::build_super_window(uint64_t super_index) {
  const uint64_t s = super_index << kSuperShift;
  const uint64_t end = s + (uint64_t{1} << kSuperShift);
  if (super_.empty()) {
    super_.assign(kSuperWords, 0);
  } else {
    std::fill(super_.begin(), super_.end(), 0);
  }
  uint64_t* const bits = super_.data();
  uint64_t q = large_before;
  for (uint32_t i = large_first; i < nprimes; ++i) {
    q += aallprimes[i];
    if (q * q >= end) break;
    // As for a window: bit (q - e) mod q with e = (s + 1)/2 mod q.
    const uint32_t e = static_cast<uint32_t>(((s + q + 1) / 2) % q);
    for (uint32_t j = e ? static_cast<uint32_t>(q) - e : 0; j < kSuperBits; j += static_cast<uint32_t>(q)) {
      bits[j >> 6] |= uint64_t{1} << (j & 63);
    }
  }
  super_index_ = super_index;
  super_table_ = table_filling;
}

// ORs into the window at low the part of the cached super-window it overlaps.
// Window bit g and super-window bit g + d stand for the same number, with
// d = (low - super-window start) / 2, which is negative when the window
// starts in the super-window before.
void prime_sieve::merge_super_window(uint64_t low, uint64_t super_index) {
  const int64_t d = (static_cast<int64_t>(low) - static_cast<int64_t>(super_index << kSuperShift)) / 2;
  // Window words w whose 64 bits overlap super-window bits 0 .. kSuperBits - 1.
  const int64_t w_first = std::max<int64_t>(0, (-d) >> 6);
  const int64_t w_end = std::min<int64_t>(kSieveWindowWords, (static_cast<int64_t>(kSuperBits) - d + 63) >> 6);
  const uint32_t shift = static_cast<uint32_t>(d & 63);
  const int64_t word_d = d >> 6;  // floor(d / 64)
  const uint64_t* const sup = super_.data();
  // Super-window word x, zero outside the super-window.
  const auto word = [sup](int64_t x) { return x >= 0 && x < kSuperWords ? sup[x] : uint64_t{0}; };
  for (int64_t w = w_first; w < w_end; ++w) {
    const int64_t x = w + word_d;
    const uint64_t v = shift == 0 ? word(x) : (word(x) >> shift) | (word(x + 1) << (64 - shift));
    bits_[w] |= v;
  }
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
  for_each_sieving_prime(hi, kSmallSievingLimit, [&](uint32_t q) {
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
  assert((low & 1) == 0 && low >= kWindowLowMin && low <= kWindowEndMax - kSieveWindowSize && nprimes > 1);
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
