// The search plan: everything the search reads and no thread writes, built
// once from the candidate file before the first prime. The twelve k and
// their residue classes as the searches walk them, nhigh, and the constants
// the per-prime test derives from the classes: the class moduli factored
// into primes, the Jacobi shortcut of the standard classes, and the slots
// left with a single n. Every worker holds a reference to the one plan.
#pragma once
#include <cstdint>
#include <vector>

#include "arith/limits.h"

// The standard residue classes of the twelve built-in k (kBuiltinK) and the
// numbers whose Jacobi symbol filters each k in the standard case.
extern const uint32_t std_akequiv[kNumK];
extern const uint32_t std_akpower[kNumK];
extern const int32_t alegk[kNumK];

// Sets the candidate data to the twelve built-in k, each with its standard
// class as the only residue (akmod = akpower), empty sets and this nhigh: a
// candidate file's classes without its n, for checks that need no file.
void load_standard_classes(uint32_t nhigh);

struct u64_pair {
  uint64_t first;
  uint64_t second;
};

// A 32-bit class modulus has at most 9 prime factors and exponents up to 31.
constexpr int kMaxClassPrimes = 9 * kNumK;
constexpr int kMaxClassExp = 32;

// A prime q of some class modulus, so that gcd(M, x) for the per-prime x =
// p - 1 and x = B comes from the valuations of x at these few primes:
// multiplications by inverses modulo 2^64 instead of divisions.
struct class_prime {
  uint32_t q;
  uint32_t cap;                    // the largest exponent of q in any slot's modulus
  uint64_t inv;                    // q^-1 mod 2^64 (odd q)
  uint64_t lim;                    // (2^64 - 1) / q: q | x exactly when x * inv <= lim
  uint64_t pw[kMaxClassExp + 1];   // q^i for i <= cap
  uint64_t ipw[kMaxClassExp + 1];  // (q^i)^-1 mod 2^64 for odd q
};

// The Jacobi symbol of -k*2^a by reciprocity, for the standard classes:
// (-m/p) = (-1/p) (2/p)^s (m'/p) with m = -alegk = 2^s m', and for odd m' > 1
// (m'/p) = (p mod m' / m'), negated when p = m' = 3 (mod 4).
struct jacobi_k {
  uint32_t s;
  uint32_t m;       // m', odd
  uint64_t recip;   // floor(2^64 / m') + 1, for p mod m' without a division
};

struct search_plan {
  // The candidate file's slots as the searches read them (see db/candidates.h).
  int32_t ak[kNumK];
  uint32_t akpower[kNumK];
  uint32_t akequiv[kNumK];
  uint32_t akmod[kNumK];
  uint32_t aknres[kNumK];
  uint32_t akares[kNumK][10];
  uint32_t nhigh;
  // Each slot's candidate n when the run began, ascending. The search does
  // not read them; they let a worker thread tell a hit on a number that
  // was never a candidate (most excluded factors) from one the program's
  // sink must look up, since the sets only shrink during a run.
  std::vector<uint32_t> start_set[kNumK];

  // Every slot has the built-in k, residue and modulus; then ak2powa holds
  // k*2^a as two factors (the first below 2^40, the second 0, meaning the
  // first alone, or a power of two) and jk the Jacobi shortcut.
  bool standard_kpowers;
  u64_pair ak2powa[kNumK];
  jacobi_k jk[kNumK];

  // The class moduli as products of prime powers: slot_exp[i][j] is the
  // exponent of cprimes[j] in slot i's modulus (a slot without class
  // information counts as M = 1, a = 0, its residue in slot_a).
  class_prime cprimes[kMaxClassPrimes];
  int ncprimes;
  uint8_t slot_exp[kNumK][kMaxClassPrimes];
  uint64_t slot_a[kNumK];

  // Slots whose set holds a single n up to nhigh: with no class modulus the
  // searches do not walk them, so that n is tested directly (2^n = (-k)^-1).
  uint32_t lone_mask;
  uint32_t lone_n[kNumK];
};

// Builds the plan from the candidate database as read_db left it.
void build_search_plan(search_plan& plan);
