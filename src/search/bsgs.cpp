// Placeholder: baby-step giant-step search.
#include "search/bsgs.h"
void check_factors(uint64_t, uint32_t) {}
