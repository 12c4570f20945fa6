// The order-of-two bound.
//
// p - 1 is factored as far as it is known cheaply: the power of 2 from its
// low bits, the odd primes 3 to 71 by trial division, and the primes from 73
// up that the sieve recorded for p. Starting from B = p - 1, each known prime
// factor q is divided out while 2^(B/q) = 1 still holds; the first copy of q
// that fails keeps all its remaining copies in B, because the order then
// holds the full remaining power of q. The factors left in B are grouped
// into the short moduli ps.ao2bfactors for the subgroup searches.
//
// Whether a copy of q can go depends only on q: the order of 2 always
// divides B, so 2^(B/q) = 1 exactly when the order has fewer copies of q than
// B still has. Hence each known prime q with q^e exactly dividing p - 1 loses
// e - j copies, where q^j is the q-part of the order: the least j with
// x^(q^j) = 1 for x = 2^((p-1)/q^e). The x of all the known primes come from
// one power of 2 and a product tree: with the known part Q of p - 1 split
// into halves, y^(product of one half) serves every prime of the other half,
// so the total work is about log2(Q) squarings per tree level instead of a
// full power of 2 per tested copy.
//
// Divisibility tests and the exact divisions use the inverse of the odd prime
// q modulo 2^64 instead of a division: q divides n exactly when
// m = n * q^-1 (mod 2^64) is at most floor((2^64 - 1)/q), and then m = n / q
// (the multiples of q map onto 0 .. floor((2^64 - 1)/q) one to one, so no
// other n lands there). For a q known only at run time, the same holds when
// m*q fits in 64 bits, one 128-bit product; and once n*q < 2^64 (as for
// further copies, n having been divided by q), m <= n says it.
#include "search/order_bound.h"


#include "arith/modmul.h"
#include "arith/numtheory.h"
#include "arith/prime_state.h"
#include "primes/sieve.h"

namespace {

constexpr uint32_t kMaxFactors = 64;           // p - 1 < 2^64 has at most 63 prime factors
constexpr uint64_t kGroupLimit = 29999;        // a modulus grows past this only by copies of its own prime
constexpr uint64_t kMaxGroupedLimit = 8388608; // lim = min(nhigh / 2, 2^23)
constexpr uint32_t kMaxGroupedFactor = 1u << 24;

// An odd prime with q^-1 mod 2^64 and the largest quotient floor((2^64 - 1)/q).
struct odd_prime {
  uint32_t q;
  uint64_t inv;
  uint64_t lim;
};

constexpr odd_prime trial_prime(uint32_t q) { return odd_prime{q, inverse_mod_2_64(q), ~uint64_t{0} / q}; }

constexpr odd_prime kTrialPrimes[19] = {
    trial_prime(3),  trial_prime(5),  trial_prime(7),  trial_prime(11), trial_prime(13),
    trial_prime(17), trial_prime(19), trial_prime(23), trial_prime(29), trial_prime(31),
    trial_prime(37), trial_prime(41), trial_prime(43), trial_prime(47), trial_prime(53),
    trial_prime(59), trial_prime(61), trial_prime(67), trial_prime(71)};

static_assert(inverse_mod_2_64(71) * 71 == 1, "inverse modulo 2^64");

// The factor list of one call: prime factors of p - 1 with multiplicity, in
// the order found; a factor divided out of B is set to 0. runpow holds q^e at
// the first remaining copy of a run of e equal factors.
struct factor_entry {
  uint32_t q;
  uint64_t inv;     // q^-1 mod 2^64 (odd q)
  uint64_t runpow;
};

// One distinct known prime of p - 1: its copies are f[start .. start + e).
struct prime_run {
  uint32_t q;
  uint32_t start;
  uint32_t e;
  uint64_t pw;  // q^e
};

// x[i] = y^(Q / pw[i]) for i < m, Q the product of pw[0 .. m), y < p, m >= 1.
// Each half of the primes gets y raised to the product of the other half;
// the two powers are independent chains.
void power_tree(const modulus_ctx& ps, uint64_t y, const prime_run* r, uint64_t* x, uint32_t m, uint64_t p) {
  if (m == 1) {
    x[0] = y;
    return;
  }
  const uint32_t h = m / 2;
  uint64_t left = 1, right = 1;
  for (uint32_t i = 0; i < h; ++i) left *= r[i].pw;
  for (uint32_t i = h; i < m; ++i) right *= r[i].pw;
  power_tree(ps, powmod(ps, y, right, p), r, x, h, p);
  power_tree(ps, powmod(ps, y, left, p), r + h, x + h, m - h, p);
}

}  // namespace

uint64_t order_2_bound(prime_state& ps, uint64_t p, factor_list pm1, uint32_t nhigh) {
  factor_entry f[kMaxFactors];
  prime_run runs[kMaxFactors];
  uint32_t nf = 0, nr = 0;

  // 1. Powers of 2: p - 1 = 2^v * n with n odd.
  const int v = __builtin_ctzll(p - 1);
  for (int i = 0; i < v; ++i) f[nf++] = factor_entry{2, 0, 0};
  runs[nr++] = prime_run{2, 0, static_cast<uint32_t>(v), 1ULL << v};
  uint64_t n = (p - 1) >> v;

  // 2. The odd primes 3 to 71.
  for (const odd_prime& t : kTrialPrimes) {
    uint64_t m = n * t.inv;
    if (m > t.lim) continue;
    prime_run r{t.q, nf, 0, 1};
    for (; m <= t.lim; m = n * t.inv) {
      f[nf++] = factor_entry{t.q, t.inv, 0};
      ++r.e;
      r.pw *= t.q;
      n = m;
    }
    runs[nr++] = r;
  }

  // 3. The primes >= 73 the sieve recorded for p. Each should divide n; one
  // that does not (a list that belongs to another number) is passed over,
  // which leaves B a multiple of the order, only less reduced. Further
  // copies are tested on the cofactor (n*q <= p - 1 after a division).
  for (const uint32_t q : pm1) {
    if (nf == kMaxFactors) break;
    const uint64_t inv = inverse_mod_2_64(q);
    // n*q^-1 mod 2^64 is n/q exactly when q divides n, and then times q it
    // does not exceed 64 bits; otherwise it does.
    if ((static_cast<unsigned __int128>(n * inv) * q) >> 64 != 0) continue;
    n *= inv;
    prime_run r{q, nf, 1, q};
    f[nf++] = factor_entry{q, inv, 0};
    for (uint64_t m = n * inv; m <= n && nf < kMaxFactors; m = n * inv) {
      f[nf++] = factor_entry{q, inv, 0};
      ++r.e;
      r.pw *= q;
      n = m;
    }
    runs[nr++] = r;
  }

  // 4. Reduction towards the order of 2: x[i] = 2^((p-1)/q^e) for each known
  // prime, from y = 2^n (n the unknown cofactor) and the product tree.
  uint64_t x[kMaxFactors];
  power_tree(ps, pow2mod(ps, n, p), runs, x, nr, p);
  uint64_t B = n;
  for (uint32_t i = 0; i < nr; ++i) {
    const prime_run& r = runs[i];
    // j = number of copies of q the order holds; x^(q^e) = 2^(p-1) = 1, so
    // after e - 1 failed raisings it is e.
    uint32_t j = 0;
    for (uint64_t z = x[i]; z != 1; ++j) {
      if (j + 1 == r.e) {
        j = r.e;
        break;
      }
      z = r.q == 2 ? square_mod_p(ps, z, p) : powmod(ps, z, r.q, p);
    }
    const uint32_t removed = r.e - j;
    for (uint32_t c = 0; c < removed; ++c) f[r.start + c].q = 0;
    if (j > 0) {
      uint64_t power = 1;
      for (uint32_t c = 0; c < j; ++c) power *= r.q;
      f[r.start + removed].runpow = power;
      B *= power;
    }
  }

  // 5. Grouping into moduli of at most 29999, except that a modulus may grow
  // by further copies of its own prime; no modulus reaches lim.
  const uint64_t lim = nhigh / 2 < kMaxGroupedLimit ? nhigh / 2 : kMaxGroupedLimit;
  uint32_t ng = 0;
  for (uint32_t i = 0; i < nf; ++i) {
    const uint64_t d = f[i].q;
    if (d == 0 || d > kMaxGroupedFactor) continue;
    if (ng == 0) {
      ps.ao2bfactors[ng++] = static_cast<uint32_t>(d);
      continue;
    }
    const uint64_t last = ps.ao2bfactors[ng - 1];
    const uint64_t prev = i > 0 ? f[i - 1].q : 0;
    const uint64_t next = i + 1 < nf ? f[i + 1].q : 0;
    bool merge;
    if (last * d <= kGroupLimit) {
      // runpow * last <= kGroupLimit, without forming a product that can
      // pass 64 bits (a run power can come near p).
      merge = !(next == d && prev != d) || f[i].runpow <= kGroupLimit / last;
    } else {
      merge = prev == d && last > d;
    }
    if (!merge) {
      ps.ao2bfactors[ng++] = static_cast<uint32_t>(d);
    } else if (last * d < lim) {
      ps.ao2bfactors[ng - 1] = static_cast<uint32_t>(last * d);
    }
    // else: a merge that would reach lim leaves d out of the list.
  }

  // 6. Terminate the list.
  ps.o2bfactors = ng;
  ps.ao2bfactors[ng] = 0;
  return B;
}
