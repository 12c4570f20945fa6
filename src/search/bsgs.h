// Baby-step giant-step search over all n of the candidates' residue classes.
#pragma once
#include <cstdint>

// Finds and reports every n (0..nhigh and a little beyond) in the residue
// classes of each k of mask with k*2^n = -1 (mod p). Modulus context set for p.
void check_factors(uint64_t p, uint32_t mask);
