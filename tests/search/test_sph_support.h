// Independent arithmetic and fixtures for the tests of the Pohlig-Hellman and
// residue-class searches: unsigned __int128 modular arithmetic, Miller-Rabin,
// Pollard-Brent factoring and the exact order of 2, an all-solutions discrete
// log by a plain baby-step giant-step search over a sorted table, the factor
// files read back as hits (and recorded hits as the same), and the standard
// candidate classes.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "arith/limits.h"
#include "db/candidates.h"
#include "search/plan.h"
#include "search/sink.h"

namespace sphtest {

using u64 = uint64_t;
using u128 = unsigned __int128;

inline u64 mulm(u64 a, u64 b, u64 m) { return static_cast<u64>(static_cast<u128>(a) * b % m); }

inline u64 powm(u64 b, u64 e, u64 m) {
  u64 r = 1 % m;
  b %= m;
  while (e) {
    if (e & 1) r = mulm(r, b, m);
    b = mulm(b, b, m);
    e >>= 1;
  }
  return r;
}

// Deterministic for every 64-bit n.
inline bool is_prime(u64 n) {
  if (n < 2) return false;
  for (u64 q : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37})
    if (n % q == 0) return n == q;
  u64 d = n - 1;
  int s = 0;
  while (!(d & 1)) d >>= 1, ++s;
  for (u64 a : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
    u64 x = powm(a, d, n);
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (int i = 1; i < s && composite; ++i) {
      x = mulm(x, x, n);
      if (x == n - 1) composite = false;
    }
    if (composite) return false;
  }
  return true;
}

// A non-trivial factor of the odd composite n (Pollard-Brent).
inline u64 rho_factor(u64 n) {
  for (u64 c = 1;; ++c) {
    auto f = [&](u64 v) { return static_cast<u64>((static_cast<u128>(v) * v + c) % n); };
    u64 y = 2, x = 2, q = 1, g = 1, ys = 2;
    for (u64 r = 1; g == 1; r <<= 1) {
      x = y;
      for (u64 i = 0; i < r; ++i) y = f(y);
      for (u64 k = 0; k < r && g == 1; k += 64) {
        ys = y;
        for (u64 i = 0; i < 64 && i < r - k; ++i) {
          y = f(y);
          q = mulm(q, x > y ? x - y : y - x, n);
        }
        g = std::gcd(q, n);
      }
    }
    if (g == n) {
      do {
        ys = f(ys);
        g = std::gcd(x > ys ? x - ys : ys - x, n);
      } while (g == 1);
    }
    if (g != n) return g;
  }
}

// Prime factors of n with multiplicity, ascending.
inline std::vector<u64> factorize(u64 n) {
  std::vector<u64> out, todo;
  for (u64 q = 2; q < 1000 && q * q <= n; ++q)
    while (n % q == 0) out.push_back(q), n /= q;
  if (n > 1) todo.push_back(n);
  while (!todo.empty()) {
    const u64 m = todo.back();
    todo.pop_back();
    if (is_prime(m)) {
      out.push_back(m);
    } else {
      const u64 d = rho_factor(m);
      todo.push_back(d);
      todo.push_back(m / d);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The multiplicative order of 2 modulo the prime p.
inline u64 order_of_2(u64 p) {
  u64 ord = p - 1;
  for (u64 q : factorize(p - 1))
    if (powm(2, ord / q, p) == 1) ord /= q;
  return ord;
}

// 2^-e mod p.
inline u64 pow2inv(u64 e, u64 p) { return powm((p + 1) / 2, e, p); }

// Every n = a + P*j in [0, limit] (j >= 0) with 2^n = t (mod p), ascending.
// A table of b^i, b = 2^P, for i < m (all i, repeated values included) and
// giant steps of m in j: each j is g*m + i in exactly one way.
class class_logs {
 public:
  class_logs(u64 p, u64 P, u64 limit) : p_(p), P_(P), limit_(limit) {
    const u64 J = limit / P;
    m_ = 1;
    while (m_ * m_ <= J) ++m_;
    const u64 b = powm(2, P, p);
    u64 v = 1;
    for (u64 i = 0; i < m_; ++i, v = mulm(v, b, p)) table_.emplace_back(v, i);
    std::sort(table_.begin(), table_.end());
    step_ = powm(pow2inv(P, p), m_, p);
  }
  std::vector<u64> operator()(u64 t, u64 a) const {
    std::vector<u64> out;
    if (a > limit_) return out;
    const u64 J = (limit_ - a) / P_;
    u64 y = mulm(t % p_, pow2inv(a, p_), p_);
    for (u64 base = 0; base <= J; base += m_, y = mulm(y, step_, p_)) {
      auto it = std::lower_bound(table_.begin(), table_.end(), std::make_pair(y, u64{0}));
      for (; it != table_.end() && it->first == y; ++it)
        if (base + it->second <= J) out.push_back(a + P_ * (base + it->second));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  u64 p_, P_, limit_, m_, step_;
  std::vector<std::pair<u64, u64>> table_;
};

// Every n in [0, limit] with 2^n = t (mod p), ascending.
class all_logs {
 public:
  all_logs(u64 p, u64 limit) : logs_(p, 1, limit) {}
  std::vector<u64> operator()(u64 t) const { return logs_(t, 0); }

 private:
  class_logs logs_;
};

// One line "p | k*2^n+1" of a factor file.
struct hit {
  u64 p;
  int64_t k;
  u64 n;
  bool operator<(const hit& o) const {
    return p != o.p ? p < o.p : k != o.k ? k < o.k : n < o.n;
  }
  bool operator==(const hit& o) const { return p == o.p && k == o.k && n == o.n; }
};

// A recorded hit as its factor line names it, with k from the slot's ak.
inline hit as_hit(const factor_hit& h) { return hit{h.p, ak[h.slot], h.n}; }

inline void PrintTo(const hit& h, std::ostream* os) { *os << h.p << " | " << h.k << "*2^" << h.n << "+1"; }

// The lines of a factor file (none when it is missing). A line that does not
// parse is returned as p = 0 so that a comparison shows it.
inline std::vector<hit> read_hits(const std::string& name) {
  std::vector<hit> out;
  std::ifstream f(name);
  std::string line;
  while (std::getline(f, line)) {
    unsigned long long p = 0, n = 0;
    long long k = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "%llu | %lld*2^%llu+%c", &p, &k, &n, &tail) != 4 || tail != '1') p = 0;
    out.push_back(hit{p, k, n});
  }
  return out;
}

// p divides k*2^n+1, checked with __int128.
inline bool genuine(const hit& h) {
  if (h.p < 3 || h.k <= 0) return false;
  return (mulm(static_cast<u64>(h.k) % h.p, powm(2, h.n, h.p), h.p) + 1) % h.p == 0;
}

// A fresh directory under /tmp that the process works in while it lives.
class scratch_dir {
 public:
  scratch_dir() {
    char tmpl[] = "/tmp/brindle_sph_XXXXXX";
    path_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~scratch_dir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(path_, ec);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  // Removes the factor files.
  void clear_factor_files() {
    std::remove("fact.txt");
    std::remove("factexcl.txt");
  }

 private:
  std::string path_;
  std::filesystem::path old_;
};

// The standard classes as the candidate tables: k, akequiv and akpower of the
// built-in table, akmod = akpower with the one residue akequiv. With fill,
// every n of the class from akequiv up to nh is a candidate; otherwise the
// sets are empty (hits are then reported as excluded, which the tests read
// just as well).
inline void set_standard_db(uint32_t nh, bool fill) {
  load_standard_classes(nh);
  for (int i = 0; i < kNumK; ++i) {
    if (fill)
      for (u64 n = std_akequiv[i]; n <= nh; n += std_akpower[i])
        aunfacset[i].insert(aunfacset[i].end(), static_cast<uint32_t>(n));
  }
}

// n lies in one of the classes that the candidate tables of slot i list.
inline bool in_candidate_classes(int i, u64 n) {
  if (akmod[i] == 0) return true;
  for (uint32_t j = 0; j < aknres[i]; ++j)
    if (n % akmod[i] == akares[i][j]) return true;
  return false;
}

inline int popcount(uint32_t v) { return __builtin_popcount(v); }

}  // namespace sphtest
