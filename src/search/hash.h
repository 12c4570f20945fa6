// Residue hash table of the discrete-log searches (in ps: ahash, ahashexp):
// open addressing with linear probing, start slot = low bits of the residue.
// Entries are never deleted; the table is emptied as a whole. A lookup of a
// key returns the tags of equal keys in the order they were stored.
#pragma once
#include <cstdint>

#include "arith/prime_state.h"

// Allocates the table for a run with the given nhigh: a power of two number
// of slots, at least 8192 and at least twice the largest table any search of
// the run stores (giant steps of the stride search, of one Pohlig-Hellman
// factor below 2^24, or of the residue-class search). Called once after the
// candidate file is read, before the first prime; calling it again resizes
// and empties the table.
void hash_init(uint32_t nhigh);

// Empties the table (all tags 0). Costs one store per entry stored since the
// last clearing, not one per slot.
void clear_hash();

// Stores key with tag (tag != 0) in the first empty slot of its probe path.
// A store that would leave no empty slot is an internal error (message on
// standard error, exit status 1): the sizing of hash_init rules it out.
void store_hash(const hash_entry_t& key, uint32_t tag);

// The tag of the (skip+1)-th entry equal to key in probe order, or 0.
uint32_t lookup_hash(const hash_entry_t& key, uint32_t skip);
