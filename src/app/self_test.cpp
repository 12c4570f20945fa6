#include "app/self_test.h"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "arith/ifma.h"
#include "arith/limits.h"
#include "db/candidates.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/plan.h"
#include "search/sink.h"
#include "search/worker.h"

namespace {

// Prime counts of windows [low, low + 2^23), from an independent sieve.
struct window_count {
  uint64_t low;
  uint32_t primes;
};
constexpr window_count kWindows[] = {
    {1000000000ULL, 404758},
    {1000000000000ULL, 303200},
    {(1ULL << 50) - (1ULL << 23), 241884},
    {(1ULL << 62) - (1ULL << 23), 195810},
};

// p | k*2^n+1 with n in the standard class of k, each checked outside this
// program with a modular power.
struct known_factor {
  uint64_t p;
  int32_t k;
  uint32_t n;
};
constexpr known_factor kFactors[] = {
    {1000000033ULL, 10223, 18540221},
    {1000001311ULL, 19249, 1672430},
    {1008527033ULL, 27653, 2966001},
    {1000010591383ULL, 4847, 4084503},
    {1000024266359ULL, 55459, 2480890},
    {1000049635421ULL, 4847, 16058127},
    {1274254912697527ULL, 28433, 73},
    {6241641239283337ULL, 28433, 97},
    {63266229350308949ULL, 28433, 49},
    {326883732123650549ULL, 4847, 87},
    {3703554732181166491ULL, 55459, 94},
};

constexpr uint32_t kNhigh = 20000000;

class collecting_sink final : public factor_sink {
 public:
  void hit(const factor_hit& h) override { hits.push_back(h); }
  std::vector<factor_hit> hits;
};

// The even window start that puts p inside a window below 2^62.
uint64_t window_for(uint64_t p) {
  const uint64_t top = kPLimit - kSieveWindowSize;
  const uint64_t least = uint64_t{1} << 25;  // the sieve's lowest window start
  uint64_t low = p > kSieveWindowSize / 2 ? (p - kSieveWindowSize / 2) & ~1ULL : 0;
  if (low < least) low = least;
  return low > top ? top : low;
}

}  // namespace

int run_self_test() {
  const auto t0 = std::chrono::steady_clock::now();
  int checks = 0, failed = 0;
  const auto report = [&](const std::string& what, bool ok) {
    ++checks;
    if (!ok) ++failed;
    std::cout << "self-test: " << what << (ok ? ": ok" : ": FAILED") << std::endl;
  };

  eratosthenes_base(kBasePrimeLimit);
  prime_sieve sieve;
  for (const window_count& w : kWindows) {
    sieve.sieve_window(w.low);
    uint32_t n = 0;
    while (sieve.next_in_window() != 0) ++n;
    report("primes in [" + std::to_string(w.low) + ", +2^23): " + std::to_string(n) + ", expected " +
               std::to_string(w.primes),
           n == w.primes);
  }

  load_standard_classes(kNhigh);
  search_plan plan;
  build_search_plan(plan);
  collecting_sink sink;
  worker w(plan, sink);
  const bool chosen = use_ifma;
  std::vector<bool> paths = {false};
  if (cpu_has_ifma()) paths.push_back(true);
  for (const known_factor& f : kFactors) {
    const std::string line =
        std::to_string(f.p) + " | " + std::to_string(f.k) + "*2^" + std::to_string(f.n) + "+1";
    w.sieve.sieve_window(window_for(f.p));
    w.sieve.seek(f.p);
    const bool prime = w.sieve.next_in_window() == f.p;
    for (const bool ifma : paths) {
      // Above the lanes' bound both settings run the same 64-bit products.
      if (ifma && f.p >= kIfmaPLimit) continue;
      use_ifma = ifma;
      sink.hits.clear();
      if (prime) w.test_prime(f.p, w.sieve.pm1_factors());
      bool found = false;
      for (const factor_hit& h : sink.hits) {
        found |= h.p == f.p && ak[h.slot] == f.k && h.n == f.n;
      }
      report(line + " found on the " + (ifma ? "AVX-512 IFMA" : "scalar") + " path", prime && found);
    }
  }
  use_ifma = chosen;

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (failed == 0) {
    std::cout << "all checks passed (" << checks << " checks, " << static_cast<int>(seconds + 0.5) << " s)"
              << std::endl;
    return 0;
  }
  std::cout << "self-test: " << failed << " of " << checks
            << " checks FAILED: do not trust this machine with a range" << std::endl;
  return 1;
}
