// Owner of the per-prime working state.
#include "arith/prime_state.h"

prime_state ps;
