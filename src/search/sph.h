// Pohlig-Hellman search and the residue-class search it hands over to.
//
// A solution n of k*2^n+1 = 0 (mod p) is a discrete logarithm: 2^n = t_k with
// t_k = ps.amkinv[k] (the worker's). For every small factor f of the order bound B listed in
// ps.ao2bfactors, 2^(B/f) generates the subgroup of order f, and t_k^(B/f) has
// a logarithm in it exactly when t_k could be a power of 2; that logarithm is
// n mod f. A baby-step giant-step search of about sqrt(f) steps finds it.
// Prime powers are lifted one digit at a time and the residues joined by
// Chinese remaindering into X[k] = n mod M, M the product of the factors used.
// k whose subgroup logarithm does not exist, or whose class X[k] mod M cannot
// meet the class of its candidates, are eliminated; the rest are searched only
// over the n = X[k] (mod M).
#pragma once
#include <cstdint>

#include "arith/limits.h"

class worker;

// p prime with the worker's modulus context set; B the order bound of
// order_2_bound with its grouped factors in w.ps.ao2bfactors/o2bfactors;
// mask != 0 the k that survived the per-prime test, w.ps.amkinv set for them.
// Returns false when it declines the prime (nothing done, no counter
// touched; always when w.use_sph is off); true when p is fully handled,
// every hit handed to the sink. Counts each eliminated k in
// w.stats.whackedk and the prime in w.stats.whackedp when no k is left.
// Rewrites the used entries of ps.ao2bfactors (runs of one prime joined into
// the prime power), the hash table and ps.bdivp; records what it did in
// *w.trace when that is set.
bool sph_idea(worker& w, uint64_t p, uint64_t B, uint32_t mask);

// Searches, for each k of mask, the n = X[k] (mod M) from X[k] up to nhigh and
// a little beyond, and hands every hit to the sink with class modulus M.
// 2 <= M <= nhigh, X[k] < M for every k of mask. Rewrites the hash table and
// ps.bdivp.
void check_factors_sph(worker& w, uint64_t p, uint32_t mask, uint32_t M, const uint64_t X[]);
