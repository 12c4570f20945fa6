// Residue hash table shared by the three discrete-log searches. Keys are
// residues modulo p; the start slot is the low bits of the residue itself (no
// further hashing, residues are evenly spread), collisions probe linearly and
// wrap. Each store also records its slot, so that emptying the table between
// primes costs as much as filling it, however large the table was sized.
#include "search/hash.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Fixed stride of the general search; every stride it uses is at least this.
constexpr uint64_t kMinStride = 15840;
// Most entries of one Pohlig-Hellman giant-step table (one factor below 2^24).
constexpr uint64_t kMaxSubgroupTable = 4097;
constexpr uint64_t kMinSlots = 8192;

// Largest number of entries any search of a run with this nhigh stores.
uint64_t largest_table(uint32_t nhigh) {
  uint64_t most = nhigh / kMinStride + 1;
  if (kMaxSubgroupTable > most) most = kMaxSubgroupTable;
  // Residue-class search, class modulus at least 50; the root is taken in
  // floating point and then corrected so that it is the exact integer root.
  uint64_t q = nhigh / 50;
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(q)));
  while (r * r > q) --r;
  while ((r + 1) * (r + 1) <= q) ++r;
  if (r + 2 > most) most = r + 2;
  return most;
}

}  // namespace

void hash_init(uint32_t nhigh) {
  const uint64_t need = 2 * largest_table(nhigh);
  uint64_t slots = kMinSlots;
  while (slots < need) slots <<= 1;
  ps.ahash.assign(slots, hash_entry_t{0, 0});
  ps.ahashexp.assign(slots, 0);
  // At most slots - 1 entries: a lookup of an absent key must meet an empty slot.
  ps.ahashused.assign(slots - 1, 0);
  ps.nhashused = 0;
  ps.hashmask = static_cast<uint32_t>(slots - 1);
}

void clear_hash() {
  uint32_t* const tags = ps.ahashexp.data();
  const uint32_t* const used = ps.ahashused.data();
  for (uint32_t j = 0; j < ps.nhashused; ++j) tags[used[j]] = 0;
  ps.nhashused = 0;
}

void store_hash(const hash_entry_t& key, uint32_t tag) {
  if (ps.nhashused >= ps.hashmask) {
    std::fprintf(stderr, "Internal error: residue hash table full (%u slots)\n", ps.hashmask + 1);
    std::exit(1);
  }
  const uint32_t mask = ps.hashmask;
  uint32_t* const tags = ps.ahashexp.data();
  uint32_t slot = key.lo & mask;
  while (tags[slot] != 0) slot = (slot + 1) & mask;
  ps.ahash[slot] = key;
  tags[slot] = tag;
  ps.ahashused[ps.nhashused++] = slot;
}

uint32_t lookup_hash(const hash_entry_t& key, uint32_t skip) {
  const uint32_t mask = ps.hashmask;
  const uint32_t* const tags = ps.ahashexp.data();
  const hash_entry_t* const keys = ps.ahash.data();
  uint32_t slot = key.lo & mask;
  uint32_t found = 0;
  while (tags[slot] != 0) {
    if (keys[slot].lo == key.lo && keys[slot].hi == key.hi) {
      if (found == skip) return tags[slot];
      ++found;
    }
    slot = (slot + 1) & mask;
  }
  return 0;
}
