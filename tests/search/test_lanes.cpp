// Powers of several lanes side by side (pow_lanes: one exponent, several
// bases; pow_exponents: one base, several exponents) against __int128
// square-and-multiply, for every lane count, exponents 0, 1, all ones, with
// a single high bit and random, bases 0, 1, p - 1 and random, and moduli
// from 10^9 to just below 2^50.
#include <gtest/gtest.h>

#include <random>

#include "arith/modmul.h"
#include "search/lanes.h"

namespace {

using u128 = unsigned __int128;

uint64_t ref_pow(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t r = 1 % p;
  for (; e != 0; e >>= 1, b = static_cast<uint64_t>(static_cast<u128>(b) * b % p)) {
    if (e & 1) r = static_cast<uint64_t>(static_cast<u128>(r) * b % p);
  }
  return r;
}

const uint64_t kPrimes[] = {1000000007ULL, 1000000000039ULL, 1125899906842597ULL};

TEST(Lanes, PowExponentsMatchesSquareAndMultiply) {
  modulus_ctx ps;
  std::mt19937_64 rng(4242);
  for (uint64_t p : kPrimes) {
    set_modulus(ps, p);
    for (int n = 1; n <= kMaxExponentLanes; ++n) {
      for (int round = 0; round < 20; ++round) {
        const uint64_t b = round == 0 ? 1 : round == 1 ? p - 1 : round == 2 ? 0 : rng() % p;
        uint64_t e[kMaxExponentLanes], out[kMaxExponentLanes];
        for (int l = 0; l < n; ++l) {
          switch ((l + round) % 5) {
            case 0: e[l] = 0; break;
            case 1: e[l] = 1; break;
            case 2: e[l] = ~uint64_t{0} >> (rng() % 64); break;
            case 3: e[l] = uint64_t{1} << (rng() % 64); break;
            default: e[l] = rng() >> (rng() % 64); break;
          }
        }
        pow_exponents(ps, b, e, n, out, p);
        for (int l = 0; l < n; ++l) {
          ASSERT_EQ(out[l], ref_pow(b, e[l], p)) << "p " << p << " lane " << l << " of " << n;
        }
        // The exponents may be overwritten by the results.
        uint64_t v[kMaxExponentLanes];
        for (int l = 0; l < n; ++l) v[l] = e[l];
        pow_exponents(ps, b, v, n, v, p);
        for (int l = 0; l < n; ++l) ASSERT_EQ(v[l], out[l]);
      }
    }
  }
}

TEST(Lanes, PowLanesMatchesSquareAndMultiply) {
  modulus_ctx ps;
  std::mt19937_64 rng(99);
  for (uint64_t p : kPrimes) {
    set_modulus(ps, p);
    for (int n = 1; n <= 12; ++n) {
      for (uint64_t e : {uint64_t{0}, uint64_t{1}, uint64_t{2}, uint64_t{1} << 40, (uint64_t{1} << 50) - 1,
                         rng() % p, rng()}) {
        uint64_t v[12], b[12];
        for (int l = 0; l < n; ++l) b[l] = v[l] = l == 0 ? 1 : l == 1 ? p - 1 : rng() % p;
        pow_lanes(ps, v, n, e, p);
        for (int l = 0; l < n; ++l) ASSERT_EQ(v[l], ref_pow(b[l], e, p)) << "p " << p << " e " << e;
      }
    }
  }
}

}  // namespace
