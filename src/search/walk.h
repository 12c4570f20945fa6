// Quiet walks of the searches: several independent walks y, y*d, y*d^2, ...
// by one fixed multiplier d, advanced side by side so that their products
// overlap instead of each waiting for the one before, and tested against
// the residue hash table at every step. Hits are rare; a quiet walk reports
// only whether any walk met a stored key, and the caller then walks those
// starting values again one by one, reporting every hit in its own order.
#pragma once
#include <cstdint>

#include "arith/modmul.h"
#include "search/hash.h"

// Most walks advanced side by side.
constexpr int kWalkLanes = 4;

namespace walk_detail {

template <int N>
bool walks_meet_table(const prime_state& ps, const uint64_t* start, uint64_t steps, uint64_t d, uint64_t p) {
  uint64_t y[N];
#pragma GCC unroll 4
  for (int l = 0; l < N; ++l) y[l] = start[l];
  for (uint64_t s = 0; s < steps; ++s) {
    bool may = false;
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) may |= hash_may_hold(ps, y[l]);
    if (__builtin_expect(may, 0)) {
      for (int l = 0; l < N; ++l) {
        if (lookup_hash(ps, make_hash_entry(y[l]), 0) != 0) return true;
      }
    }
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) y[l] = mul_mod_p_b(ps, y[l], d, p);
  }
  return false;
}

}  // namespace walk_detail

// Whether any of the walks start[l]*d^s, l < n (1 <= n <= kWalkLanes), s <
// steps, meets a key of the hash table. ps.bdivp must be set for d; the
// walks stop at the first one found.
inline bool walks_meet_table(const prime_state& ps, const uint64_t* start, int n, uint64_t steps, uint64_t d, uint64_t p) {
  switch (n) {
    case 1: return walk_detail::walks_meet_table<1>(ps, start, steps, d, p);
    case 2: return walk_detail::walks_meet_table<2>(ps, start, steps, d, p);
    case 3: return walk_detail::walks_meet_table<3>(ps, start, steps, d, p);
    default: return walk_detail::walks_meet_table<4>(ps, start, steps, d, p);
  }
}
