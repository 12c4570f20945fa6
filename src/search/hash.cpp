// Residue hash table shared by the three discrete-log searches. Keys are
// residues modulo p; the bucket is the low bits of the residue itself (no
// further hashing, residues are evenly spread). Entries go to sequential
// arrays in the order stored, each linked to the entry stored before it in
// its bucket, so a bucket's chain runs from its newest entry to its oldest.
// Each store also sets the filter bit of its low key bits. Emptying the
// table clears the bucket heads and filter words in use, which a giant-step
// table keeps within a few times its entries, however large the allocation
// was sized; the entries themselves are simply overwritten by the next fill.
#include "search/hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arith/ifma.h"
#include "arith/modmul.h"
#include "arith/numtheory.h"

namespace {

// Fixed stride of the general search; every stride it uses is at least this.
constexpr uint64_t kMinStride = 15840;
// Most entries of one Pohlig-Hellman giant-step table (one factor below 2^24).
constexpr uint64_t kMaxSubgroupTable = 4097;
constexpr uint64_t kMinSlots = 8192;
// A giant-step table uses only the first buckets of the allocation: a power
// of two, at least this many and at least kSpread times its entries, so that
// chains stay short while its buckets and filter stay in the nearest caches
// (a table of a few dozen entries spread over the whole allocation would
// touch a new cache line with every store, lookup and clearing).
constexpr uint64_t kMinActiveSlots = 64;
constexpr uint64_t kSpread = 4;
// Filter bits per bucket: with at most a quarter as many entries as buckets,
// about 1 in 64 of the absent keys finds its bit set.
constexpr uint64_t kFilterBitsPerSlot = 16;

// Puts the first `slots` buckets of the allocation in use (a power of two).
void set_active_slots(prime_state& ps, uint64_t slots) {
  ps.hashmask = static_cast<uint32_t>(slots - 1);
  ps.hashfiltermask = static_cast<uint32_t>(slots * kFilterBitsPerSlot - 1);
}

// Largest number of entries any search of a run with this nhigh stores.
uint64_t largest_table(uint32_t nhigh) {
  uint64_t most = nhigh / kMinStride + 1;
  if (kMaxSubgroupTable > most) most = kMaxSubgroupTable;
  // Residue-class search, class modulus at least 50.
  const uint64_t r = isqrt_u64(nhigh / 50);
  if (r + 2 > most) most = r + 2;
  return most;
}

// The table's arrays and fill count in locals, so that a run of stores keeps
// them in registers.
struct table_view {
  uint64_t* vals;
  uint32_t* tags;
  uint32_t* next;
  uint32_t* head;
  uint64_t* filter;
  uint32_t mask;
  uint32_t filtermask;
  uint32_t n;

  explicit table_view(prime_state& ps)
      : vals(ps.ahash.data()),
        tags(ps.ahashexp.data()),
        next(ps.ahashnext.data()),
        head(ps.ahashhead.data()),
        filter(ps.ahashfilter.data()),
        mask(ps.hashmask),
        filtermask(ps.hashfiltermask),
        n(ps.nhashused) {}

  // Stores v as entry n + 1. The caller has checked that there is room.
  void put(uint64_t v, uint32_t tag) {
    const uint32_t lo = static_cast<uint32_t>(v);
    uint32_t* const b = head + (lo & mask);
    next[n] = *b;
    vals[n] = v;
    tags[n] = tag;
    *b = ++n;
    const uint32_t bit = lo & filtermask;
    filter[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
};

#if BRINDLE_HAVE_IFMA
// Stores g^j with tag j + 1 for j = 0 .. count - 1, count >= 8, from eight
// chains v_c = g^(j + c) stepped together by g^8 on the 52-bit multiply-add
// instructions. The step multiplies by g^8 * 2^52 mod p in Montgomery form
// (R = 2^52), so a canonical v < p gives v * g^8 mod p, below 2p, and one
// subtraction makes it canonical again for the stores and the next step.
// Returns the number of entries stored, a multiple of 8; modulus context set
// for p, ps.bdivp set for g (and left so).
BRINDLE_IFMA uint32_t put_powers_ifma(const modulus_ctx& ps, table_view& tv, uint64_t g, uint32_t count, uint64_t p) {
  table_view t = tv;  // a local copy keeps the arrays and count in registers
  alignas(64) uint64_t v[8];
  v[0] = 1;
  v[1] = g;
  for (int c = 2; c < 8; ++c) v[c] = mul_mod_p_b(ps, v[c - 1], g, p);
  const uint64_t g8 = mul_mod_p_b(ps, v[7], g, p);
  const ifma_modulus md = ifma_set_modulus(p);
  const __m512i step = _mm512_set1_epi64(static_cast<long long>(mul_mod_p(ps, g8, pow2mod(ps, 52, p), p)));
  __m512i x = _mm512_load_si512(v);
  uint32_t j = 0;
  for (; j + 8 <= count; j += 8) {
    _mm512_store_si512(v, x);
    x = ifma_reduce(ifma_mont_mul(x, step, md), md);
    for (int c = 0; c < 8; ++c) t.put(v[c], j + c + 1);
  }
  tv.n = t.n;
  return j;
}
#endif

}  // namespace

void hash_init(prime_state& ps, uint32_t nhigh) {
  const uint64_t need = 2 * largest_table(nhigh);
  uint64_t slots = kMinSlots;
  while (slots < need) slots <<= 1;
  ps.ahash.assign(slots, 0);
  ps.ahashexp.assign(slots, 0);
  ps.ahashnext.assign(slots, 0);
  ps.ahashhead.assign(slots, 0);
  ps.nhashused = 0;
  ps.ahashfilter.assign(slots * kFilterBitsPerSlot / 64, 0);
  ps.hash_overflow = false;
  set_active_slots(ps, slots);
}

void clear_hash(prime_state& ps) {
  // Only the buckets and filter bits in use can be set; they are at most
  // kSpread times (plus kMinActiveSlots) the entries stored since the last
  // clearing, when the table was filled by store_power_table. The entries
  // themselves need no clearing: no bucket refers to them any more.
  if (ps.nhashused != 0) {
    std::memset(ps.ahashhead.data(), 0, (uint64_t{ps.hashmask} + 1) * sizeof(uint32_t));
    std::memset(ps.ahashfilter.data(), 0, (uint64_t{ps.hashfiltermask} + 1) / 8);
  }
  ps.nhashused = 0;
  set_active_slots(ps, ps.ahashhead.size());
}

void store_hash(prime_state& ps, const hash_entry_t& key, uint32_t tag) {
  if (ps.nhashused + uint64_t{1} >= ps.ahash.size()) {
    ps.hash_overflow = true;
    return;
  }
  table_view t(ps);
  t.put(static_cast<uint64_t>(key.hi) << 32 | key.lo, tag);
  ps.nhashused = t.n;
}

void store_power_table(prime_state& ps, uint64_t g, uint32_t count, uint64_t p) {
  clear_hash(ps);
  if (count >= ps.ahash.size()) {
    ps.hash_overflow = true;
    return;
  }
  uint64_t slots = kMinActiveSlots;
  while (slots < kSpread * count && slots <= ps.hashmask) slots <<= 1;
  set_active_slots(ps, slots);
  table_view t(ps);
  set_bdivp(ps, g);
  uint32_t j = 0;
#if BRINDLE_HAVE_IFMA
  if (count >= 32 && ifma_for(p)) {
    j = put_powers_ifma(ps, t, g, count, p);
    if (j < count) {
      // The last few powers, in scalar steps from g^j (ps.bdivp is still g's).
      uint64_t v = mul_mod_p_b(ps, t.vals[t.n - 1], g, p);
      for (;;) {
        t.put(v, ++j);
        if (j == count) break;
        v = mul_mod_p_b(ps, v, g, p);
      }
    }
  } else
#endif
  if (count >= 16) {
    // Four chains v_c = g^(j + c), each stepped by g^4: four independent
    // products per round instead of one chain of dependent ones.
    uint64_t v0 = 1, v1 = g;
    uint64_t v2 = mul_mod_p_b(ps, g, g, p);
    uint64_t v3 = mul_mod_p_b(ps, v2, g, p);
    const uint64_t g4 = mul_mod_p_b(ps, v3, g, p);
    set_bdivp(ps, g4);
    for (; j + 4 <= count; j += 4) {
      t.put(v0, j + 1);
      t.put(v1, j + 2);
      t.put(v2, j + 3);
      t.put(v3, j + 4);
      v0 = mul_mod_p_b(ps, v0, g4, p);
      v1 = mul_mod_p_b(ps, v1, g4, p);
      v2 = mul_mod_p_b(ps, v2, g4, p);
      v3 = mul_mod_p_b(ps, v3, g4, p);
    }
    if (j < count) t.put(v0, ++j);
    if (j < count) t.put(v1, ++j);
    if (j < count) t.put(v2, ++j);
  } else {
    uint64_t v = 1;
    for (;;) {
      t.put(v, ++j);
      if (j == count) break;
      v = mul_mod_p_b(ps, v, g, p);
    }
  }
  ps.nhashused = t.n;
}

uint32_t lookup_hash_slow(const prime_state& ps, const hash_entry_t& key, uint32_t skip) {
  const uint64_t v = static_cast<uint64_t>(key.hi) << 32 | key.lo;
  const uint64_t* const vals = ps.ahash.data();
  const uint32_t* const next = ps.ahashnext.data();
  // The chain runs from the last entry stored to the first: count the equal
  // entries, then return the one that has skip equal entries before it.
  const uint32_t first = ps.ahashhead[key.lo & ps.hashmask];
  uint32_t equal = 0;
  for (uint32_t e = first; e != 0; e = next[e - 1]) equal += vals[e - 1] == v;
  if (skip >= equal) return 0;
  uint32_t later = equal - 1 - skip;  // equal entries stored after the one sought
  for (uint32_t e = first;; e = next[e - 1]) {
    if (vals[e - 1] == v) {
      if (later == 0) return ps.ahashexp[e - 1];
      --later;
    }
  }
}
