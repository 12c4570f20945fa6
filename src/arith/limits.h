// Fixed limits of the search: the largest prime p the arithmetic supports,
// the base-prime bound that sieves every number below it, the smallest p
// accepted, and the number of k values the program carries.
#pragma once
#include <cstdint>

// Largest supported p. The modular products rely on it (the partly reduced
// Montgomery values stay below 2^52, the IFMA lanes hold p in one 52-bit
// limb), and the base primes up to its square root sieve every number below
// it. Raising it means revisiting the bounds in arith/modmul.h and
// arith/ifma.h and changing kBasePrimeLimit together with it.
constexpr uint64_t kPLimit = 1ULL << 50;            // 1125899906842624
constexpr uint32_t kBasePrimeLimit = 1u << 25;      // sqrt(kPLimit)
constexpr uint64_t kPMinLimit = 1000000000ULL;      // smallest pmin accepted
constexpr int kNumK = 12;                           // k values per candidate file
