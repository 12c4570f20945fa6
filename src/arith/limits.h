// Fixed limits of the search: the largest prime p the arithmetic supports,
// the base-prime bound that sieves every number below it, the smallest p
// accepted, and the number of k values the program carries.
#pragma once
#include <cstdint>

// Largest supported p. The quotient estimate of the modular products is
// exact only below this bound, and the base primes up to its square root
// sieve every number below it. Raising it means changing the modular
// products and kBasePrimeLimit together.
constexpr uint64_t kPLimit = 1ULL << 50;            // 1125899906842624
constexpr uint32_t kBasePrimeLimit = 1u << 25;      // sqrt(kPLimit)
constexpr uint64_t kPMinLimit = 1000000000ULL;      // smallest pmin accepted
constexpr int kNumK = 12;                           // k values per candidate file
