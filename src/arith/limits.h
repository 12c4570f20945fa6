// Fixed limits of the search: the largest prime p the arithmetic supports,
// the base-prime bound that sieves every number below it, the smallest p
// accepted, and the number of k values the program carries and the built-in
// ones.
#pragma once
#include <cstdint>

// Largest supported p. The modular products rely on it (the partly reduced
// Montgomery values of arith/modmul.h stay below 2p, which needs 4p < 2^64;
// the IFMA lanes serve only p below 2^50, see arith/ifma.h), and the base
// primes up to its square root sieve every number below it. Raising it means
// revisiting those bounds and changing kBasePrimeLimit together with it.
constexpr uint64_t kPLimit = 1ULL << 62;            // 4611686018427387904
constexpr uint32_t kBasePrimeLimit = 1u << 31;      // sqrt(kPLimit)
constexpr uint64_t kPMinLimit = 1000000000ULL;      // smallest pmin accepted
constexpr int kNumK = 12;                           // k values per candidate file

// The twelve built-in k, in slot order: the k of the candidate file's
// sections, of a slot the file leaves out, and of vexgen's starter file.
constexpr int32_t kBuiltinK[kNumK] = {4847,  5359,  10223, 19249, 21181, 22699,
                                      24737, 27653, 28433, 33661, 55459, 67607};
