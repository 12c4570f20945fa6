// The removal of n with a small prime factor: a segmented sieve hands out the
// primes below the bound, and for each prime one baby-step giant-step search
// over t (n = c + L*t) finds, for every (k, c) class at once, all t with
// p | k*2^n+1. See generate.h for the reduction.
//
// Per prime p, with g = 2^L and e = (p-1)/gcd(p-1, L) (so g^e = 1):
//  - target of class (k, c): h = (-k*2^c)^-1; it can only be a power of g if
//    h^e = 1, tested as (-k)^e * (2^e)^c = 1 with one power per k;
//  - the t-range searched is R = min(e, largest count of a surviving class);
//    e is a period of g^t, and if the baby steps meet g^j = 1 for some j < m,
//    that j (the order of g) is the period instead;
//  - baby steps g^j, j < m, go into a hash table; giant steps h*g^(-m*i)
//    find every t = m*i + j < R with g^t = h, each exactly once;
//  - each hit t0 removes t0, t0 + period, ... below the class's count.
// The per-prime setup uses the division-free products and powers of
// arith/modmul.h; the two search loops use 32-bit Montgomery products, which
// are shorter for p < 2^31.
#include "vexgen/generate.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "primes/sieve.h"
#include "search/plan.h"

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // empty hash slot; residues are < 2^30
constexpr uint32_t kMaxLcm = 5040;        // L bounds the per-prime tables

// Residues below 2^30: the top bits of a Fibonacci product index the table.
inline uint32_t hash_slot(uint32_t v, int bits) {
  return (v * 0x9E3779B1u) >> (32 - bits);
}

// Montgomery products modulo an odd p < 2^31 with R = 2^32: mul(a, b) =
// a*b/R mod p, by two multiplications and a shift, no division.
struct montgomery {
  uint32_t p;
  uint32_t npinv;  // -p^-1 mod 2^32
  uint32_t r2;     // 2^64 mod p
  uint32_t one;    // 2^32 mod p, the residue 1

  explicit montgomery(uint32_t prime) : p(prime) {
    uint32_t inv = prime;  // correct to 3 bits; each step doubles them
    for (int i = 0; i < 4; ++i) inv *= 2 - prime * inv;
    npinv = 0u - inv;
    one = static_cast<uint32_t>((1ULL << 32) % prime);
    r2 = static_cast<uint32_t>(static_cast<uint64_t>(one) * one % prime);
  }
  // a, b < p; the sum a*b + q*p stays below 2^63 + 2^62.
  uint32_t mul(uint32_t a, uint32_t b) const {
    const uint64_t t = static_cast<uint64_t>(a) * b;
    const uint32_t q = static_cast<uint32_t>(t) * npinv;
    const uint32_t u = static_cast<uint32_t>((t + static_cast<uint64_t>(q) * p) >> 32);
    return u >= p ? u - p : u;
  }
  uint32_t to(uint64_t x) const { return mul(static_cast<uint32_t>(x), r2); }
  uint64_t from(uint32_t x) const { return mul(x, 1); }
};

// Removes n = c + L*t for t = t0, t0 + period, ... below the class's count,
// but never the n with k*2^n+1 = p (a prime is not its own small factor).
void mark_hits(candidate_sieve& s, const candidate_sieve::cls& cl, uint64_t t0, uint64_t period,
               uint32_t p) {
  uint64_t* words = s.removed.get() + cl.offset;
  uint64_t t = t0;
  // Only n < 32 can give k*2^n+1 = p < 2^30.
  while (t < cl.count && cl.c + static_cast<uint64_t>(s.lcm) * t < 32) {
    const uint32_t n = cl.c + s.lcm * static_cast<uint32_t>(t);
    const uint64_t k = static_cast<uint64_t>(s.ks[cl.kindex].k);
    if ((k << n) + 1 != p) words[t >> 6] |= 1ULL << (t & 63);
    t += period;
  }
  for (; t < cl.count; t += period) words[t >> 6] |= 1ULL << (t & 63);
}

}  // namespace

std::vector<kclass> standard_kclasses() {
  std::vector<kclass> ks;
  for (int i = 0; i < kNumK; ++i) ks.push_back({kBuiltinK[i], std_akequiv[i], std_akpower[i]});
  return ks;
}

bool candidate_sieve_init(candidate_sieve& s, const std::vector<kclass>& ks, uint32_t nhigh,
                          std::string& err) {
  s = candidate_sieve();
  s.ks = ks;
  s.nhigh = nhigh;
  uint64_t lcm = 1;
  for (const kclass& kc : ks) {
    if (kc.k < 1) {
      err = "k must be positive: " + std::to_string(kc.k);
      return false;
    }
    if (kc.m < 1 || kc.a >= kc.m) {
      err = "bad residue class " + std::to_string(kc.a) + " mod " + std::to_string(kc.m);
      return false;
    }
    lcm = lcm / gcd(kc.m, lcm) * kc.m;
    if (lcm > kMaxLcm) {
      err = "the moduli of the residue classes have a common multiple above " +
            std::to_string(kMaxLcm);
      return false;
    }
  }
  s.lcm = static_cast<uint32_t>(lcm);

  uint64_t words = 0;
  uint64_t maxcount = 0;
  for (uint32_t i = 0; i < ks.size(); ++i) {
    for (uint32_t c = ks[i].a; c < s.lcm; c += ks[i].m) {
      const uint32_t count = c <= nhigh ? (nhigh - c) / s.lcm + 1 : 0;
      s.classes.push_back({i, c, count, words});
      words += (count + 63) / 64;
      maxcount = std::max<uint64_t>(maxcount, count);
    }
  }

  // The baby-step count m = sqrt(targets * R) is at most
  // sqrt(classes * maxcount); the table keeps a load of at most one half.
  const double mmax = std::ceil(std::sqrt(static_cast<double>(s.classes.size()) *
                                          static_cast<double>(maxcount))) + 1;
  uint64_t slots = 16;
  while (slots < 2 * mmax) slots *= 2;

  s.removed.reset(new (std::nothrow) uint64_t[words]());
  if (!s.removed) {
    err = "not enough memory for nhigh " + std::to_string(nhigh) + " (" +
          std::to_string(words * 8 / 1048576 + 1) + " MiB of bitmaps)";
    s = candidate_sieve();
    return false;
  }
  s.hash_key.assign(slots, kEmpty);
  s.hash_val.assign(slots, 0);
  s.target.assign(s.classes.size(), 0);
  s.target_cls.assign(s.classes.size(), 0);
  return true;
}

void remove_prime(candidate_sieve& s, uint32_t p) {
  const uint32_t lcm = s.lcm;
  modulus_ctx ps;
  set_modulus(ps, p);
  const uint64_t e = (p - 1) / gcd(lcm, p - 1);

  // (2^e)^c and 2^-c for c < L; the second only once a target survives.
  uint64_t ypow[kMaxLcm];
  uint64_t inv2pow[kMaxLcm];
  bool have_inv2pow = false;
  ypow[0] = 1;
  const uint64_t y = pow2mod(ps, e, p);
  for (uint32_t c = 1; c < lcm; ++c) ypow[c] = mul_mod_p(ps, ypow[c - 1], y, p);

  uint32_t ntargets = 0;
  uint64_t maxcount = 0;
  uint32_t last_k = 0xFFFFFFFFu;
  uint64_t xk = 0, mkinv = 0;
  bool k_usable = false;
  for (uint32_t ci = 0; ci < s.classes.size(); ++ci) {
    const candidate_sieve::cls& cl = s.classes[ci];
    if (cl.kindex != last_k) {  // classes of one k are adjacent
      last_k = cl.kindex;
      const uint64_t kmod = static_cast<uint64_t>(s.ks[cl.kindex].k) % p;
      k_usable = kmod != 0;  // p | k never divides k*2^n+1
      if (k_usable) {
        const uint64_t mk = p - kmod;  // -k mod p
        xk = powmod(ps, mk, e, p);
        multinv(mk, p, mkinv);
      }
    }
    if (!k_usable || cl.count == 0) continue;
    if (mul_mod_p(ps, xk, ypow[cl.c], p) != 1) continue;
    if (!have_inv2pow) {
      const uint64_t inv2 = (p + 1) / 2;
      inv2pow[0] = 1;
      for (uint32_t c = 1; c < lcm; ++c) inv2pow[c] = mul_mod_p(ps, inv2pow[c - 1], inv2, p);
      have_inv2pow = true;
    }
    s.target[ntargets] = mul_mod_p(ps, mkinv, inv2pow[cl.c], p);
    s.target_cls[ntargets] = ci;
    ++ntargets;
    maxcount = std::max<uint64_t>(maxcount, cl.count);
  }
  if (ntargets == 0) return;

  uint64_t period = e;
  uint64_t range = std::min(maxcount, period);
  uint64_t m = static_cast<uint64_t>(std::ceil(std::sqrt(static_cast<double>(ntargets) *
                                                         static_cast<double>(range))));
  m = std::max<uint64_t>(1, std::min(m, range));
  m = std::min<uint64_t>(m, s.hash_key.size() / 2);  // never more than the table holds

  int bits = 4;
  while ((1ULL << bits) < 2 * m) ++bits;
  const uint32_t slots = 1u << bits;
  std::fill(s.hash_key.begin(), s.hash_key.begin() + slots, kEmpty);
  uint32_t* key = s.hash_key.data();
  uint32_t* val = s.hash_val.data();
  const uint32_t mask = slots - 1;

  // The searches run on Montgomery residues x*2^32 mod p; equal residues
  // stay equal, so the table matches them exactly like plain ones.
  const montgomery mg(p);

  // Baby steps g^j, j < m. A repeat of 1 reveals the order of g, which then
  // serves as the (smaller) period; the j inserted so far are all distinct.
  const uint32_t gm = mg.to(pow2mod(ps, lcm, p));
  uint32_t v = mg.one;
  for (uint64_t j = 0; j < m; ++j) {
    if (j > 0 && v == mg.one) {
      period = j;
      range = std::min(range, period);
      m = j;
      break;
    }
    uint32_t slot = hash_slot(v, bits);
    while (key[slot] != kEmpty) slot = (slot + 1) & mask;
    key[slot] = v;
    val[slot] = static_cast<uint32_t>(j);
    v = mg.mul(v, gm);
  }

  // Giant steps: h * (g^-m)^i for m*i < range, four targets side by side so
  // that their independent products overlap. After an early stop range <= m,
  // so only the first step is taken and v = 1 is never inverted.
  uint64_t ginv = 1;
  if (range > m) multinv(mg.from(v), p, ginv);
  const uint32_t ginvm = mg.to(ginv);
  constexpr uint32_t kLanes = 4;
  for (uint32_t t0 = 0; t0 < ntargets; t0 += kLanes) {
    const uint32_t lanes = std::min(kLanes, ntargets - t0);
    uint32_t w[kLanes];
    for (uint32_t l = 0; l < lanes; ++l) w[l] = mg.to(s.target[t0 + l]);
    for (uint64_t base = 0; base < range; base += m) {
      for (uint32_t l = 0; l < lanes; ++l) {
        uint32_t slot = hash_slot(w[l], bits);
        while (key[slot] != kEmpty) {
          if (key[slot] == w[l]) {
            const uint64_t t = base + val[slot];
            if (t < range) mark_hits(s, s.classes[s.target_cls[t0 + l]], t, period, p);
            break;
          }
          slot = (slot + 1) & mask;
        }
        w[l] = mg.mul(w[l], ginvm);
      }
    }
  }
}

void for_each_odd_prime(uint32_t bound, const std::function<void(uint32_t)>& f,
                        const std::function<void(uint32_t)>& progress) {
  if (bound <= 3) return;
  // Base primes up to sqrt(bound), from the primes library.
  uint32_t root = static_cast<uint32_t>(std::sqrt(static_cast<double>(bound)));
  while (static_cast<uint64_t>(root) * root >= bound) --root;
  while (static_cast<uint64_t>(root + 1) * (root + 1) < bound) ++root;
  const std::vector<uint32_t> base = odd_primes_up_to(root);

  // Segments of odd numbers lo, lo+2, ..., one byte each; next[i] is the
  // index of the next odd multiple of base[i] at or after the segment start.
  constexpr uint32_t kSegment = 1u << 18;
  std::vector<uint8_t> seg(kSegment);
  std::vector<uint64_t> next(base.size());
  for (size_t i = 0; i < base.size(); ++i) {
    next[i] = (static_cast<uint64_t>(base[i]) * base[i] - 3) / 2;  // index of q^2
  }
  for (uint64_t lo = 3; lo < bound; lo += 2ULL * kSegment) {
    const uint64_t hi = std::min<uint64_t>(lo + 2ULL * kSegment, bound);  // exclusive
    const uint32_t len = static_cast<uint32_t>((hi - lo + 1) / 2);
    std::fill(seg.begin(), seg.begin() + len, 1);
    const uint64_t first = (lo - 3) / 2;  // global index of lo
    for (size_t i = 0; i < base.size(); ++i) {
      uint64_t j = next[i];
      const uint32_t q = base[i];
      for (; j < first + len; j += q) seg[j - first] = 0;
      next[i] = j;
    }
    for (uint32_t i = 0; i < len; ++i) {
      if (seg[i]) f(static_cast<uint32_t>(lo + 2ULL * i));
    }
    if (progress) progress(static_cast<uint32_t>(hi - 1));
  }
}

void remove_primes_below(candidate_sieve& s, uint32_t bound,
                         const std::function<void(uint32_t)>& progress) {
  // 2 divides k*2^n+1 only at n = 0 and for odd k: k+1 is even (and is 2
  // itself for k = 1).
  if (bound > 2) {
    for (const candidate_sieve::cls& cl : s.classes) {
      const int32_t k = s.ks[cl.kindex].k;
      if (cl.c == 0 && cl.count > 0 && (k & 1) && k != 1) s.removed[cl.offset] |= 1;
    }
  }
  for_each_odd_prime(bound, [&s](uint32_t p) { remove_prime(s, p); }, progress);
}

void for_each_candidate(const candidate_sieve& s, uint32_t i,
                        const std::function<void(uint32_t)>& f) {
  // The classes of k index i in order of c; walking n = a, a+m, ... visits
  // them in turn, with t growing by one each time c wraps past L.
  const kclass& kc = s.ks[i];
  std::vector<const candidate_sieve::cls*> byc(s.lcm, nullptr);
  for (const candidate_sieve::cls& cl : s.classes) {
    if (cl.kindex == i) byc[cl.c] = &cl;
  }
  uint32_t c = kc.a;
  uint64_t t = 0;
  for (uint64_t n = kc.a; n <= s.nhigh; n += kc.m) {
    const candidate_sieve::cls& cl = *byc[c];
    if (!((s.removed[cl.offset + (t >> 6)] >> (t & 63)) & 1)) f(static_cast<uint32_t>(n));
    c += kc.m;
    if (c >= s.lcm) {
      c -= s.lcm;
      ++t;
    }
  }
}
