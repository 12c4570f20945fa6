// Residue hash table: sizing for the run's nhigh, probe-order semantics of the
// skip count (equal keys come back in the order stored), wrap-around past the
// last slot, full 64-bit key comparison, 32-bit tags, and clearing, checked
// against a plain multimap on random fills up to the largest size any search
// stores.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "search/hash.h"

namespace {

hash_entry_t key(uint64_t v) { return make_hash_entry(v); }

TEST(HashInit, SlotsArePowerOfTwoAndHoldEverySearchTable) {
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
    hash_init(r.nhigh);
    EXPECT_EQ(ps.hashmask + 1, r.slots) << "nhigh " << r.nhigh;
    EXPECT_EQ(ps.ahash.size(), r.slots);
    EXPECT_EQ(ps.ahashexp.size(), r.slots);
    const uint64_t stride_entries = r.nhigh / 15840 + 1;
    EXPECT_GE(ps.hashmask + 1, 2 * stride_entries);
  }
}

TEST(HashTable, EqualKeysComeBackInStoredOrder) {
  hash_init(20000000);
  clear_hash();
  const uint64_t a = 0x123456789ULL;
  const uint64_t b = a + (1ULL << 40);  // same low word, other high word
  store_hash(key(a), 7);
  store_hash(key(b), 8);
  store_hash(key(a), 9);
  store_hash(key(a), 70000);  // tags wider than 16 bits are kept whole
  EXPECT_EQ(lookup_hash(key(a), 0), 7u);
  EXPECT_EQ(lookup_hash(key(a), 1), 9u);
  EXPECT_EQ(lookup_hash(key(a), 2), 70000u);
  EXPECT_EQ(lookup_hash(key(a), 3), 0u);
  EXPECT_EQ(lookup_hash(key(b), 0), 8u);
  EXPECT_EQ(lookup_hash(key(b), 1), 0u);
  EXPECT_EQ(lookup_hash(key(a + 1), 0), 0u);  // the next slot is empty
  EXPECT_EQ(lookup_hash(key(a + (2ULL << 40)), 0), 0u);
}

TEST(HashTable, ProbePathWrapsPastTheLastSlot) {
  hash_init(20000000);
  clear_hash();
  const uint32_t last = ps.hashmask;
  const uint64_t x = last;                   // start slot: the last one
  const uint64_t y = (5ULL << 32) | last;    // same slot, other key
  const uint64_t z = 1ULL << 33;             // start slot 0
  store_hash(key(x), 1);
  store_hash(key(y), 2);   // wraps to slot 0
  store_hash(key(x), 3);   // slot 1
  store_hash(key(z), 4);   // slot 0 taken: slot 2
  EXPECT_EQ(ps.ahashexp[last], 1u);
  EXPECT_EQ(ps.ahashexp[0], 2u);
  EXPECT_EQ(ps.ahashexp[1], 3u);
  EXPECT_EQ(ps.ahashexp[2], 4u);
  EXPECT_EQ(lookup_hash(key(x), 0), 1u);
  EXPECT_EQ(lookup_hash(key(x), 1), 3u);
  EXPECT_EQ(lookup_hash(key(x), 2), 0u);
  EXPECT_EQ(lookup_hash(key(y), 0), 2u);
  EXPECT_EQ(lookup_hash(key(z), 0), 4u);
  EXPECT_EQ(lookup_hash(key(z + 1), 0), 0u);
  clear_hash();
  for (uint32_t s : {last, 0u, 1u, 2u}) EXPECT_EQ(ps.ahashexp[s], 0u);
  EXPECT_EQ(lookup_hash(key(x), 0), 0u);
}

// Random fills against a multimap, with clustered and spread key sets, each
// followed by a clearing and a refill: a slot left set by clear_hash would
// show up as a wrong tag or as an extra entry.
TEST(HashTable, RandomFillsMatchAMultimapAcrossClearings) {
  std::mt19937_64 rng(20240601);
  for (uint32_t nh : {20000000u, 2147483647u}) {
    hash_init(nh);
    const uint32_t slots = ps.hashmask + 1;
    for (int round = 0; round < 4; ++round) {
      clear_hash();
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
        store_hash(key(v), t);
        ref.emplace(v, t);  // equal keys keep insertion order
      }
      for (auto it = ref.begin(); it != ref.end();) {
        const uint64_t v = it->first;
        uint32_t skip = 0;
        for (; it != ref.end() && it->first == v; ++it, ++skip) {
          ASSERT_EQ(lookup_hash(key(v), skip), it->second) << "round " << round;
        }
        ASSERT_EQ(lookup_hash(key(v), skip), 0u);
      }
      for (int j = 0; j < 1000; ++j) {
        const uint64_t v = (rng() % (1ULL << 50)) | (1ULL << 51);  // never stored
        ASSERT_EQ(lookup_hash(key(v), 0), 0u);
      }
    }
    clear_hash();
    uint32_t set = 0;
    for (uint32_t t : ps.ahashexp) set += t != 0;
    EXPECT_EQ(set, 0u);
  }
}

TEST(HashTableDeathTest, OverfullTableIsAnInternalError) {
  hash_init(0);
  clear_hash();
  const uint32_t slots = ps.hashmask + 1;
  EXPECT_EXIT(
      {
        for (uint32_t t = 1; t <= slots; ++t) store_hash(key(t), t);
      },
      testing::ExitedWithCode(1), "hash table full");
}

}  // namespace
