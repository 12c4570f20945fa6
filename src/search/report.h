// Factor reporting: every hit goes to the console and to "fact.txt" (n still a
// candidate) or "factexcl.txt" (excluded), and n leaves the candidate set.
#pragma once
#include <cstdint>

// Reports that p divides ak[i]*2^n+1. xmod is the class modulus of the
// residue-class search, or 0 when the hit comes from another search.
//
// The hit is first checked with 128-bit arithmetic independent of the
// modulus context; a hit that fails is an internal error. A new factor (n in
// aunfacset[i]) is appended to "fact.txt", any other hit to "factexcl.txt"
// unless outputdupes is false (then nothing is written or printed). The
// console line follows, with "\t(outside range)" / "\t(duplicate)" or, for a
// given xmod at non-zero verbose, "\t(xmod M[, outside range|, duplicate])".
// Finally n is erased from aunfacset[i]. A line that cannot be appended (the
// file cannot be opened, written or closed; the file is then cut back to its
// length before, so no partial line stays) ends the program with a message on
// standard error naming the file and the factor, exit status 1, before n is
// erased; so does a failed check.
void report_factor(uint64_t p, int i, uint32_t n, uint32_t xmod = 0);
