// Placeholder: per-prime test.
#include "search/per_prime.h"

const int32_t std_ak[kNumK] = {4847, 5359, 10223, 19249, 21181, 22699, 24737, 27653, 28433, 33661, 55459, 67607};
const uint32_t std_akequiv[kNumK] = {15, 6, 5, 14, 20, 46, 7, 33, 1, 0, 10, 3};
const uint32_t std_akpower[kNumK] = {24, 8, 12, 36, 24, 72, 24, 36, 24, 24, 12, 8};
const int32_t alegk[kNumK] = {-9694, -5359, -20446, -19249, -21181, -22699, -49474, -55306, -56866, -33661, -55459, -135214};
u64_pair ak2powa[kNumK];
bool standard_kpowers = false;
uint64_t stat_testedp = 0;
uint64_t stat_whackedk = 0;
uint64_t stat_whackedp = 0;

void initialize() {}
void test_idea(uint64_t) { ++stat_testedp; }
