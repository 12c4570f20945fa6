// Modular powers of several lanes computed side by side, so that the
// products of one lane overlap those of the others instead of each power
// waiting for the one before: one exponent for several bases (the subgroup
// targets of the Pohlig-Hellman search), and one base with several exponents
// (the starting values of the walks, 2^-e for several e). Both work in
// Montgomery form like powmod and return the same exact residues.
#pragma once
#include <cstdint>

#include "arith/modmul.h"

namespace lanes_detail {

// v[l] = v[l]^e mod p for l < N (every v[l] < p, e != 0): the right-to-left
// binary powering of powmod, lane by lane in each step.
template <int N>
void pow_group(const modulus_ctx& ps, uint64_t* v, uint64_t e, uint64_t p) {
  const uint64_t pinv = ps.pinv;
  uint64_t x[N], r[N];
#pragma GCC unroll 4
  for (int l = 0; l < N; ++l) x[l] = detail::to_mont(v[l], p, pinv, ps.r2);
  while (!(e & 1)) {
    e >>= 1;
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) x[l] = detail::mont_mul(x[l], x[l], p, pinv);
  }
#pragma GCC unroll 4
  for (int l = 0; l < N; ++l) r[l] = x[l];
  e >>= 1;
  while (e != 0) {
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) x[l] = detail::mont_mul(x[l], x[l], p, pinv);
    if (e & 1) {
#pragma GCC unroll 4
      for (int l = 0; l < N; ++l) r[l] = detail::mont_mul(r[l], x[l], p, pinv);
    }
    e >>= 1;
  }
#pragma GCC unroll 4
  for (int l = 0; l < N; ++l) v[l] = detail::from_mont(r[l], p, pinv);
}

}  // namespace lanes_detail

// v[l] = v[l]^e mod p for l < n (every v[l] < p), in groups of up to four lanes.
inline void pow_lanes(const modulus_ctx& ps, uint64_t* v, int n, uint64_t e, uint64_t p) {
  if (e == 0) {
    for (int l = 0; l < n; ++l) v[l] = 1;
    return;
  }
  int l = 0;
  for (; n - l >= 4; l += 4) lanes_detail::pow_group<4>(ps, v + l, e, p);
  switch (n - l) {
    case 3: lanes_detail::pow_group<3>(ps, v + l, e, p); break;
    case 2: lanes_detail::pow_group<2>(ps, v + l, e, p); break;
    case 1: v[l] = powmod(ps, v[l], e, p); break;
    default: break;
  }
}

// Most lanes of pow_exponents.
constexpr int kMaxExponentLanes = 16;

// out[l] = b^e[l] mod p for l < n (b < p, any e[l], 1 <= n <= 16): one chain
// of squarings b^(2^i) serves every lane, and each lane multiplies in either
// b^(2^i) or 1 by its bit i, chosen without a branch, so that the lanes'
// products overlap and no unpredictable bit costs a mispredicted branch.
inline void pow_exponents(const modulus_ctx& ps, uint64_t b, const uint64_t* e, int n, uint64_t* out, uint64_t p) {
  const uint64_t pinv = ps.pinv;
  const uint64_t one = detail::to_mont(1, p, pinv, ps.r2);
  uint64_t x = detail::to_mont(b, p, pinv, ps.r2);
  uint64_t r[kMaxExponentLanes];
  uint64_t rest[kMaxExponentLanes];
  uint64_t any = 0;
  for (int l = 0; l < n; ++l) {
    r[l] = one;
    rest[l] = e[l];
    any |= e[l];
  }
  while (any != 0) {
    any = 0;
    for (int l = 0; l < n; ++l) {
      const uint64_t f = (rest[l] & 1) ? x : one;
      r[l] = detail::mont_mul(r[l], f, p, pinv);
      rest[l] >>= 1;
      any |= rest[l];
    }
    if (any == 0) break;
    x = detail::mont_mul(x, x, p, pinv);
  }
  for (int l = 0; l < n; ++l) out[l] = detail::from_mont(r[l], p, pinv);
}
