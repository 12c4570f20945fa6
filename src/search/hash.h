// Residue hash table of the discrete-log searches (in ps): chained buckets,
// bucket = low bits of the residue. Entries live in the order stored in
// sequential arrays (residue, tag, link to the previous entry of the same
// bucket); each bucket holds its last entry. Entries are never deleted; the
// table is emptied as a whole. A lookup of a key returns the tags of equal
// keys in the order they were stored.
//
// A store writes one random word (the bucket) and sequential ones (the
// entry), with no probing and no branch, so that the giant-step tables of the
// searches cost little more than their products. Each giant-step table uses
// only the first buckets of the allocation (ps.hashmask + 1 of them, a power
// of two at least four times its entries), so that a small table stays in
// the nearest caches. Beside the buckets, a bit filter (ps.ahashfilter,
// sixteen bits per bucket in use) records which values of the low key bits
// have been stored. Nearly every lookup of the searches is of an absent key;
// the filter answers those from one bit, with a branch that is almost never
// taken, instead of a walk of a bucket's chain.
#pragma once
#include <cstdint>

#include "arith/prime_state.h"

// Allocates the table for a run with the given nhigh: a power of two number
// of slots (buckets, and room for one entry fewer), at least 8192 and at
// least twice the largest table any search of the run stores (giant steps of
// the stride search, of one Pohlig-Hellman factor below 2^24, or of the
// residue-class search). Called once after the candidate file is read,
// before the first prime; calling it again resizes and empties the table.
// All buckets are in use (ps.hashmask + 1 = slots).
void hash_init(prime_state& ps, uint32_t nhigh);

// Empties the table (no entries, all buckets empty) and puts all buckets in
// use again. Costs as much as the buckets in use, which store_power_table
// keeps within a few times its entries; nothing when the table is already
// empty.
void clear_hash(prime_state& ps);

// Stores key with tag (tag != 0) as the next entry, last in its bucket among
// the buckets in use. A store that would fill every slot of the allocation
// is an internal error, ruled out by the sizing of hash_init: nothing is
// stored and ps.hash_overflow is set for the caller to report.
void store_hash(prime_state& ps, const hash_entry_t& key, uint32_t tag);

// Empties the table, then stores g^j with tag j + 1 for j = 0 .. count - 1
// (count >= 1, g < p, modulus context set for p): the giant-step table of
// all three searches, in the first buckets of the allocation (the smallest
// power of two, at least 64, that is at least four times count, or all of
// them); entry j + 1 is g^j. The powers come from interleaved product chains:
// eight on the 52-bit multiply-add instructions (from 32 powers), four
// otherwise (from 16), one for fewer. The stores keep the order of j, so
// equal keys come back in the order of j. Leaves ps.bdivp changed.
void store_power_table(prime_state& ps, uint64_t g, uint32_t count, uint64_t p);

// The tag of the (skip+1)-th entry equal to key in the order stored, or 0.
uint32_t lookup_hash_slow(const prime_state& ps, const hash_entry_t& key, uint32_t skip);

inline uint32_t lookup_hash(const prime_state& ps, const hash_entry_t& key, uint32_t skip) {
  const uint32_t bit = key.lo & ps.hashfiltermask;
  if (((ps.ahashfilter[bit >> 6] >> (bit & 63)) & 1) == 0) return 0;
  return lookup_hash_slow(ps, key, skip);
}

// Whether some entry may equal v: false means lookup_hash(ps, v, 0) is 0. The
// walks test every step with this alone and go back over a stretch of steps
// with lookup_hash when it says yes.
inline bool hash_may_hold(const prime_state& ps, uint64_t v) {
  const uint32_t bit = static_cast<uint32_t>(v) & ps.hashfiltermask;
  return ((ps.ahashfilter[bit >> 6] >> (bit & 63)) & 1) != 0;
}
