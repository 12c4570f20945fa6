// Residue hash table of the discrete-log searches (in ps: ahash, ahashexp):
// open addressing with linear probing, start slot = low bits of the residue.
// Entries are never deleted; the table is emptied as a whole. A lookup of a
// key returns the tags of equal keys in the order they were stored.
#pragma once
#include <cstdint>

#include "arith/prime_state.h"

// Allocates the table for a run with the given nhigh: a power of two number
// of slots, large enough that no search of the run fills more than half of it.
void hash_init(uint32_t nhigh);

// Empties the table (all tags 0).
void clear_hash();

// Stores key with tag (tag != 0) in the first empty slot of its probe path.
void store_hash(const hash_entry_t& key, uint32_t tag);

// The tag of the (skip+1)-th entry equal to key in probe order, or 0.
uint32_t lookup_hash(const hash_entry_t& key, uint32_t skip);
