// Starter candidate lists: for each k of a table, the n of its residue class
// a (mod M) from 0 to nhigh, less every n for which k*2^n+1 has a prime
// factor below a bound. The removal is exact: for each prime p below the
// bound, the n with p | k*2^n+1 are found by a discrete logarithm, not by
// trying n one by one.
//
// All classes are handled in one group: with L = lcm of the moduli, class
// a (mod M) splits into L/M classes c (mod L), and n = c + L*t. For a prime p,
// p | k*2^n+1 exactly when (2^L)^t = (-k*2^c)^-1 (mod p), so one baby-step
// table of powers of g = 2^L serves every (k, c) of the table. Before the
// search, each target must pass x^e = 1 with e = (p-1)/gcd(p-1, L), because
// g itself satisfies g^e = 1; that discards most targets for a few products.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One k with its residue class: the n of k are those with n = a (mod m).
struct kclass {
  int32_t k;   // 1 <= k < 2^31
  uint32_t a;  // a < m
  uint32_t m;  // m >= 1
};

// The twelve built-in k with their standard residue classes.
std::vector<kclass> standard_kclasses();

// Largest values vexgen accepts (-n and -b). The candidate file itself may
// hold n up to 2^32 - 1; vexgen keeps nhigh to 2^31 - 1.
constexpr uint32_t kVexgenMaxNhigh = 2147483647u;   // 2^31 - 1
constexpr uint32_t kVexgenMaxBound = 1000000000u;   // primes below 10^9

// The candidates of every (k, c) class as one removal bitmap.
struct candidate_sieve {
  std::vector<kclass> ks;
  uint32_t nhigh = 0;
  uint32_t lcm = 1;  // L, the common modulus of the classes

  // One entry per (k index, c): n = c + L*t for t < count; bit t of the
  // class's words (starting at word offset) is set when that n is removed.
  struct cls {
    uint32_t kindex;
    uint32_t c;
    uint32_t count;
    uint64_t offset;
  };
  std::vector<cls> classes;
  std::unique_ptr<uint64_t[]> removed;  // the bitmaps of all classes, end to end

  // Scratch of the per-prime search, sized once by candidate_sieve_init.
  std::vector<uint32_t> hash_key;
  std::vector<uint32_t> hash_val;
  std::vector<uint64_t> target;      // per class: (-k*2^c)^-1 mod p
  std::vector<uint32_t> target_cls;  // per target: its class index
};

// Prepares the classes of ks for 0 <= n <= nhigh with nothing removed.
// Returns false with a one-line reason in err when the table is unusable
// (L too large, a >= m, k out of range) or memory runs out.
bool candidate_sieve_init(candidate_sieve& s, const std::vector<kclass>& ks, uint32_t nhigh,
                          std::string& err);

// Removes every n with p | k*2^n+1 and k*2^n+1 != p. p odd prime, p < 2^30.
void remove_prime(candidate_sieve& s, uint32_t p);

// Calls f(p) for every prime 3 <= p < bound in ascending order (bound <=
// kVexgenMaxBound), by a segmented sieve of Eratosthenes; after each segment
// calls progress(last number covered) when it is set.
void for_each_odd_prime(uint32_t bound, const std::function<void(uint32_t)>& f,
                        const std::function<void(uint32_t)>& progress);

// Removes every n with a prime factor below bound: n = 0 of odd k for the
// prime 2, then remove_prime for every odd prime below bound.
void remove_primes_below(candidate_sieve& s, uint32_t bound,
                         const std::function<void(uint32_t)>& progress);

// Calls f(n) for every remaining n of k index i, ascending.
void for_each_candidate(const candidate_sieve& s, uint32_t i,
                        const std::function<void(uint32_t)>& f);

// The candidate file of one run. open() checks the target before the work
// starts and creates the temporary file "<path>.tmp" in its directory (or
// truncates and takes over one that a killed run left). commit() writes the
// file there and gives it its name, so that it appears complete or not at
// all. A run that fails in between, or ends on SIGINT, SIGTERM, SIGHUP or
// SIGPIPE, removes the temporary file; a killed run leaves just that one.
class candidate_output {
 public:
  candidate_output() = default;
  ~candidate_output();  // removes the temporary file unless committed
  candidate_output(const candidate_output&) = delete;
  candidate_output& operator=(const candidate_output&) = delete;

  // The target must not exist (unless force; then it is replaced, even when
  // it is a symbolic link, dangling or not), must not be a directory, and
  // its directory must take the temporary file, which no other run may be
  // using. Returns false with a one-line reason in err.
  bool open(const std::string& path, bool force, std::string& err);

  // Writes "12", "0", nhigh, then per k "k=" and k, the first n and "+" and
  // the difference for every later n, one item per line; flushes it to disk
  // and renames it to the target. Without force a target that appeared
  // meanwhile is left alone. Returns false with a one-line reason in err.
  bool commit(const candidate_sieve& s, std::string& err);

 private:
  void discard();

  std::string path_;
  std::string tmp_;
  bool force_ = false;
  int fd_ = -1;  // the temporary file, open and locked until commit
};
