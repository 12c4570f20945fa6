// Factor reporting: every hit goes to the console and to "fact.txt" (n still a
// candidate) or "factexcl.txt" (excluded), and n leaves the candidate set.
#pragma once
#include <cstdint>

// Reports that p divides ak[i]*2^n+1. xmod is the class modulus of the
// residue-class search, or 0 when the hit comes from another search.
void report_factor(uint64_t p, int i, uint32_t n, uint32_t xmod = 0);
