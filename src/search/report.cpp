// Placeholder: factor reporting.
#include "search/report.h"
void report_factor(uint64_t, int, uint32_t, uint32_t) {}
