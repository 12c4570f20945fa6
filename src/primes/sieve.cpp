// Placeholder until the segmented sieve lands.
#include "primes/sieve.h"

std::vector<uint16_t> aallprimes;
uint32_t nprimes = 0;
uint64_t sievewindowlow = 0;
uint32_t sievewindowindex = 0;

void eratosthenes_base(int32_t) {}
void eratosthenes_window(uint64_t) {}
uint64_t next_sieved_p() { return ~0ULL; }
factor_list mappminus1factors(uint32_t) { return factor_list{nullptr, nullptr}; }
