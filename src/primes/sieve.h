// Segmented sieve of Eratosthenes over windows of 2^23 integers (odd numbers
// only, one bit each), sieving with the base primes up to 2^25. While a window
// is sieved, the sieving primes q >= 73 that divide N - 1 are recorded for
// every prime N of the window (the record mappminus1factors), so that the
// order-of-two bound can factor p - 1 without trial division by them.
#pragma once
#include <cstdint>
#include <vector>

constexpr uint64_t kSieveWindowSize = 1u << 23;      // integers per window
constexpr uint32_t kSieveWindowBits = 1u << 22;      // odd numbers per window

// Base primes as 16-bit gaps: entry 0 is 2, entry i the i-th prime minus the
// (i-1)-th. nprimes valid entries.
extern std::vector<uint16_t> aallprimes;
extern uint32_t nprimes;

// Current window: first number (even) and the bit of the prime last returned.
extern uint64_t sievewindowlow;
extern uint32_t sievewindowindex;

// Fills aallprimes/nprimes with all primes up to limit (limit <= 2^25; a
// larger limit is treated as 2^25).
void eratosthenes_base(int32_t limit);

// The odd primes 3 <= q <= limit, ascending (a limit above 2^25 is treated as
// 2^25), by the same sieve; the base primes (aallprimes) are left alone.
std::vector<uint32_t> odd_primes_up_to(uint32_t limit);

// Sieves the window [low, low + 2^23) (low even, >= 2^25, eratosthenes_base
// already run) and rebuilds the record of factors of N - 1. Leaves
// sievewindowlow/sievewindowindex alone. The window's sieving primes are the
// base primes 3, 5, 7, ... for as long as the previous one's square is below
// low + 2^23; primes are exact for windows ending at or below 2^50.
void eratosthenes_window(uint64_t low);

// The next prime: advances sievewindowindex (and the window when it is used
// up) and returns sievewindowlow + 2*sievewindowindex + 1.
uint64_t next_sieved_p();

// The recorded primes q >= 73 dividing N - 1, ascending, each once, for the
// prime N at bit g of the current window. Empty when none were recorded (and
// for a bit that is not a prime). Valid until the next window is sieved.
struct factor_list {
  const uint32_t* first;
  const uint32_t* last;
  const uint32_t* begin() const { return first; }
  const uint32_t* end() const { return last; }
  bool empty() const { return first == last; }
  uint32_t size() const { return static_cast<uint32_t>(last - first); }
};
factor_list mappminus1factors(uint32_t g);
