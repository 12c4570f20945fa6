// The order-of-two bound: a multiple B of the order of 2 modulo p that divides
// p - 1, and the grouped small factors of B in ps.ao2bfactors/ps.o2bfactors.
#pragma once
#include <cstdint>

#include "arith/prime_state.h"
#include "primes/sieve.h"

// p prime, 10^9 <= p < kPLimit, modulus context set for p; pm1 the primes
// q >= 73 dividing p - 1, as the sieve records them (a listed q that does not
// divide p - 1 is passed over); nhigh limits the grouped factors.
uint64_t order_2_bound(prime_state& ps, uint64_t p, factor_list pm1, uint32_t nhigh);
