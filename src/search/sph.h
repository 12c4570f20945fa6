// Pohlig-Hellman search and the residue-class search it hands over to.
//
// A solution n of k*2^n+1 = 0 (mod p) is a discrete logarithm: 2^n = t_k with
// t_k = ps.amkinv[k]. For every small factor f of the order bound B listed in
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

// When false, sph_idea declines every prime, so that every prime takes the
// plain baby-step giant-step search. Only the cross-check of the two searches
// turns it off; the program always leaves it on.
extern bool sph_enabled;

// What sph_idea did with the last prime it was called for. Written once per
// call (a few stores), read by the tests only.
enum sph_outcome_t : uint32_t {
  sph_declined = 0,     // M <= 3 (or sph_enabled off): nothing done
  sph_all_whacked = 1,  // every k eliminated; no search ran
  sph_to_bsgs = 2,      // M <= 49: check_factors on the survivors
  sph_to_classes = 3,   // check_factors_sph on the survivors with M and X
};
struct sph_trace_t {
  sph_outcome_t outcome;
  uint64_t M;              // product of the factors used (1 when none)
  uint32_t nf;             // number of leading grouped factors used
  uint32_t mask_in;        // k it was called with
  uint32_t mask;           // k left when the search was handed on
  uint32_t tables;         // giant-step tables built for the subgroups
  uint64_t X[kNumK];       // n mod M of each k of mask
};
extern sph_trace_t sph_trace;

// p prime with the modulus context set; B the order bound of order_2_bound(p)
// with its grouped factors in ps.ao2bfactors/ps.o2bfactors; mask != 0 the k
// that survived the per-prime test, ps.amkinv set for them.
// Returns false when it declines the prime (nothing done, no counter touched);
// true when p is fully handled, every hit reported. Increments stat_whackedk
// per eliminated k and stat_whackedp when no k is left. Rewrites the used
// entries of ps.ao2bfactors (runs of one prime joined into the prime power),
// the hash table and ps.bdivp.
bool sph_idea(uint64_t p, uint64_t B, uint32_t mask);

// Searches, for each k of mask, the n = X[k] (mod M) from X[k] up to nhigh and
// a little beyond, and reports every hit with class modulus M. 2 <= M <= nhigh,
// X[k] < M for every k of mask. Rewrites the hash table and ps.bdivp.
void check_factors_sph(uint64_t p, uint32_t mask, uint32_t M, const uint64_t X[]);
