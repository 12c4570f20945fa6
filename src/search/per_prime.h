// The per-prime test: sets the modulus context, computes the order bound,
// eliminates every k that cannot have a solution modulo p (power-residue or
// Jacobi test), and hands the survivors to the discrete-log searches.
#pragma once
#include <cstdint>

#include "arith/limits.h"

// The standard residue classes of the twelve built-in k and the numbers whose
// Jacobi symbol filters each k in the standard case.
extern const int32_t std_ak[kNumK];
extern const uint32_t std_akequiv[kNumK];
extern const uint32_t std_akpower[kNumK];
extern const int32_t alegk[kNumK];

struct u64_pair {
  uint64_t first;
  uint64_t second;
};
extern u64_pair ak2powa[kNumK];   // k*2^a split into two factors (standard case)
extern bool standard_kpowers;     // the candidate file has the standard classes

// Statistics counters.
extern uint64_t stat_testedp;
extern uint64_t stat_whackedk;
extern uint64_t stat_whackedp;

// Once, after read_db: decides standard_kpowers and fills ak2powa.
void initialize();

// Tests one prime p (10^9 <= p < kPLimit), the prime last returned by the sieve.
void test_idea(uint64_t p);
