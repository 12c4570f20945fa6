// Shared helpers of the factor-search tests: 128-bit reference arithmetic,
// a temporary working directory, candidate-slot setup, factor-file parsing
// and recorded hits as factor lines.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "db/candidates.h"
#include "db/settings.h"
#include "search/plan.h"
#include "search/sink.h"

namespace search_test {

using u128 = unsigned __int128;

inline uint64_t ref_mul(uint64_t a, uint64_t b, uint64_t p) {
  return static_cast<uint64_t>(static_cast<u128>(a) * b % p);
}

inline uint64_t ref_pow(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t r = 1 % p;
  b %= p;
  for (; e != 0; e >>= 1) {
    if (e & 1) r = ref_mul(r, b, p);
    b = ref_mul(b, b, p);
  }
  return r;
}

// a^-1 mod prime p (a not a multiple of p).
inline uint64_t ref_inv(uint64_t a, uint64_t p) { return ref_pow(a % p, p - 2, p); }

// True when p divides k*2^n+1.
inline bool ref_divides(uint64_t p, uint64_t k, uint64_t n) {
  return (ref_mul(k % p, ref_pow(2, n, p), p) + 1) % p == 0;
}

// The k < p with k*2^n+1 = 0 (mod p): k = -(2^n)^-1.
inline uint64_t k_with_factor(uint64_t p, uint64_t n) { return p - ref_inv(ref_pow(2, n, p), p); }

// Works in a fresh temporary directory for its lifetime, then goes back and
// removes it.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/brindle_search_XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d == nullptr) ADD_FAILURE() << "mkdtemp failed";
    dir_ = d ? d : "";
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  ~TempDir() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

 private:
  std::string dir_;
  std::filesystem::path old_;
};

inline std::string read_file(const std::string& name) {
  std::ifstream in(name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool file_exists(const std::string& name) { return std::filesystem::exists(name); }

// One factor line "p | k*2^n+1".
struct hit {
  uint64_t p;
  int64_t k;
  uint64_t n;
  bool operator<(const hit& o) const { return std::tie(p, k, n) < std::tie(o.p, o.k, o.n); }
  bool operator==(const hit& o) const { return p == o.p && k == o.k && n == o.n; }
};

// A recorded hit as its factor line names it, with k from the slot's ak.
inline hit as_hit(const factor_hit& h) { return hit{h.p, ak[h.slot], h.n}; }

// Parses every line of a factor file; a malformed line is a test failure.
inline std::vector<hit> read_hits(const std::string& name) {
  std::vector<hit> out;
  std::ifstream in(name);
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long p = 0, n = 0;
    long long k = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "%llu | %lld*2^%llu+1%c", &p, &k, &n, &tail) != 3 ||
        line != std::to_string(p) + " | " + std::to_string(k) + "*2^" + std::to_string(n) + "+1") {
      ADD_FAILURE() << name << ": malformed line '" << line << "'";
      continue;
    }
    out.push_back(hit{p, k, n});
  }
  return out;
}

// Resets the candidate database and settings: built-in k, empty sets and
// tables, the given nhigh, verbose 0, excluded factors reported.
inline void reset_db(uint32_t nh) {
  for (int i = 0; i < kNumK; ++i) {
    ak[i] = kBuiltinK[i];
    aunfacset[i].clear();
    akpower[i] = akequiv[i] = akmod[i] = aknres[i] = 0;
    for (uint32_t& r : akares[i]) r = 0;
  }
  nhigh = nh;
  verbose = 0;
  outputdupes = true;
}

// Fills slot i the way the reader would for the candidates n = a (mod M),
// 0 <= n <= nhigh, except the n listed in drop and the n whose residue modulo
// M*mult is in drop_classes: akpower M, akequiv a, akmod M*mult, and the
// distinct residues modulo akmod, ascending.
inline void fill_slot(int i, uint32_t a, uint32_t M, uint32_t mult,
                      const std::set<uint32_t>& drop_classes = {},
                      const std::set<uint32_t>& drop = {}) {
  const uint32_t mod = M * mult;
  aunfacset[i].clear();
  std::set<uint32_t> res;
  for (uint64_t n = a; n <= nhigh; n += M) {
    const uint32_t r = static_cast<uint32_t>(n % mod);
    if (drop_classes.count(r) || drop.count(static_cast<uint32_t>(n))) continue;
    aunfacset[i].insert(static_cast<uint32_t>(n));
    res.insert(r);
  }
  ASSERT_LE(res.size(), 10u);
  akpower[i] = M;
  akequiv[i] = a % M;
  akmod[i] = mod;
  aknres[i] = static_cast<uint32_t>(res.size());
  uint32_t j = 0;
  for (uint32_t r : res) akares[i][j++] = r;
}

// Standard classes (residue, modulus) of the built-in k.
inline void fill_standard(uint32_t mult = 1) {
  for (int i = 0; i < kNumK; ++i) fill_slot(i, std_akequiv[i], std_akpower[i], mult);
}

}  // namespace search_test
