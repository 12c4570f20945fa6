// The general discrete-log search. For each k, every hit n = r + u*m + S*j
// (r a listed residue modulo the class modulus m, 0 <= u*m < S, j = 0 ..
// floor(nhigh/S)) is found by walking y = (-k)^-1 * 2^-(r + u*m) over the u
// and looking y up in one table of the giant steps 2^(S*j): a match with tag
// j + 1 means k*2^n = -1. The stride S is a multiple of m, so the walk covers
// the class exactly: 15840 for every modulus dividing it (one table serves all
// those k), the least multiple of m above 15840 otherwise (one table per
// distinct stride). Each walk step is one lookup and one product by a fixed
// multiplier with a precomputed quotient.
#include "search/bsgs.h"

#include "arith/modmul.h"
#include "db/candidates.h"
#include "search/hash.h"
#include "search/report.h"

namespace {

// Fills the hash table with 2^(S*j), tag j + 1, for j = 0 .. floor(nhigh/S).
void build_giant_steps(uint64_t stride, uint64_t p) {
  clear_hash();
  const uint64_t g = pow2mod(stride, p);
  set_bdivp(g);
  uint64_t v = 1;
  uint32_t tag = 1;
  uint64_t acc = 0;
  do {
    store_hash(make_hash_entry(v), tag);
    ++tag;
    v = mul_mod_p_b(v, g, p);
    acc += stride;
  } while (acc <= nhigh);
}

// Walks every listed residue class of k index i against the current table.
void walk_classes(int i, uint64_t stride, uint64_t p, uint64_t half) {
  const uint32_t m = akmod[i];
  const uint64_t d = powmod(half, m, p);  // 2^-m
  set_bdivp(d);
  for (uint32_t j = 0; j < aknres[i]; ++j) {
    const uint32_t r = akares[i][j];
    uint64_t y = mul_mod_p(ps.amkinv[i], powmod(half, r, p), p);
    uint64_t sum = 0;
    do {
      uint32_t e = lookup_hash(make_hash_entry(y), 0);
      uint32_t s = 1;
      while (e != 0) {
        const uint64_t n = (e - 1) * stride + sum + r;
        if (n <= UINT32_MAX) report_factor(p, i, static_cast<uint32_t>(n));
        e = lookup_hash(make_hash_entry(y), s);
        ++s;
      }
      y = mul_mod_p_b(y, d, p);
      sum += m;
    } while (sum < stride);
  }
}

}  // namespace

void check_factors(uint64_t p, uint32_t mask) {
  const uint64_t half = (p + 1) / 2;  // 2^-1 mod p
  // k with nothing to walk are done at once (a slot without class modulus
  // lists no residues).
  uint32_t left = 0;
  for (int i = 0; i < kNumK; ++i) {
    if (((mask >> i) & 1) && aknres[i] != 0 && akmod[i] != 0) left |= 1u << i;
  }
  // One table per distinct stride: first the k whose modulus divides 15840,
  // in index order, then the k of each other stride, in order of first
  // appearance.
  uint64_t stride = kBsgsStride;
  while (left != 0) {
    bool any = false;
    for (int i = 0; i < kNumK && !any; ++i) {
      any = ((left >> i) & 1) && bsgs_stride(akmod[i]) == stride;
    }
    if (!any) {
      int first = 0;
      while (!((left >> first) & 1)) ++first;
      stride = bsgs_stride(akmod[first]);
    }
    build_giant_steps(stride, p);
    for (int i = 0; i < kNumK; ++i) {
      if (((left >> i) & 1) && bsgs_stride(akmod[i]) == stride) {
        walk_classes(i, stride, p, half);
        left &= ~(1u << i);
      }
    }
  }
}
