// Residue hash table shared by the three discrete-log searches. Keys are
// residues modulo p; the start slot is the low bits of the residue itself (no
// further hashing, residues are evenly spread), collisions probe linearly and
// wrap. Each store also sets the filter bit of its low key bits. Emptying
// the table clears the tags and filter words of the slots in use, which a
// giant-step table keeps within a few times its entries, however large the
// allocation was sized.
#include "search/hash.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arith/modmul.h"

namespace {

// Fixed stride of the general search; every stride it uses is at least this.
constexpr uint64_t kMinStride = 15840;
// Most entries of one Pohlig-Hellman giant-step table (one factor below 2^24).
constexpr uint64_t kMaxSubgroupTable = 4097;
constexpr uint64_t kMinSlots = 8192;
// A giant-step table uses only the first slots of the allocation: a power of
// two, at least this many and at least kSpread times its entries, so that it
// stays at most a quarter full while its slots and filter stay in the nearest
// caches (a table of a few dozen entries spread over the whole allocation
// would touch a new cache line with every store, lookup and clearing).
constexpr uint64_t kMinActiveSlots = 64;
constexpr uint64_t kSpread = 4;
// Filter bits per slot: with a table at most a quarter full, about 1 in 64 of
// the absent keys finds its bit set.
constexpr uint64_t kFilterBitsPerSlot = 16;

// Probes the first `slots` slots of the allocation (a power of two).
void set_active_slots(uint64_t slots) {
  ps.hashmask = static_cast<uint32_t>(slots - 1);
  ps.hashfiltermask = static_cast<uint32_t>(slots * kFilterBitsPerSlot - 1);
}

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

// The table's arrays and fill count in locals, so that a run of stores keeps
// them in registers.
struct table_view {
  hash_entry_t* keys;
  uint32_t* tags;
  uint64_t* filter;
  uint32_t mask;
  uint32_t filtermask;
  uint32_t n;

  table_view()
      : keys(ps.ahash.data()),
        tags(ps.ahashexp.data()),
        filter(ps.ahashfilter.data()),
        mask(ps.hashmask),
        filtermask(ps.hashfiltermask),
        n(ps.nhashused) {}

  // The caller has checked that an empty slot is left.
  void put(uint64_t v, uint32_t tag) {
    const hash_entry_t key = make_hash_entry(v);
    uint32_t slot = key.lo & mask;
    while (tags[slot] != 0) slot = (slot + 1) & mask;
    keys[slot] = key;
    tags[slot] = tag;
    ++n;
    const uint32_t bit = key.lo & filtermask;
    filter[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
};

}  // namespace

void hash_init(uint32_t nhigh) {
  const uint64_t need = 2 * largest_table(nhigh);
  uint64_t slots = kMinSlots;
  while (slots < need) slots <<= 1;
  ps.ahash.assign(slots, hash_entry_t{0, 0});
  ps.ahashexp.assign(slots, 0);
  ps.nhashused = 0;
  ps.ahashfilter.assign(slots * kFilterBitsPerSlot / 64, 0);
  set_active_slots(slots);
}

void clear_hash() {
  // Only the slots and filter bits in use can be set; they are at most
  // kSpread times (plus kMinActiveSlots) the entries stored since the last
  // clearing, when the table was filled by store_power_table.
  if (ps.nhashused != 0) {
    std::memset(ps.ahashexp.data(), 0, (uint64_t{ps.hashmask} + 1) * sizeof(uint32_t));
    std::memset(ps.ahashfilter.data(), 0, (uint64_t{ps.hashfiltermask} + 1) / 8);
  }
  ps.nhashused = 0;
  set_active_slots(ps.ahashexp.size());
}

void hash_full() {
  std::fprintf(stderr, "Internal error: residue hash table full (%u slots)\n", ps.hashmask + 1);
  std::exit(1);
}

void store_hash(const hash_entry_t& key, uint32_t tag) {
  if (ps.nhashused >= ps.hashmask) hash_full();
  table_view t;
  t.put(static_cast<uint64_t>(key.hi) << 32 | key.lo, tag);
  ps.nhashused = t.n;
}

void store_power_table(uint64_t g, uint32_t count, uint64_t p) {
  clear_hash();
  if (count > ps.hashmask) hash_full();
  uint64_t slots = kMinActiveSlots;
  while (slots < kSpread * count && slots <= ps.hashmask) slots <<= 1;
  set_active_slots(slots);
  table_view t;
  set_bdivp(g);
  uint32_t j = 0;
  if (count >= 16) {
    // Four chains v_c = g^(j + c), each stepped by g^4: four independent
    // products per round instead of one chain of dependent ones.
    uint64_t v0 = 1, v1 = g;
    uint64_t v2 = mul_mod_p_b(g, g, p);
    uint64_t v3 = mul_mod_p_b(v2, g, p);
    const uint64_t g4 = mul_mod_p_b(v3, g, p);
    set_bdivp(g4);
    for (; j + 4 <= count; j += 4) {
      t.put(v0, j + 1);
      t.put(v1, j + 2);
      t.put(v2, j + 3);
      t.put(v3, j + 4);
      v0 = mul_mod_p_b(v0, g4, p);
      v1 = mul_mod_p_b(v1, g4, p);
      v2 = mul_mod_p_b(v2, g4, p);
      v3 = mul_mod_p_b(v3, g4, p);
    }
    if (j < count) t.put(v0, ++j);
    if (j < count) t.put(v1, ++j);
    if (j < count) t.put(v2, ++j);
  } else {
    uint64_t v = 1;
    for (;;) {
      t.put(v, ++j);
      if (j == count) break;
      v = mul_mod_p_b(v, g, p);
    }
  }
  ps.nhashused = t.n;
}

uint32_t lookup_hash_slow(const hash_entry_t& key, uint32_t skip) {
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
