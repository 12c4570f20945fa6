// A worker: everything that changes from prime to prime, owned by one thread.
// Its modulus context and hash table (prime_state), its stretch of the prime
// sieve, its counters, and the sink its hits go to. Workers share only the
// read-only search plan, so any number of them can run side by side.
#pragma once
#include <atomic>
#include <cstdint>

#include "arith/limits.h"
#include "arith/prime_state.h"
#include "primes/sieve.h"
#include "search/plan.h"
#include "search/sink.h"

struct search_counters {
  uint64_t testedp = 0;
  uint64_t whackedk = 0;
  uint64_t whackedp = 0;

  void add(const search_counters& o) {
    testedp += o.testedp;
    whackedk += o.whackedk;
    whackedp += o.whackedp;
  }
};

// What the Pohlig-Hellman search did with the last prime it was called for,
// recorded only when a worker's trace points somewhere (the tests).
enum sph_outcome_t : uint32_t {
  sph_declined = 0,     // M <= 3 (or the search switched off): nothing done
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

// How a block of primes ended.
struct block_result {
  uint64_t last_tested = 0;  // the largest prime tested, 0 when none
  bool complete = false;     // every prime of the block up to pmax tested
  bool failed = false;       // internal error: the residue hash table overflowed
};

class worker {
 public:
  // Sizes the hash table for the plan's nhigh. The plan must outlive the
  // worker; so must the sink, which may be replaced between primes.
  worker(const search_plan& plan, factor_sink& sink);
  worker(const worker&) = delete;
  worker& operator=(const worker&) = delete;

  // The per-prime test of the prime p (10^9 <= p < kPLimit) with pm1 the
  // primes q >= 73 dividing p - 1, ascending, each once (as the sieve
  // records them): counts it, sets the modulus context, computes the order
  // bound B, eliminates each k that cannot have a solution (a
  // necessary-condition test; a slot with akpower 0 carries no class
  // information and is tested as if any n were possible, a k divisible by p
  // is eliminated), and hands the survivors to the Pohlig-Hellman search,
  // or to the stride search when it declines. A surviving slot with a single
  // n up to nhigh has that n tested directly afterwards; a hit there is
  // handed on only if n is still a candidate. Every hit goes to the sink.
  void test_prime(uint64_t p, factor_list pm1);

  // Tests, in order, the primes p with from <= p < to and p <= pmax of the
  // consecutive sieve windows [window_low + i*2^23, window_low + (i+1)*2^23)
  // that [from, to) covers (window_low even, window_low <= from < to), sieving
  // each window unless it is the one sieved last. When cancel is set (it is
  // looked at every few thousand primes) the block ends early, its result
  // saying how far it got; while pause is set the worker waits there.
  block_result run_block(uint64_t window_low, uint64_t from, uint64_t to, uint64_t pmax,
                         const std::atomic<bool>* cancel, const std::atomic<bool>* pause = nullptr);

  void report(uint64_t p, int slot, uint32_t n, uint32_t xmod = 0, bool only_if_candidate = false) {
    sink->hit(factor_hit{p, n, xmod, static_cast<uint8_t>(slot), only_if_candidate, false, false});
  }

  const search_plan& plan;
  factor_sink* sink;
  prime_state ps;
  prime_sieve sieve;
  search_counters stats;
  // When false the Pohlig-Hellman search declines every prime, so that every
  // prime takes the stride search: for the cross-check of the two searches.
  bool use_sph = true;
  // Where the Pohlig-Hellman search records what it did (tests), or null.
  sph_trace_t* trace = nullptr;
};
