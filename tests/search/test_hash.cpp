// Residue hash table: sizing for the run's nhigh, probe-order semantics of the
// skip count (equal keys come back in the order stored), keys sharing the
// first and last bucket, full 64-bit key comparison, 32-bit tags, and
// clearing (nothing of an earlier table comes back), checked
// against a plain multimap on random fills up to the largest size any search
// stores; the giant-step tables against independent powers; a store that
// finds no room flagged for the caller. Every test works on a table of its
// own (a worker's prime state).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "arith/ifma.h"
#include "arith/modmul.h"
#include "search/hash.h"

namespace {

hash_entry_t key(uint64_t v) { return make_hash_entry(v); }

TEST(HashInit, SlotsArePowerOfTwoAndHoldEverySearchTable) {
  prime_state ps;
  struct row {
    uint32_t nhigh;
    uint32_t slots;
  };
  // The Pohlig-Hellman table of one factor below 2^24 (up to 4097 entries)
  // sets the floor; the stride table floor(nhigh/15840)+1 rules above it.
  const row rows[] = {
      {0, 16384},
      {20000000, 16384},           // 1263 giant steps
      {64864800, 16384},           // 4096 giant steps: the old 4095 capacity
      {129761279, 16384},          // 8192 giant steps
      {129761280, 32768},          // 8193
      {838451250, 131072},         // 52933
      {2147483647u, 524288},       // 135574
      {4294967295u, 1048576},      // 271150
  };
  for (const row& r : rows) {
    hash_init(ps, r.nhigh);
    EXPECT_EQ(ps.hashmask + 1, r.slots) << "nhigh " << r.nhigh;
    EXPECT_EQ(ps.ahash.size(), r.slots);
    EXPECT_EQ(ps.ahashexp.size(), r.slots);
    EXPECT_EQ(ps.ahashnext.size(), r.slots);
    EXPECT_EQ(ps.ahashhead.size(), r.slots);
    const uint64_t stride_entries = r.nhigh / 15840 + 1;
    EXPECT_GE(ps.hashmask + 1, 2 * stride_entries);
  }
}

TEST(HashTable, EqualKeysComeBackInStoredOrder) {
  prime_state ps;
  hash_init(ps, 20000000);
  clear_hash(ps);
  const uint64_t a = 0x123456789ULL;
  const uint64_t b = a + (1ULL << 40);  // same low word, other high word
  store_hash(ps, key(a), 7);
  store_hash(ps, key(b), 8);
  store_hash(ps, key(a), 9);
  store_hash(ps, key(a), 70000);  // tags wider than 16 bits are kept whole
  EXPECT_EQ(lookup_hash(ps, key(a), 0), 7u);
  EXPECT_EQ(lookup_hash(ps, key(a), 1), 9u);
  EXPECT_EQ(lookup_hash(ps, key(a), 2), 70000u);
  EXPECT_EQ(lookup_hash(ps, key(a), 3), 0u);
  EXPECT_EQ(lookup_hash(ps, key(b), 0), 8u);
  EXPECT_EQ(lookup_hash(ps, key(b), 1), 0u);
  EXPECT_EQ(lookup_hash(ps, key(a + 1), 0), 0u);  // the next slot is empty
  EXPECT_EQ(lookup_hash(ps, key(a + (2ULL << 40)), 0), 0u);
}

// Keys of the last and the first bucket, equal low words with other high
// words, interleaved: each bucket's chain gives back its equal keys in the
// order stored, keys of one bucket never answer for another, and a clearing
// empties every bucket and filter bit in use.
TEST(HashTable, SharedBucketsKeepKeysApartAndInStoredOrder) {
  prime_state ps;
  hash_init(ps, 20000000);
  clear_hash(ps);
  const uint32_t last = ps.hashmask;
  const uint64_t x = last;                   // bucket: the last one
  const uint64_t y = (5ULL << 32) | last;    // same bucket, other key
  const uint64_t z = 1ULL << 33;             // bucket 0
  store_hash(ps, key(x), 1);
  store_hash(ps, key(y), 2);
  store_hash(ps, key(x), 3);
  store_hash(ps, key(z), 4);
  store_hash(ps, key(y), 5);
  store_hash(ps, key(x), 6);
  EXPECT_EQ(lookup_hash(ps, key(x), 0), 1u);
  EXPECT_EQ(lookup_hash(ps, key(x), 1), 3u);
  EXPECT_EQ(lookup_hash(ps, key(x), 2), 6u);
  EXPECT_EQ(lookup_hash(ps, key(x), 3), 0u);
  EXPECT_EQ(lookup_hash(ps, key(y), 0), 2u);
  EXPECT_EQ(lookup_hash(ps, key(y), 1), 5u);
  EXPECT_EQ(lookup_hash(ps, key(y), 2), 0u);
  EXPECT_EQ(lookup_hash(ps, key(z), 0), 4u);
  EXPECT_EQ(lookup_hash(ps, key(z), 1), 0u);
  EXPECT_EQ(lookup_hash(ps, key(z + 1), 0), 0u);
  EXPECT_EQ(lookup_hash(ps, key(z | last), 0), 0u);  // the last bucket, absent
  EXPECT_EQ(ps.nhashused, 6u);
  clear_hash(ps);
  for (uint32_t b : ps.ahashhead) ASSERT_EQ(b, 0u);
  for (uint64_t w : ps.ahashfilter) ASSERT_EQ(w, 0u);
  EXPECT_EQ(lookup_hash(ps, key(x), 0), 0u);
  EXPECT_EQ(lookup_hash(ps, key(z), 0), 0u);
  // Refilled after the clearing, the old entries do not come back.
  store_hash(ps, key(z), 9);
  EXPECT_EQ(lookup_hash(ps, key(z), 0), 9u);
  EXPECT_EQ(lookup_hash(ps, key(z), 1), 0u);
  EXPECT_EQ(lookup_hash(ps, key(x), 0), 0u);
}

// Random fills against a multimap, with clustered and spread key sets, each
// followed by a clearing and a refill: a slot left set by clear_hash would
// show up as a wrong tag or as an extra entry.
TEST(HashTable, RandomFillsMatchAMultimapAcrossClearings) {
  prime_state ps;
  std::mt19937_64 rng(20240601);
  for (uint32_t nh : {20000000u, 2147483647u}) {
    hash_init(ps, nh);
    const uint32_t slots = ps.hashmask + 1;
    for (int round = 0; round < 4; ++round) {
      clear_hash(ps);
      const bool clustered = round % 2 == 0;
      // Spread rounds fill half the table, the most any search stores;
      // clustered rounds put a few thousand keys on 16 start slots (one long
      // probe run, wrapping past the last slot).
      const uint32_t count = clustered ? 3000 : slots / 2;
      std::multimap<uint64_t, uint32_t> ref;
      std::vector<uint64_t> keys;
      for (uint32_t t = 1; t <= count; ++t) {
        uint64_t v;
        if (!keys.empty() && rng() % 5 == 0) {
          v = keys[rng() % keys.size()];  // a duplicate key
        } else if (clustered) {
          v = ((ps.hashmask - 7 + rng() % 16) & ps.hashmask) | ((rng() % (1ULL << 30)) << 20);
          keys.push_back(v);
        } else {
          v = rng() % (1ULL << 50);
          keys.push_back(v);
        }
        store_hash(ps, key(v), t);
        ref.emplace(v, t);  // equal keys keep insertion order
      }
      for (auto it = ref.begin(); it != ref.end();) {
        const uint64_t v = it->first;
        uint32_t skip = 0;
        for (; it != ref.end() && it->first == v; ++it, ++skip) {
          ASSERT_EQ(lookup_hash(ps, key(v), skip), it->second) << "round " << round;
        }
        ASSERT_EQ(lookup_hash(ps, key(v), skip), 0u);
      }
      for (int j = 0; j < 1000; ++j) {
        const uint64_t v = (rng() % (1ULL << 50)) | (1ULL << 51);  // never stored
        ASSERT_EQ(lookup_hash(ps, key(v), 0), 0u);
      }
    }
    clear_hash(ps);
    uint32_t set = 0;
    for (uint32_t b : ps.ahashhead) set += b != 0;
    for (uint64_t w : ps.ahashfilter) set += w != 0;
    EXPECT_EQ(set, 0u);
  }
}

// The giant-step tables of prime p: g^j with tag j + 1 against __int128
// powers, for counts around the interleaved chains (below 16 one chain; 16
// and up four, with every remainder; 32 and up eight on the vector path),
// equal keys (g of order 1, 2 or 5) returned in the order of j, the slots in
// use (a power of two, at least 64 and at least four times the entries, or
// all of them), and clearing back to all slots.
void check_power_tables(uint64_t p) {
  using u128 = unsigned __int128;
  prime_state ps;
  hash_init(ps, 20000000);
  const uint32_t all = ps.hashmask + 1;
  set_modulus(ps, p);
  std::mt19937_64 rng(77);
  // g of order 5: the fifth root of unity 2^((p-1)/5) has repeated powers.
  uint64_t root5 = 1;
  {
    uint64_t b = 2, e = (p - 1) / 5;
    for (; e != 0; e >>= 1, b = static_cast<uint64_t>(static_cast<u128>(b) * b % p)) {
      if (e & 1) root5 = static_cast<uint64_t>(static_cast<u128>(root5) * b % p);
    }
  }
  ASSERT_NE(root5, 1u);
  // The previous table's keys: after the next table replaces it, those not
  // stored again must be absent (a clearing that left buckets of a larger
  // table set would return them).
  std::multimap<uint64_t, uint32_t> before;
  for (uint32_t count : {1u, 2u, 15u, 16u, 17u, 18u, 19u, 20u, 31u, 32u, 33u, 39u, 40u, 63u, 1263u,
                         4097u, 20u, 1263u, 2u}) {
    // Random g, then g of order 5, 1 (every key equal) and 2.
    for (const int order : {0, 5, 1, 2}) {
      SCOPED_TRACE("count " + std::to_string(count) + ", order " + std::to_string(order));
      const uint64_t g = order == 0 ? rng() % (p - 2) + 2 : order == 5 ? root5 : order == 1 ? 1 : p - 1;
      store_power_table(ps, g, count, p);
      const uint64_t used = uint64_t{ps.hashmask} + 1;
      EXPECT_EQ(used & (used - 1), 0u);
      EXPECT_GE(used, std::min<uint64_t>(all, std::max<uint64_t>(64, 4 * uint64_t{count})));
      EXPECT_TRUE(used == all || used < 8 * uint64_t{count} || used == 64) << used;
      std::multimap<uint64_t, uint32_t> ref;
      uint64_t v = 1;
      for (uint32_t j = 0; j < count; ++j) {
        ref.emplace(v, j + 1);
        v = static_cast<uint64_t>(static_cast<u128>(v) * g % p);
      }
      for (auto it = ref.begin(); it != ref.end();) {
        const uint64_t k = it->first;
        EXPECT_TRUE(hash_may_hold(ps, k));
        uint32_t skip = 0;
        for (; it != ref.end() && it->first == k; ++it, ++skip) {
          ASSERT_EQ(lookup_hash(ps, key(k), skip), it->second);
        }
        ASSERT_EQ(lookup_hash(ps, key(k), skip), 0u);
      }
      for (int j = 0; j < 200; ++j) {
        const uint64_t absent = rng() % p;
        if (ref.count(absent) == 0) {
          ASSERT_EQ(lookup_hash(ps, key(absent), 0), 0u);
        }
      }
      for (const auto& old : before) {
        if (ref.count(old.first) == 0) {
          ASSERT_EQ(lookup_hash(ps, key(old.first), 0), 0u);
        }
      }
      before = ref;
    }
  }
  clear_hash(ps);
  EXPECT_EQ(ps.hashmask + 1, all);
  for (uint32_t b : ps.ahashhead) ASSERT_EQ(b, 0u);
  for (uint64_t w : ps.ahashfilter) ASSERT_EQ(w, 0u);
}

// Both paths of the table builds (the vector one where the processor has the
// 52-bit multiply-add instructions), near 10^12 and just below 2^50.
TEST(HashTable, PowerTablesMatchIndependentPowersAndKeepTheOrderOfJ) {
  for (const bool vec : {false, true}) {
    if (vec && !cpu_has_ifma()) continue;
    use_ifma = vec;
    for (const uint64_t p : {1000000000039ULL, 1125899906842511ULL}) {  // primes
      SCOPED_TRACE(std::string(vec ? "vector" : "scalar") + " path, p " + std::to_string(p));
      check_power_tables(p);
    }
  }
  use_ifma = cpu_has_ifma();
}

// The table holds one entry fewer than its slots. A store beyond that, or a
// power table that would need it, is an internal error the sizing rules out:
// nothing is stored, the earlier entries stay, and the flag is set for the
// caller to report. It stays set until the table is sized again, so that a
// later table of the same prime (which clears the old one) cannot hide it.
TEST(HashTable, OverfullTableIsFlaggedNotStored) {
  prime_state ps;
  hash_init(ps, 0);
  clear_hash(ps);
  const uint32_t slots = ps.hashmask + 1;
  for (uint32_t t = 1; t < slots; ++t) store_hash(ps, key(t), t);
  EXPECT_FALSE(ps.hash_overflow);
  EXPECT_EQ(ps.nhashused, slots - 1);
  store_hash(ps, key(slots), slots);
  EXPECT_TRUE(ps.hash_overflow);
  EXPECT_EQ(ps.nhashused, slots - 1);
  EXPECT_EQ(lookup_hash(ps, key(slots), 0), 0u);
  for (uint32_t t : {1u, 2u, slots / 2, slots - 1}) EXPECT_EQ(lookup_hash(ps, key(t), 0), t);
  clear_hash(ps);
  EXPECT_TRUE(ps.hash_overflow);
  hash_init(ps, 0);
  EXPECT_FALSE(ps.hash_overflow);

  // A power table of slots - 1 entries fits; one of slots does not.
  set_modulus(ps, 1000000007);
  store_power_table(ps, 3, slots - 1, 1000000007);
  EXPECT_FALSE(ps.hash_overflow);
  EXPECT_EQ(ps.nhashused, slots - 1);
  store_power_table(ps, 3, slots, 1000000007);
  EXPECT_TRUE(ps.hash_overflow);
  EXPECT_EQ(lookup_hash(ps, key(1), 0), 0u);  // emptied first, nothing stored
  store_power_table(ps, 3, 100, 1000000007);
  EXPECT_TRUE(ps.hash_overflow);
  EXPECT_EQ(lookup_hash(ps, key(1), 0), 1u);  // the new table itself is whole
}

}  // namespace
