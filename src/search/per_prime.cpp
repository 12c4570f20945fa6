// The per-prime test. Every remaining n of k is a + M*t (a = akequiv, M =
// akpower), so a solution needs f = -k*2^a to lie in the subgroup generated
// by 2^M; with B a multiple of the order of 2 that subgroup is killed by the
// exponent B / gcd(M, B). The test f^(B/gcd(M, B)) = 1, or, for the standard
// classes when gcd(M, p - 1) = 2, the cheaper Jacobi symbol of -k*2^a, is a
// necessary condition only: it never discards a k that has a solution. The
// survivors go to the Pohlig-Hellman search, or to the general search when
// that declines the prime.
//
// The power tests of one prime share their work: with G the lcm of the
// gcd(M, B) being tested, f^(B/gcd(M, B)) = (f^(B/G))^(G/gcd(M, B)), so one
// loop over the bits of B/G squares and multiplies every k's value side by
// side (independent chains that the processor overlaps), and each k ends with
// a small power. The gcds come from the valuations of p - 1 and B at the few
// primes of the class moduli, the Jacobi symbol from reciprocity with the
// fixed small -k or -2k, and the survivors' inverses from one inversion of
// their product.
//
// A slot whose set holds a single n has no class modulus, so the searches
// do not walk it; when it survives, that n is tested directly after them.
#include "search/worker.h"

#include <chrono>
#include <thread>

#include "arith/ifma.h"
#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "db/candidates.h"
#include "search/bsgs.h"
#include "search/hash.h"
#include "search/order_bound.h"
#include "search/sph.h"

// For the built-in k (kBuiltinK), the residue a and modulus M of the class
// that holds all their remaining n in the project's candidate file, and -k
// (a even) or -2k (a odd), whose Jacobi symbol modulo p equals that of -k*2^a.
const uint32_t std_akequiv[kNumK] = {15, 6, 5, 14, 20, 46, 7, 33, 1, 0, 10, 3};
const uint32_t std_akpower[kNumK] = {24, 8, 12, 36, 24, 72, 24, 36, 24, 24, 12, 8};
const int32_t alegk[kNumK] = {-9694,  -5359,  -20446, -19249, -21181, -22699,
                              -49474, -55306, -56866, -33661, -55459, -135214};

void load_standard_classes(uint32_t nh) {
  for (int i = 0; i < kNumK; ++i) {
    ak[i] = kBuiltinK[i];
    aunfacset[i].clear();
    akpower[i] = akmod[i] = std_akpower[i];
    akequiv[i] = std_akequiv[i];
    aknres[i] = 1;
    for (uint32_t& r : akares[i]) r = 0;
    akares[i][0] = std_akequiv[i];
  }
  nhigh = nh;
}

namespace {

using u128 = unsigned __int128;

// min(cap, v_q(x)) for x != 0.
inline uint32_t valuation(const class_prime& c, uint64_t x) {
  if (c.q == 2) {
    const uint32_t v = static_cast<uint32_t>(__builtin_ctzll(x));
    return v < c.cap ? v : c.cap;
  }
  uint32_t v = 0;
  for (uint64_t y = x * c.inv; v < c.cap && y <= c.lim; y *= c.inv) ++v;
  return v;
}

// (a/n) as 0 for +1 and 1 for -1; n odd, 0 < a < n, gcd(a, n) = 1. Binary
// algorithm: shifts, subtractions and swaps only.
inline uint32_t jacobi_bit(uint32_t a, uint32_t n) {
  uint32_t t = 0;
  for (;;) {
    const uint32_t z = static_cast<uint32_t>(__builtin_ctz(a));
    a >>= z;
    t ^= z & ((n >> 1) ^ (n >> 2));  // (2/n) = -1 for n = 3, 5 (mod 8)
    if (a == 1) return t & 1;
    if (a < n) {  // reciprocity: negated when both are 3 (mod 4)
      t ^= (a & n) >> 1;
      const uint32_t x = a;
      a = n;
      n = x;
    }
    a -= n;
  }
}

// Whether -k*2^a of standard slot i is a square modulo p, p prime.
inline bool jacobi_is_one(const search_plan& plan, int i, uint64_t p) {
  const jacobi_k& j = plan.jk[i];
  uint32_t t = static_cast<uint32_t>((p >> 1) & 1);                   // (-1/p)
  t ^= j.s & static_cast<uint32_t>((p >> 1) ^ (p >> 2));              // (2/p)^s
  if (j.m > 1) {
    const uint64_t q = static_cast<uint64_t>((static_cast<u128>(p) * j.recip) >> 64);
    int64_t r = static_cast<int64_t>(p - q * j.m);  // q is floor(p/m') or one more
    if (r < 0) r += j.m;
    t ^= static_cast<uint32_t>((p >> 1) & (j.m >> 1));               // p, m' = 3 (mod 4)
    t ^= jacobi_bit(static_cast<uint32_t>(r), j.m);
  }
  return (t & 1) == 0;
}

// The same power tests in scalar Montgomery arithmetic (R = 2^64, the
// partly reduced products of arith/modmul.h: every value stays below
// max(2^51, 2p) until the exact conversion at the end), for processors
// without the 52-bit multiply-add instructions and for p above their bound:
// sets the bit of lane[l] in mask for each lane l < nl whose test holds. The
// modulus context must hold p.
void power_tests_scalar(const search_plan& plan, const modulus_ctx& ps, uint64_t p,
                        const uint64_t* f, int nl, uint64_t E,
                        const uint32_t (*gexp)[kMaxClassPrimes], const uint32_t* Gexp,
                        const int* lane, uint32_t& mask) {
  using detail::mont_mul;
  // The modulus context already holds p^-1 mod 2^64 and R^2 mod p.
  const uint64_t pinv = ps.pinv;
  uint64_t base[kNumK], x[kNumK];
  for (int l = 0; l < nl; ++l) x[l] = base[l] = detail::to_mont(f[l], p, pinv, ps.r2);
  // Left-to-right binary powering, all lanes per bit.
  for (int bit = 62 - __builtin_clzll(E); bit >= 0; --bit) {
    for (int l = 0; l < nl; ++l) x[l] = mont_mul(x[l], x[l], p, pinv);
    if ((E >> bit) & 1) {
      for (int l = 0; l < nl; ++l) x[l] = mont_mul(x[l], base[l], p, pinv);
    }
  }
  for (int l = 0; l < nl; ++l) {
    uint64_t h = 1;
    for (int j = 0; j < plan.ncprimes; ++j) h *= plan.cprimes[j].pw[Gexp[j] - gexp[l][j]];
    uint64_t y = x[l];
    if (h > 1) {
      // y^h by right-to-left powering; h divides G, G divides B < p.
      uint64_t b = y;
      y = 0;
      bool first = true;
      for (; h != 0; h >>= 1) {
        if (h & 1) {
          y = first ? b : mont_mul(y, b, p, pinv);
          first = false;
        }
        if (h > 1) b = mont_mul(b, b, p, pinv);
      }
    }
    if (detail::from_mont(y, p, pinv) == 1) mask |= 1u << lane[l];
  }
}

#if BRINDLE_HAVE_IFMA
// The power tests of up to 2*8 lanes on the 52-bit multiply-add
// instructions: (f_l^E)^h_l = 1 for f_l < p (f_l != 0), with the shared
// exponent E >= 1 and h_l >= 1, hmax the largest h_l. Returns the bit mask of
// the lanes whose test holds. All values stay in Montgomery form with
// R = 2^52, below 2p (see ifma_mont_mul); the lanes past the last test hold
// f = 1 and their bits are set or not, the caller masks them off.
BRINDLE_IFMA uint32_t power_tests_ifma(const modulus_ctx& ps, uint64_t p, const uint64_t* f, uint64_t E,
                                       const uint64_t* h, uint64_t hmax) {
  const ifma_modulus md = ifma_set_modulus(p);
  // 2^104 mod p turns f into f*R mod p; 2^52 mod p is 1 in Montgomery form.
  const __m512i r2 = _mm512_set1_epi64(static_cast<long long>(pow2mod(ps, 104, p)));
  const __m512i one = _mm512_set1_epi64(static_cast<long long>(pow2mod(ps, 52, p)));
  const __m512i b0 = ifma_mont_mul(_mm512_loadu_si512(f), r2, md);
  const __m512i b1 = ifma_mont_mul(_mm512_loadu_si512(f + 8), r2, md);
  __m512i x0 = b0, x1 = b1;
  // Left-to-right binary powering; both vectors per bit.
  for (int bit = 62 - __builtin_clzll(E); bit >= 0; --bit) {
    x0 = ifma_mont_mul(x0, x0, md);
    x1 = ifma_mont_mul(x1, x1, md);
    if ((E >> bit) & 1) {
      x0 = ifma_mont_mul(x0, b0, md);
      x1 = ifma_mont_mul(x1, b1, md);
    }
  }
  if (hmax > 1) {
    // x^h per lane by right-to-left powering, the product taken in the lanes
    // whose bit of h is set.
    const __m512i h0 = _mm512_loadu_si512(h), h1 = _mm512_loadu_si512(h + 8);
    __m512i y0 = one, y1 = one;
    __m512i bit = _mm512_set1_epi64(1);
    for (; hmax != 0; hmax >>= 1) {
      y0 = _mm512_mask_mov_epi64(y0, _mm512_test_epi64_mask(h0, bit), ifma_mont_mul(y0, x0, md));
      y1 = _mm512_mask_mov_epi64(y1, _mm512_test_epi64_mask(h1, bit), ifma_mont_mul(y1, x1, md));
      if (hmax > 1) {
        x0 = ifma_mont_mul(x0, x0, md);
        x1 = ifma_mont_mul(x1, x1, md);
      }
      bit = _mm512_add_epi64(bit, bit);
    }
    x0 = y0;
    x1 = y1;
  }
  // Out of Montgomery form (a product by 1 gives a value of at most p), then
  // compared with 1.
  const __m512i unit = _mm512_set1_epi64(1);
  const __m512i out0 = ifma_reduce(ifma_mont_mul(x0, unit, md), md);
  const __m512i out1 = ifma_reduce(ifma_mont_mul(x1, unit, md), md);
  return static_cast<uint32_t>(_mm512_cmpeq_epi64_mask(out0, unit)) |
         static_cast<uint32_t>(_mm512_cmpeq_epi64_mask(out1, unit)) << 8;
}
#endif

// Notes q^e (q prime) as a factor of slot i's modulus.
void add_class_prime(search_plan& plan, int i, uint64_t q, uint32_t e) {
  class_prime* const cprimes = plan.cprimes;
  int& ncprimes = plan.ncprimes;
  int j = 0;
  while (j < ncprimes && cprimes[j].q != q) ++j;
  if (j == ncprimes) {
    class_prime& c = cprimes[ncprimes++];
    c.q = static_cast<uint32_t>(q);
    c.cap = 0;
    c.inv = inverse_mod_2_64(q | 1);
    c.lim = ~0ULL / q;
  }
  plan.slot_exp[i][j] = static_cast<uint8_t>(e);
  if (e > cprimes[j].cap) cprimes[j].cap = e;
}

}  // namespace

void build_search_plan(search_plan& plan) {
  for (int i = 0; i < kNumK; ++i) {
    plan.ak[i] = ak[i];
    plan.akpower[i] = akpower[i];
    plan.akequiv[i] = akequiv[i];
    plan.akmod[i] = akmod[i];
    plan.aknres[i] = aknres[i];
    for (int j = 0; j < 10; ++j) plan.akares[i][j] = akares[i][j];
    plan.start_set[i].assign(aunfacset[i].begin(), aunfacset[i].end());
  }
  plan.nhigh = nhigh;

  plan.standard_kpowers = true;
  for (int i = 0; i < kNumK; ++i) {
    if (ak[i] != kBuiltinK[i] || akequiv[i] != std_akequiv[i] || akpower[i] != std_akpower[i]) {
      plan.standard_kpowers = false;
    }
  }
  for (int i = 0; i < kNumK; ++i) {
    plan.ak2powa[i] = u64_pair{0, 0};
    plan.jk[i] = jacobi_k{0, 1, 0};
  }
  if (plan.standard_kpowers) {
    for (int i = 0; i < kNumK; ++i) {
      const uint64_t k = static_cast<uint64_t>(ak[i]);
      const uint32_t a = akequiv[i];
      if (a <= 23) {
        plan.ak2powa[i] = u64_pair{k << a, 0};
      } else {
        plan.ak2powa[i] = u64_pair{k << 23, 1ULL << (a - 23)};
      }
      const uint32_t m = static_cast<uint32_t>(-alegk[i]);
      const uint32_t s = static_cast<uint32_t>(__builtin_ctz(m));
      const uint32_t odd = m >> s;
      plan.jk[i] = jacobi_k{s, odd, odd > 1 ? ~0ULL / odd + 1 : 0};
    }
  }

  // The class moduli factored into primes (a slot without class information
  // counts as M = 1, a = 0).
  plan.ncprimes = 0;
  for (auto& row : plan.slot_exp) for (uint8_t& e : row) e = 0;
  for (int i = 0; i < kNumK; ++i) {
    uint64_t M = akpower[i];
    plan.slot_a[i] = M == 0 ? 0 : akequiv[i];
    for (uint64_t q = 2; q * q <= M; ++q) {
      uint32_t e = 0;
      for (; M % q == 0; M /= q) ++e;
      if (e > 0) add_class_prime(plan, i, q, e);
    }
    if (M > 1) add_class_prime(plan, i, M, 1);
  }
  plan.lone_mask = 0;
  for (int i = 0; i < kNumK; ++i) {
    plan.lone_n[i] = 0;
    if (akpower[i] != 0 || aunfacset[i].size() != 1) continue;
    const uint32_t n = *aunfacset[i].begin();
    if (n > nhigh) continue;
    plan.lone_n[i] = n;
    plan.lone_mask |= 1u << i;
  }
  for (int j = 0; j < plan.ncprimes; ++j) {
    class_prime& c = plan.cprimes[j];
    c.pw[0] = 1;
    c.ipw[0] = 1;
    for (uint32_t e = 1; e <= c.cap; ++e) {
      c.pw[e] = c.pw[e - 1] * c.q;
      c.ipw[e] = c.ipw[e - 1] * c.inv;
    }
  }
}

worker::worker(const search_plan& plan_, factor_sink& sink_) : plan(plan_), sink(&sink_) {
  hash_init(ps, plan.nhigh);
}

void worker::test_prime(uint64_t p, factor_list pm1) {
  const class_prime* const cprimes = plan.cprimes;
  const int ncprimes = plan.ncprimes;
  const bool standard_kpowers = plan.standard_kpowers;
  ++stats.testedp;
  set_modulus(ps, p);
  const uint64_t B = order_2_bound(ps, p, pm1, plan.nhigh);

  // Valuations of p - 1 (for the Jacobi shortcut) and B at the class primes.
  uint32_t vb[kMaxClassPrimes], vp[kMaxClassPrimes];
  for (int j = 0; j < ncprimes; ++j) {
    vb[j] = valuation(cprimes[j], B);
    if (standard_kpowers) vp[j] = valuation(cprimes[j], p - 1);
  }

  // Sort the k: p | k (eliminated), Jacobi test, or power test
  // f^(B / gcd(M, B)) = 1 with f = -k*2^a; gexp holds the exponents of
  // gcd(M, B), Gexp those of G, the lcm of the power-tested gcds.
  uint32_t mask = 0;
  int lane[kNumK];
  uint64_t f[kNumK];
  uint32_t gexp[kNumK][kMaxClassPrimes];
  uint32_t Gexp[kMaxClassPrimes] = {};
  int nl = 0;
  uint64_t km[kNumK];
  for (int i = 0; i < kNumK; ++i) {
    // k is below 2^31; only an unusual candidate file has a k of p or above.
    const uint64_t k = static_cast<uint64_t>(static_cast<int64_t>(plan.ak[i]));
    km[i] = k < p ? k : k % p;
    // p | k leaves k*2^n+1 = 1 for every n.
    if (km[i] == 0) continue;
    uint64_t t;
    if (standard_kpowers) {
      uint64_t g = 1;
      for (int j = 0; j < ncprimes; ++j) {
        const uint32_t e = plan.slot_exp[i][j] < vp[j] ? plan.slot_exp[i][j] : vp[j];
        g *= cprimes[j].pw[e];
      }
      if (g == 2) {
        if (jacobi_is_one(plan, i, p)) mask |= 1u << i;
        continue;
      }
      const u64_pair& t2 = plan.ak2powa[i];
      t = mul_mod_p(ps, t2.first, t2.second == 0 ? 1 : t2.second, p);
    } else {
      // A slot without class information (fewer than two candidates,
      // modulus 0) is tested as if its n could be anything: a = 0, M = 1, so
      // f = -k must lie in the group generated by 2.
      t = mul_mod_p(ps, km[i], pow2mod(ps, plan.slot_a[i], p), p);
    }
    f[nl] = p - t;
    for (int j = 0; j < ncprimes; ++j) {
      const uint32_t e = plan.slot_exp[i][j] < vb[j] ? plan.slot_exp[i][j] : vb[j];
      gexp[nl][j] = e;
      if (e > Gexp[j]) Gexp[j] = e;
    }
    lane[nl++] = i;
  }

  if (nl > 0) {
    // With E = B / G every test is (f^E)^(G / gcd(M, B)) = 1: one shared
    // exponent for all the lanes, then a small per-k power.
    uint64_t E = B;
    for (int j = 0; j < ncprimes; ++j) {
      const class_prime& c = cprimes[j];
      if (c.q == 2) {
        E >>= Gexp[j];
      } else {
        E *= c.ipw[Gexp[j]];  // exact division by q^Gexp
      }
    }
#if BRINDLE_HAVE_IFMA
    if (ifma_for(p)) {
      uint64_t fv[16], hv[16];
      uint64_t hmax = 1;
      for (int l = 0; l < 16; ++l) {
        fv[l] = l < nl ? f[l] : 1;
        uint64_t h = 1;
        if (l < nl) {
          for (int j = 0; j < ncprimes; ++j) h *= cprimes[j].pw[Gexp[j] - gexp[l][j]];
        }
        hv[l] = h;
        if (h > hmax) hmax = h;
      }
      const uint32_t ok = power_tests_ifma(ps, p, fv, E, hv, hmax);
      for (int l = 0; l < nl; ++l) {
        if ((ok >> l) & 1) mask |= 1u << lane[l];
      }
    } else
#endif
    {
      power_tests_scalar(plan, ps, p, f, nl, E, gexp, Gexp, lane, mask);
    }
  }

  const uint32_t nsurv = static_cast<uint32_t>(__builtin_popcount(mask));
  stats.whackedk += kNumK - nsurv;
  if (mask == 0) {
    ++stats.whackedp;
    return;
  }
  // ps.amkinv[i] = (p - km)^-1 for the survivors, by one inversion of their
  // product: prefix products forward, then the inverse walked back.
  int sv[kNumK];
  uint64_t prefix[kNumK];
  int ns = 0;
  uint64_t acc = 1;
  for (int i = 0; i < kNumK; ++i) {
    if (!((mask >> i) & 1)) continue;
    acc = ns == 0 ? p - km[i] : mul_mod_p(ps, acc, p - km[i], p);
    prefix[ns] = acc;
    sv[ns++] = i;
  }
  uint64_t inv;
  multinv(acc, p, inv);
  for (int s = ns - 1; s > 0; --s) {
    const int i = sv[s];
    ps.amkinv[i] = mul_mod_p(ps, inv, prefix[s - 1], p);
    inv = mul_mod_p(ps, inv, p - km[i], p);
  }
  ps.amkinv[sv[0]] = inv;
  if (!sph_idea(*this, p, B, mask)) check_factors(*this, p, mask);
  // A lone n that the searches above reached has left its set by the time
  // this hit is filed, which then drops it.
  for (uint32_t m = mask & plan.lone_mask; m != 0; m &= m - 1) {
    const int i = __builtin_ctz(m);
    if (pow2mod(ps, plan.lone_n[i], p) == ps.amkinv[i]) report(p, i, plan.lone_n[i], 0, true);
  }
}

block_result worker::run_block(uint64_t window_low, uint64_t from, uint64_t to, uint64_t pmax,
                               const std::atomic<bool>* cancel, const std::atomic<bool>* pause) {
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(std::memory_order_relaxed); };
  // Primes between two looks at the cancel flag.
  constexpr uint32_t kPollEvery = 4096;
  block_result r;
  const uint64_t last = to - 1 < pmax ? to - 1 : pmax;
  uint32_t countdown = kPollEvery;
  for (uint64_t low = window_low; low <= last; low += kSieveWindowSize) {
    // A fresh sieve's window_low() is 0, below every window.
    if (sieve.window_low() != low) sieve.sieve_window(low);
    sieve.seek(from > low ? from : low);
    for (uint64_t p = sieve.next_in_window(); p != 0; p = sieve.next_in_window()) {
      if (p > last) {
        r.complete = true;
        return r;
      }
      test_prime(p, sieve.pm1_factors());
      r.last_tested = p;
      if (ps.hash_overflow) {
        r.failed = true;
        return r;
      }
      if (--countdown == 0) {
        countdown = kPollEvery;
        if (cancelled()) return r;
        while (pause != nullptr && pause->load(std::memory_order_relaxed)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          if (cancelled()) return r;
        }
      }
    }
  }
  r.complete = true;
  return r;
}
