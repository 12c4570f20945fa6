// The working state of the current prime p, kept in one record: the modulus
// context of the modular products, the residue hash table of the discrete-log
// searches, the per-k inverses and the grouped factors of the order bound.
// Everything here is overwritten for every prime. Each worker owns one; no
// two threads share it.
#pragma once
#include <cstdint>
#include <vector>

#include "arith/limits.h"
#include "arith/modmul.h"

// A residue modulo p used as a hash key: its low 32-bit word, then its high word.
struct hash_entry_t {
  uint32_t lo;
  uint32_t hi;
};

inline hash_entry_t make_hash_entry(uint64_t v) {
  return hash_entry_t{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}

struct prime_state : modulus_ctx {
  // Residue hash table (chained buckets). Entry e (1-based, in the order
  // stored) keeps its residue in ahash[e-1], its tag in ahashexp[e-1] and the
  // entry stored before it in the same bucket in ahashnext[e-1] (0: none);
  // ahashhead[b] is the last entry stored in bucket b (0: none). The arrays
  // are sized at start-up from nhigh; the first hashmask + 1 buckets (a power
  // of two) are in use, the bucket of a residue being its low bits.
  std::vector<uint64_t> ahash;
  std::vector<uint32_t> ahashexp;
  std::vector<uint32_t> ahashnext;
  std::vector<uint32_t> ahashhead;
  uint32_t hashmask = 0;
  // Entries stored since the last clearing.
  uint32_t nhashused = 0;
  // One bit per value of the low key bits (hashfiltermask + 1 of them,
  // sixteen per bucket in use), set when a key with those bits is stored: a
  // clear bit means the key is absent.
  std::vector<uint64_t> ahashfilter;
  uint32_t hashfiltermask = 0;
  // Set when a store found no room (ruled out by the sizing of hash_init):
  // the searches since are incomplete and the caller reports an internal
  // error.
  bool hash_overflow = false;

  // (-k)^-1 mod p for each k that survived the per-prime test.
  uint64_t amkinv[kNumK] = {};

  // Grouped small factors of the order bound B, 0-terminated, and their count.
  uint32_t ao2bfactors[65] = {};
  uint32_t o2bfactors = 0;
};

