// The per-prime test: sets the modulus context, computes the order bound,
// eliminates every k that cannot have a solution modulo p (power-residue or
// Jacobi test), and hands the survivors to the discrete-log searches.
#pragma once
#include <cstdint>

#include "arith/limits.h"

// The standard residue classes of the twelve built-in k (kBuiltinK) and the
// numbers whose Jacobi symbol filters each k in the standard case.
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

// Once, after read_db: standard_kpowers is true when every slot has the
// built-in k, residue and modulus (kBuiltinK, std_akequiv, std_akpower); then
// ak2powa holds k*2^a for each slot. Also notes the slots with akpower 0
// whose set holds a single n up to nhigh.
void initialize();

// Tests one prime p (10^9 <= p < kPLimit), the prime last returned by the
// sieve: counts it, sets the modulus context, computes the order bound B,
// eliminates each k that cannot have a solution (a necessary-condition test;
// a slot with akpower 0 carries no class information and is tested as if any
// n were possible, a k divisible by p is eliminated), writes ps.amkinv of the
// survivors and hands them to sph_idea, or to check_factors when it declines.
// A surviving slot with akpower 0 and a single n up to nhigh (as initialize
// found it) has that n tested directly afterwards, and reported when it
// divides and is still a candidate. hash_init must have run.
void test_idea(uint64_t p);
