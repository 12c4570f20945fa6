// The candidate database: per k, the ordered set of exponents n for which
// k*2^n+1 has no known factor, the upper bound nhigh, and the residue classes
// into which the remaining n fall (used by the searches to skip whole classes).
#pragma once
#include <cstdint>
#include <set>
#include <string>

#include "arith/limits.h"

extern int32_t ak[kNumK];                    // the k of each slot
extern std::set<uint32_t> aunfacset[kNumK];  // unfactored n per slot
extern uint32_t akpower[kNumK];   // gcd of the differences between consecutive n
extern uint32_t akequiv[kNumK];   // common residue of the n modulo akpower
extern uint32_t akmod[kNumK];     // akpower times the chosen multiplier (1..49)
extern uint32_t aknres[kNumK];    // number of valid entries in akares
extern uint32_t akares[kNumK][10];  // distinct n mod akmod, ascending
extern uint32_t nhigh;            // upper bound of n (default 20000000)

constexpr uint32_t kDefaultNhigh = 20000000;

// Reads the candidate file into ak, aunfacset, nhigh, akpower and akequiv,
// then chooses akmod and fills aknres/akares. Slots beyond the file's last
// section keep their built-in k, an empty set and zero tables; an n above
// nhigh is kept. At verbose >= 1 prints the per-section classes and the
// summary, at verbose >= 2 the analysis. Returns false, after one line on
// standard output naming the problem (and its line), when the file cannot be
// opened or read or is malformed; the globals are then left unchanged.
bool read_db(const std::string& filename);

// Prints the per-slot summary.
void print_stats();

// Writes the candidate sets back (n above nhigh dropped), atomically through
// "<filename>.tmp" in the same directory. Returns false, leaving the old file untouched and after a
// message on standard error, when the new file cannot be written completely.
bool dump_db(const std::string& filename);
