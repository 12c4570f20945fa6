// Pohlig-Hellman search and the residue-class search it hands over to.
#pragma once
#include <cstdint>

// Solves the discrete logarithms in the small subgroups of the order bound B,
// eliminates k, and searches the survivors by residue class. Returns false
// when it declines the prime (nothing done); true when p is fully handled.
bool sph_idea(uint64_t p, uint64_t B, uint32_t mask);

// Searches, for each k of mask, the n = X[k] (mod M) up to nhigh and beyond.
void check_factors_sph(uint64_t p, uint32_t mask, uint32_t M, const uint64_t X[]);
