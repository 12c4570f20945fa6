// The order-of-two bound: a multiple B of the order of 2 modulo p that divides
// p - 1, and the grouped small factors of B in ps.ao2bfactors/ps.o2bfactors.
#pragma once
#include <cstdint>

// p prime, 10^9 <= p < kPLimit, modulus context set for p, and p the prime
// last returned by next_sieved_p (its recorded factors of p - 1 are used).
uint64_t order_2_bound(uint64_t p);
