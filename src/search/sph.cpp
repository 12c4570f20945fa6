// Pohlig-Hellman search (sph_idea) and residue-class search (check_factors_sph).
//
// sph_idea replaces a search over all n up to nhigh by searches of about
// sqrt(f) steps in each small subgroup of order f of the order bound B, and
// one search over the single class n = X[k] (mod M) that every solution must
// lie in. Both searches keep their giant steps in the shared residue hash
// table and walk with mul_mod_p_b by a fixed multiplier.
//
// Table sizes. A subgroup table holds ceil(f/s) < sqrt(f) + 1 entries, s =
// floor(sqrt(f)) + 1; the grouped factors are at most 2^24, so the table has
// at most 4096 entries (a lone prime factor from 16,773,121 to 2^24 - 1
// reaches that). The class table holds floor(nhigh/S) + 1 <= r
// entries, r = floor(sqrt(nhigh/M)) + 1, at most 9269 for M >= 50 and any
// 32-bit nhigh. hash_init makes the table at least twice as large as
// either, so every table fits with room to spare.
#include "search/sph.h"

#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "search/bsgs.h"
#include "search/hash.h"
#include "search/lanes.h"
#include "search/walk.h"
#include "search/worker.h"


namespace {

// At most this many grouped factors (ps.ao2bfactors holds 64 and a 0).
constexpr uint32_t kMaxFactors = 64;

// The order bound lists no grouped factor above this; the walk over the
// factors stops at one all the same, which keeps every subgroup table within
// 4096 entries.
constexpr uint32_t kMaxFactor = 1u << 24;

// Below this class modulus the residue-class search does not pay; the plain
// search takes the survivors.
constexpr uint64_t kMinClassModulus = 50;

// Baby steps of N lanes side by side: for each lane l, the smallest i < s
// with lookup_hash(ps, y[l] * Ginv^i) = c != 0 gives log[l] = s*(c-1) + i; a lane
// without one gets -1. ps.bdivp must be set for Ginv.
template <int N>
void baby_steps(const prime_state& ps, const uint64_t* start, uint64_t s, uint64_t Ginv, uint64_t p, int64_t* log) {
  uint64_t y[N];
#pragma GCC unroll 4
  for (int l = 0; l < N; ++l) {
    y[l] = start[l];
    log[l] = -1;
  }
  uint32_t pending = (1u << N) - 1;
  for (uint64_t i = 0; i < s; ++i) {
    uint32_t may = 0;
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) may |= static_cast<uint32_t>(hash_may_hold(ps, y[l])) << l;
    may &= pending;
    if (may != 0) {
      for (int l = 0; l < N; ++l) {
        if (!((may >> l) & 1)) continue;
        const uint32_t c = lookup_hash(ps, make_hash_entry(y[l]), 0);
        if (c != 0) {
          log[l] = static_cast<int64_t>(s * (c - 1) + i);
          pending &= ~(1u << l);
        }
      }
      if (pending == 0) return;
    }
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) y[l] = mul_mod_p_b(ps, y[l], Ginv, p);
  }
}

// Walks Y = t_k*2^-(X+u) for the offsets u = 0, M, 2M, ... below ulimit,
// from Y = t_k*2^-X, reporting every match in order of u, then of the
// table's tags. ps.bdivp must be set for D = 2^-M.
void walk_class_reporting(worker& w, uint64_t p, int k, uint32_t M, uint64_t X, uint64_t S, uint64_t ulimit,
                          uint64_t Y, uint64_t D) {
  const prime_state& ps = w.ps;
  for (uint64_t u = 0; u < ulimit; u += M) {
    const hash_entry_t key = make_hash_entry(Y);
    uint32_t c = lookup_hash(ps, key, 0);
    for (uint32_t skip = 1; c != 0; ++skip) {
      // t_k*2^-(X+u) = 2^((c-1)*S): 2^n = t_k for n = (c-1)*S + u + X.
      const uint64_t n = (c - 1) * S + u + X;
      if (n <= UINT32_MAX) w.report(p, k, static_cast<uint32_t>(n), M);
      c = lookup_hash(ps, key, skip);
    }
    Y = mul_mod_p_b(ps, Y, D, p);
  }
}

}  // namespace

bool sph_idea(worker& w, uint64_t p, uint64_t B, uint32_t mask) {
  prime_state& ps = w.ps;
  const search_plan& plan = w.plan;
  const uint32_t nhigh = plan.nhigh;
  search_counters& stats = w.stats;
  // What this call did, for a test that asks (w.trace set); one untaken
  // branch at each point otherwise.
  sph_trace_t* const trace = w.trace;
  if (trace != nullptr) *trace = sph_trace_t{sph_declined, 1, 0, mask, mask, 0, {}};
  if (!w.use_sph) return false;

  // Leading grouped factors while their product stays within nhigh.
  uint32_t* const fac = ps.ao2bfactors;
  uint64_t M = 1;
  uint32_t nf = 0;
  while (nf < ps.o2bfactors && nf < kMaxFactors && fac[nf] != 0 && fac[nf] <= kMaxFactor &&
         fac[nf] <= nhigh / M) {
    M *= fac[nf];
    ++nf;
  }
  if (trace != nullptr) {
    trace->M = M;
    trace->nf = nf;
  }
  if (M <= 3) return false;

  const uint64_t* const t = ps.amkinv;
  const uint64_t h = (p + 1) / 2;  // the inverse of 2
  uint64_t H[kNumK];               // t_k^(B/M)
  uint32_t T[kMaxFactors][kNumK];  // n mod (modulus reached at factor j)
  // W = 2^(B/M) and its inverse, powered beside the t_k: each subgroup's
  // generator G = 2^(B/f) = W^(M/f) and its inverse then come as two more
  // lanes of the targets' power M/f, instead of two powers of their own.
  uint64_t W, Winv;
  {
    uint64_t v[kNumK + 2];
    int n = 0;
    for (int k = 0; k < kNumK; ++k)
      if (mask & (1u << k)) v[n++] = t[k];
    v[n] = 2;
    v[n + 1] = h;
    pow_lanes(ps, v, n + 2, B / M, p);
    W = v[n];
    Winv = v[n + 1];
    n = 0;
    for (int k = 0; k < kNumK; ++k)
      if (mask & (1u << k)) H[k] = v[n++];
  }

  uint64_t prevfactor = 0;  // factor of the giant-step table in the hash table
  uint64_t mult = 1;        // q^i while lifting the digits of a power of q
  uint64_t G = 0;           // generator of the subgroup of order f
  uint64_t Ginv = 0;        // its inverse; ps.bdivp is set for it
  uint64_t s = 0;           // baby steps per search
  for (uint32_t j = 0; j < nf; ++j) {
    if (mask == 0) {
      ++stats.whackedp;
      if (trace != nullptr) {
        trace->outcome = sph_all_whacked;
        trace->mask = 0;
      }
      return true;
    }
    const uint64_t f = fac[j];
    const bool new_subgroup = f != prevfactor;
    if (!new_subgroup) {
      // A further copy of the same prime: same subgroup, next digit.
      mult *= prevfactor;
      fac[j - 1] = 0;
    } else {
      mult = 1;
      prevfactor = f;
    }

    const uint64_t e = mult <= 1 ? M / f : B / (mult * f);
    // The targets of every k, lane a for k = lk[a], powered side by side;
    // for a new subgroup two more lanes give G and G^-1.
    uint64_t y[kNumK + 2];
    int lk[kNumK];
    int lanes = 0;
    for (int k = 0; k < kNumK; ++k) {
      if (!(mask & (1u << k))) continue;
      if (mult <= 1) {
        y[lanes] = H[k];  // t_k^(B/f) = H^e
      } else {
        y[lanes] = T[j - 1][k];
      }
      lk[lanes++] = k;
    }
    if (mult > 1) {
      // (t_k * 2^-(n mod mult))^(B/(mult*f)) = G^(next digit)
      pow_exponents(ps, h, y, lanes, y, p);
      for (int a = 0; a < lanes; ++a) y[a] = mul_mod_p(ps, t[lk[a]], y[a], p);
    }
    if (new_subgroup) {
      y[lanes] = W;
      y[lanes + 1] = Winv;
      pow_lanes(ps, y, lanes + 2, e, p);
      G = y[lanes];
      Ginv = y[lanes + 1];
      s = isqrt_u64(f) + 1;
      // G^(s*m) with tag m + 1 for m = 0 .. ceil(f/s) - 1.
      store_power_table(ps, powmod(ps, G, s, p), static_cast<uint32_t>((f + s - 1) / s), p);
      if (trace != nullptr) ++trace->tables;
      // Every digit of this factor's prime steps by G^-1.
      set_bdivp(ps, Ginv);
    } else {
      pow_lanes(ps, y, lanes, e, p);
    }
    // The smallest i with y*G^-i = G^(s*m) gives the logarithm s*m + i < f.
    int64_t loglane[kNumK];
    for (int a = 0; a < lanes; a += 4) {
      switch (lanes - a) {
        case 1: baby_steps<1>(ps, y + a, s, Ginv, p, loglane + a); break;
        case 2: baby_steps<2>(ps, y + a, s, Ginv, p, loglane + a); break;
        case 3: baby_steps<3>(ps, y + a, s, Ginv, p, loglane + a); break;
        default: baby_steps<4>(ps, y + a, s, Ginv, p, loglane + a); break;
      }
    }
    int64_t logs[kNumK];
    for (int a = 0; a < lanes; ++a) logs[lk[a]] = loglane[a];
    for (int k = 0; k < kNumK; ++k) {
      if (!(mask & (1u << k))) continue;
      const int64_t d = logs[k];
      if (d < 0) {
        // Not in the subgroup generated by 2: t_k is no power of 2.
        mask &= ~(1u << k);
        ++stats.whackedk;
      } else if (mult <= 1) {
        T[j][k] = static_cast<uint32_t>(d);
      } else {
        T[j][k] = static_cast<uint32_t>(mult * static_cast<uint64_t>(d) + T[j - 1][k]);
      }
    }
    fac[j] = static_cast<uint32_t>(fac[j] * mult);
  }

  // Chinese remaindering over the (now pairwise coprime) non-zero entries.
  uint64_t X[kNumK] = {};
  uint64_t Mc = 1;
  for (uint32_t jj = 0; jj < nf; ++jj) {
    const uint64_t f = fac[jj];
    if (f == 0) continue;
    if (Mc == 1) {
      for (int k = 0; k < kNumK; ++k)
        if (mask & (1u << k)) X[k] = T[jj][k];
    } else {
      uint64_t inv;
      multinv(Mc, f, inv);
      for (int k = 0; k < kNumK; ++k)
        if (mask & (1u << k))
          X[k] = static_cast<uint64_t>(crt(static_cast<int64_t>(Mc), static_cast<int64_t>(X[k]),
                                           static_cast<int64_t>(f), T[jj][k],
                                           static_cast<int64_t>(inv)));
    }
    Mc *= f;
  }

  // Residue-class filter: a solution n = X (mod M) among the candidates
  // n = akequiv (mod akpower) needs X = akequiv modulo gcd(akpower, M). A k
  // with akpower 0 has no class to compare with and is always kept.
  for (int k = 0; k < kNumK; ++k) {
    if (!(mask & (1u << k)) || plan.akpower[k] == 0) continue;
    const uint64_t g = gcd(plan.akpower[k], M);
    if (X[k] % g != plan.akequiv[k] % g) {
      mask &= ~(1u << k);
      ++stats.whackedk;
    }
  }

  const sph_outcome_t outcome = mask == 0 ? sph_all_whacked
                                : M < kMinClassModulus ? sph_to_bsgs
                                                       : sph_to_classes;
  if (trace != nullptr) {
    trace->outcome = outcome;
    trace->mask = mask;
    for (int k = 0; k < kNumK; ++k) trace->X[k] = X[k];
  }
  if (outcome == sph_all_whacked) {
    ++stats.whackedp;
  } else if (outcome == sph_to_bsgs) {
    check_factors(w, p, mask, static_cast<uint32_t>(M), X);
  } else {
    check_factors_sph(w, p, mask, static_cast<uint32_t>(M), X);
  }
  return true;
}

void check_factors_sph(worker& w, uint64_t p, uint32_t mask, uint32_t M, const uint64_t X[]) {
  prime_state& ps = w.ps;
  const uint32_t nhigh = w.plan.nhigh;
  // Giant step S = r*M with r = floor(sqrt(nhigh/M)) + 1, so that table and
  // walk both take about sqrt(nhigh/M) steps. 64-bit: r*M can pass 2^32.
  // floor(sqrt(nhigh/M)) = floor(sqrt(floor(nhigh/M))), in integers.
  const uint64_t r = isqrt_u64(nhigh / M) + 1;
  const uint64_t S = r * M;

  // 2^(i*S) with tag i + 1 for i = 0 .. floor(nhigh/S).
  store_power_table(ps, pow2mod(ps, S, p), static_cast<uint32_t>(nhigh / S + 1), p);

  // Offsets u = 0, M, 2M, ... below S and not above nhigh: with the giant
  // steps they reach every n = X (mod M) from X up to nhigh (n = nhigh itself
  // needs u = nhigh when X = 0 and M = nhigh).
  const uint64_t ulimit = S < static_cast<uint64_t>(nhigh) + 1 ? S : static_cast<uint64_t>(nhigh) + 1;
  const uint64_t steps = (ulimit + M - 1) / M;
  const uint64_t h = (p + 1) / 2;
  // The walks of up to kWalkLanes k at a time, side by side; a group in
  // which some walk meets the table is walked again k by k, reporting.
  // t_k*2^-X of every k, in index order.
  int ks[kNumK];
  uint64_t y0[kNumK + 1];
  int n = 0;
  for (int k = 0; k < kNumK; ++k) {
    if (!(mask & (1u << k))) continue;
    ks[n] = k;
    y0[n] = X[k];
    ++n;
  }
  // The step 2^-M comes as one more lane of the same powers of 1/2.
  y0[n] = M;
  pow_exponents(ps, h, y0, n + 1, y0, p);
  const uint64_t D = y0[n];  // 2^-M
  set_bdivp(ps, D);
  for (int a = 0; a < n; ++a) y0[a] = mul_mod_p(ps, ps.amkinv[ks[a]], y0[a], p);
  for (int a = 0; a < n; a += kWalkLanes) {
    const int lanes = n - a < kWalkLanes ? n - a : kWalkLanes;
    if (walks_meet_table(ps, y0 + a, lanes, steps, D, p)) {
      for (int l = a; l < a + lanes; ++l) walk_class_reporting(w, p, ks[l], M, X[ks[l]], S, ulimit, y0[l], D);
    }
  }
}
