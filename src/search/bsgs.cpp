// The general discrete-log search. For each k, every hit n = r + u*m + S*j
// (r a listed residue modulo the class modulus m, 0 <= u*m < S, j = 0 ..
// floor(nhigh/S)) is found by walking y = (-k)^-1 * 2^-(r + u*m) over the u
// and looking y up in one table of the giant steps 2^(S*j): a match with tag
// j + 1 means k*2^n = -1. The stride S is a multiple of m, so the walk covers
// the class exactly: 15840 for every modulus dividing it (one table serves all
// those k), the least multiple of m above 15840 otherwise (one table per
// distinct stride). Each walk step is one lookup and one product by a fixed
// multiplier with a precomputed quotient.
//
// Hits are reported per k in index order, per residue in listed order, per
// walk position, and per table match in order of j. The walks of up to four
// residues sharing a modulus run side by side without reporting; a group
// in which some walk meets the table is walked again one residue at a time.
#include "search/bsgs.h"

#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "search/hash.h"
#include "search/lanes.h"
#include "search/walk.h"
#include "search/worker.h"

namespace {

// Walks one residue r of k index i from y = (-k)^-1 * 2^-r, reporting every
// hit. ps.bdivp must be set for d = 2^-m.
void walk_reporting(worker& w, int i, uint32_t r, uint64_t y, uint32_t m, uint64_t stride,
                    uint64_t d, uint64_t p) {
  const prime_state& ps = w.ps;
  uint64_t sum = 0;
  do {
    uint32_t e = lookup_hash(ps, make_hash_entry(y), 0);
    uint32_t s = 1;
    while (e != 0) {
      const uint64_t n = (e - 1) * stride + sum + r;
      if (n <= UINT32_MAX) w.report(p, i, static_cast<uint32_t>(n));
      e = lookup_hash(ps, make_hash_entry(y), s);
      ++s;
    }
    y = mul_mod_p_b(ps, y, d, p);
    sum += m;
  } while (sum < stride);
}

// Walks of one table: (k index, residue) in reporting order, grouped into
// runs of at most kWalkLanes with one modulus.
struct walk_group {
  int n = 0;
  uint32_t m = 0;
  int k[kWalkLanes];
  uint32_t r[kWalkLanes];
  uint64_t y[kWalkLanes];
};

// Walks the group from y = (-k)^-1 * 2^-r; g.y holds the exponents r on entry.
void run_group(worker& w, walk_group& g, uint64_t stride, uint64_t d, uint64_t p, uint64_t half) {
  const prime_state& ps = w.ps;
  pow_exponents(ps, half, g.y, g.n, g.y, p);
  for (int l = 0; l < g.n; ++l) g.y[l] = mul_mod_p(ps, ps.amkinv[g.k[l]], g.y[l], p);
  if (!walks_meet_table(ps, g.y, g.n, stride / g.m, d, p)) return;
  for (int l = 0; l < g.n; ++l) walk_reporting(w, g.k[l], g.r[l], g.y[l], g.m, stride, d, p);
}

// Walks every listed residue class of the k of mask whose stride is this
// one, against the current table.
// A residue r of k index i is walked when its bit is set in live[i].
void walk_stride(worker& w, uint32_t mask, uint64_t stride, uint64_t p, uint64_t half,
                 const uint32_t live[kNumK]) {
  prime_state& ps = w.ps;
  const uint32_t* const akmod = w.plan.akmod;
  const uint32_t* const aknres = w.plan.aknres;
  const auto& akares = w.plan.akares;
  walk_group g;
  uint64_t d = 0;  // 2^-g.m
  for (int i = 0; i < kNumK; ++i) {
    if (!((mask >> i) & 1) || bsgs_stride(akmod[i]) != stride) continue;
    const uint32_t m = akmod[i];
    if (m != g.m) {
      if (g.n != 0) run_group(w, g, stride, d, p, half);
      g.n = 0;
      g.m = m;
      d = powmod(ps, half, m, p);
      set_bdivp(ps, d);
    }
    for (uint32_t j = 0; j < aknres[i]; ++j) {
      if (g.n == kWalkLanes) {
        run_group(w, g, stride, d, p, half);
        g.n = 0;
      }
      if (!((live[i] >> j) & 1)) continue;
      const uint32_t r = akares[i][j];
      g.k[g.n] = i;
      g.r[g.n] = r;
      g.y[g.n] = r;
      ++g.n;
    }
  }
  if (g.n != 0) run_group(w, g, stride, d, p, half);
}

}  // namespace

void check_factors(worker& w, uint64_t p, uint32_t mask, uint32_t M, const uint64_t* X) {
  prime_state& ps = w.ps;
  const search_plan& plan = w.plan;
  const uint32_t* const akmod = plan.akmod;
  const uint32_t* const aknres = plan.aknres;
  const auto& akares = plan.akares;
  const uint64_t half = (p + 1) / 2;  // 2^-1 mod p
  // The residues to walk per k; k with nothing to walk are done at once (a
  // slot without class modulus lists no residues).
  uint32_t live[kNumK] = {};
  uint32_t left = 0;
  for (int i = 0; i < kNumK; ++i) {
    if (!((mask >> i) & 1) || aknres[i] == 0 || akmod[i] == 0) continue;
    live[i] = (1u << aknres[i]) - 1;
    if (M > 1 && X != nullptr) {
      const uint64_t g = gcd(akmod[i], M);
      for (uint32_t j = 0; j < aknres[i]; ++j) {
        if (akares[i][j] % g != X[i] % g) live[i] &= ~(1u << j);
      }
    }
    if (live[i] != 0) left |= 1u << i;
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
    // 2^(S*j), tag j + 1, for j = 0 .. floor(nhigh/S).
    store_power_table(ps, pow2mod(ps, stride, p), static_cast<uint32_t>(plan.nhigh / stride + 1), p);
    walk_stride(w, left, stride, p, half, live);
    for (int i = 0; i < kNumK; ++i) {
      if (((left >> i) & 1) && bsgs_stride(akmod[i]) == stride) left &= ~(1u << i);
    }
  }
}
