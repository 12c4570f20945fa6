// Segmented sieve of Eratosthenes over windows of 2^23 integers (odd numbers
// only, one bit each), sieving with the base primes up to 2^31, which makes
// the primes of every window below 2^62 exact (given a base table that
// reaches the square root of the window's end). The base primes up to 2^25
// sieve each window directly; the larger ones (only needed above 2^50) mark
// a super-window of 64 windows at a time, which the windows inside it share.
// While a window is sieved, the sieving primes 73 <= q <= 2^25 that divide
// N - 1 are recorded for every prime N of the window (the record of factors
// of N - 1), so that the order-of-two bound can factor p - 1 without trial
// division by them.
#pragma once
#include <cstdint>
#include <vector>

constexpr uint64_t kSieveWindowSize = 1u << 23;      // integers per window
constexpr uint32_t kSieveWindowBits = 1u << 22;      // odd numbers per window

// Base primes as 16-bit gaps: entry 0 is 2, entry i the i-th prime minus the
// (i-1)-th (every gap between primes below 2^31 is below 2^16). nprimes valid
// entries; the vector holds no more than the primes asked for.
extern std::vector<uint16_t> aallprimes;
extern uint32_t nprimes;

// Fills aallprimes/nprimes with all primes up to limit (a limit above 2^31 is
// treated as 2^31), by a segmented sieve. Run once at start-up, single
// threaded; the windows only read the table afterwards, from any number of
// threads. A window ending at E needs limit >= sqrt(E) for exact primes.
void eratosthenes_base(uint64_t limit);

// The odd primes 3 <= q <= limit, ascending (a limit above 2^25 is treated as
// 2^25), by the same sieve; the base primes (aallprimes) are left alone.
std::vector<uint32_t> odd_primes_up_to(uint32_t limit);

// The recorded primes q >= 73 dividing N - 1, ascending, each once, for a
// prime N of a window. Empty when none were recorded (and for a number that
// is not a prime). Valid until the window is sieved again.
struct factor_list {
  const uint32_t* first;
  const uint32_t* last;
  const uint32_t* begin() const { return first; }
  const uint32_t* end() const { return last; }
  bool empty() const { return first == last; }
  uint32_t size() const { return static_cast<uint32_t>(last - first); }
};

// One stretch of the prime sieve: a window of 2^23 integers, its bitmap and
// the record of factors of N - 1 of its primes. Each worker owns one. Above
// 2^50 it also keeps the bitmap of one super-window (2^29 integers starting
// at a multiple of 2^29, 32 MiB, allocated with the first window above 2^50)
// with the multiples of the base primes above 2^25; the windows of that
// super-window reuse it, and a window of another super-window rebuilds it.
class prime_sieve {
 public:
  prime_sieve();

  // Sieves the window [low, low + 2^23) (low even, >= 2^25, low + 2^23 <=
  // 2^62, eratosthenes_base already run) and rebuilds the record of factors
  // of N - 1; the next prime is the window's first. The window's sieving
  // primes up to 2^25 are the base primes 3, 5, 7, ... for as long as the
  // previous one's square is below low + 2^23; above 2^50 the base primes
  // from 2^25 up to the square root of the super-window's end sieve it as
  // well. Primes are exact for windows ending at or below 2^62, provided the
  // base primes reach the square root of the window's end. The record holds
  // the sieving primes q with 73 <= q <= 2^25 dividing N - 1, so it is
  // complete up to the last sieving prime for windows ending at or below
  // 2^50, and lists only the factors up to 2^25 above that.
  void sieve_window(uint64_t low);

  // Makes the next prime returned the window's first prime >= n
  // (window_low() <= n <= window_low() + 2^23).
  void seek(uint64_t n) { index_ = static_cast<uint32_t>((n - low_) / 2) - 1; }

  // The next prime of the window, or 0 when the window has no more.
  uint64_t next_in_window();

  // The next prime, sieving the following window when this one is used up.
  uint64_t next();

  // The recorded factors of p - 1 for the prime last returned.
  factor_list pm1_factors() const { return pm1_factors_at(index_); }

  // The record of the number at bit g of the window (see factor_list).
  factor_list pm1_factors_at(uint32_t g) const;

  // The first number of the window sieved last; 0 before the first.
  uint64_t window_low() const { return low_; }
  // Bit of the prime last returned (~0 before the first).
  uint32_t index() const { return index_; }

 private:
  uint64_t window_word(uint32_t w) const;
  bool bit_is_prime(uint32_t g) const;
  void mark_composite(uint32_t g);
  uint32_t prime_rank(uint32_t g) const;
  void record_factor(uint32_t g, uint32_t q);
  template <typename Visit>
  void run_blocks(uint32_t count, Visit visit);
  void mark_composites(uint64_t low, uint64_t hi);
  void build_super_window(uint64_t super_index);
  void merge_super_window(uint64_t low, uint64_t super_index);
  void rank_primes();
  void record_factors(uint64_t low, uint64_t hi);

  uint64_t low_ = 0;
  uint32_t index_ = ~0u;
  // Bit g (bit g & 7 of byte g >> 3, equally bit g & 63 of 64-bit word
  // g >> 6) stands for low_ + 1 + 2g; a set bit means composite.
  std::vector<uint64_t> bits_;
  // Number of primes of the window in the 64-bit words before word w.
  std::vector<uint32_t> rank_;
  uint32_t primecount_ = 0;
  // The record of factors of N - 1, indexed by the rank of the prime N:
  // count_[r] entries from slots_[9r].
  std::vector<uint8_t> count_;
  std::vector<uint32_t> slots_;
  // Block-wise primes of the pass in progress and the next bit each one hits.
  std::vector<uint32_t> blockprime_;
  std::vector<uint32_t> blocknext_;
  // The super-window bitmap: bit j stands for (super_index_ << 29) + 1 + 2j,
  // a set bit meaning a multiple of a base prime above 2^25. Empty until a
  // window above 2^50 is sieved; super_index_ is ~0 while it holds none.
  std::vector<uint64_t> super_;
  uint64_t super_index_ = ~uint64_t{0};
  // Which filling of the base table it was built from: a later
  // eratosthenes_base makes it stale.
  uint32_t super_table_ = 0;
};
