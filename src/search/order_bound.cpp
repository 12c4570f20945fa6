// Placeholder: order-of-two bound.
#include "search/order_bound.h"
uint64_t order_2_bound(uint64_t p) { return p - 1; }
