// Placeholder: Pohlig-Hellman and residue-class searches.
#include "search/sph.h"
bool sph_idea(uint64_t, uint64_t, uint32_t) { return false; }
void check_factors_sph(uint64_t, uint32_t, uint32_t, const uint64_t[]) {}
