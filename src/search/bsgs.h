// Baby-step giant-step search over all n of the candidates' residue classes.
#pragma once
#include <cstdint>

class worker;

// Giant step of the search for class moduli that divide it; another modulus m
// gets the stride m * ceil(kBsgsStride / m), the least multiple of m not below it.
constexpr uint32_t kBsgsStride = 15840;  // 2^5 * 3^2 * 5 * 11

// The stride used for class modulus m (m >= 1). In 64 bits: for m near 2^32
// the rounding sum kBsgsStride + m - 1 does not fit in 32.
inline uint64_t bsgs_stride(uint32_t m) {
  const uint64_t m64 = m;
  return m64 * ((kBsgsStride + m64 - 1) / m64);
}

// Finds and hands to the worker's sink every n with k*2^n = -1 (mod p), for each
// k index i of mask, among the n in the listed classes akares[i][..] modulo
// akmod[i]: every such n from 0 to nhigh, and some above nhigh (up to the
// stride past it). Reads the worker's ps.amkinv[i] = (-k)^-1 mod p of those
// k and the plan's akmod, aknres, akares, nhigh. The modulus context must
// hold p; the hash table and ps.bdivp are left changed.
//
// When the caller already knows that every solution of k index i satisfies
// n = X[i] (mod M) (the Pohlig-Hellman search with M <= 49 hands over its
// residues this way), a listed residue r with r != X[i] modulo
// gcd(akmod[i], M) holds no solution and is not walked, and no table is
// built when no residue is left. The hits reported are the same as without
// the hint.
void check_factors(worker& w, uint64_t p, uint32_t mask, uint32_t M = 0, const uint64_t* X = nullptr);
