// Microbenchmarks of the inner pieces of the sieve: the modular products and
// powers, one sieve window, the order-of-two bound, the per-prime test and
// the three searches it hands over to, and the residue hash table.
//
// The per-prime benchmarks run on one worker, whose sink only counts the
// hits (nothing is filed or printed). They take their primes from the start
// of a real sieve window near 10^9, 10^12 or 2^50 (argument 9, 12 or 50).
// Before any timing, every prime of the sample goes once through the
// worker's test_prime; that pass records the prime's factors of p - 1 from
// the sieve, which path the prime takes (no survivor, sph_idea declines,
// plain search, residue-class search), the state each search starts from,
// and which primes have a factor. Primes with a factor are left out of every
// timed set. The counter "share" is the fraction of the sample a set covers;
// share times time per prime, summed over the sets of a partition, is the
// cost per prime of that part of the work. (The per-prime benchmarks keep
// their names test_idea_*, under which earlier results were recorded.)
//
// The candidate sets come from the cached candidate file of bench/run.sh
// (--vex=FILE, or $BRINDLE_BENCH_VEX, default
// bench/work/vex-n20000000-b1000000.dat); without it the twelve k get their
// standard classes and empty sets.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "arith/modmul.h"
#include "arith/prime_state.h"
#include "db/candidates.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/bsgs.h"
#include "search/hash.h"
#include "search/order_bound.h"
#include "search/plan.h"
#include "search/sink.h"
#include "search/sph.h"
#include "search/worker.h"

#ifndef BRINDLE_SOURCE_DIR
#define BRINDLE_SOURCE_DIR "."
#endif

namespace {

using u128 = unsigned __int128;

// ---------------------------------------------------------------------------
// Reference arithmetic for choosing test primes, independent of the modulus
// context.

uint64_t ref_mulmod(uint64_t a, uint64_t b, uint64_t m) {
  return static_cast<uint64_t>(static_cast<u128>(a) * b % m);
}

uint64_t ref_powmod(uint64_t b, uint64_t e, uint64_t m) {
  uint64_t r = 1;
  for (b %= m; e != 0; e >>= 1) {
    if (e & 1) r = ref_mulmod(r, b, m);
    b = ref_mulmod(b, b, m);
  }
  return r;
}

// Miller-Rabin with the first twelve prime bases: exact for n < 3.3*10^24.
bool is_prime(uint64_t n) {
  static const uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
  if (n < 2) return false;
  for (uint64_t q : bases) {
    if (n % q == 0) return n == q;
  }
  uint64_t d = n - 1;
  int s = 0;
  while ((d & 1) == 0) d >>= 1, ++s;
  for (uint64_t a : bases) {
    uint64_t x = ref_powmod(a, d, n);
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (int r = 1; r < s && composite; ++r) {
      x = ref_mulmod(x, x, n);
      if (x == n - 1) composite = false;
    }
    if (composite) return false;
  }
  return true;
}

// The ranges of bench/run.sh, by benchmark argument: the first sieve window
// of the range starting at 10^9, 10^12, 10^15, and of the top 10^8 below 2^50.
uint64_t range_low(int64_t arg) {
  switch (arg) {
    case 9: return 1000000000ULL;
    case 12: return 1000000000000ULL;
    case 15: return 1000000000000000ULL;
    case 50: return kPLimit - 100000000ULL;
  }
  std::fprintf(stderr, "micro: unknown range argument %lld\n", static_cast<long long>(arg));
  std::exit(1);
}

// A prime of the range: the first one above its start (below 2^50 in every case).
uint64_t range_prime(int64_t arg) {
  uint64_t p = range_low(arg) + 1;
  while (!is_prime(p)) p += 2;
  return p;
}

// Deterministic pseudo-random numbers (splitmix64).
uint64_t splitmix(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Time per operation when each iteration does ops of them.
void per_op(benchmark::State& state, uint64_t ops, const char* name = "ns/op") {
  state.counters[name] = benchmark::Counter(static_cast<double>(state.iterations() * ops),
                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ops));
}

// ---------------------------------------------------------------------------
// The one worker of the per-prime benchmarks, on the plan of the candidate
// file; its sink counts the hits.

class counting_sink final : public factor_sink {
 public:
  void hit(const factor_hit&) override { ++hits; }
  uint64_t hits = 0;
};

search_plan the_plan;
counting_sink the_sink;
std::unique_ptr<worker> the_worker;

worker& bench_worker() { return *the_worker; }

// ---------------------------------------------------------------------------
// Per-prime sample of a range.

constexpr uint32_t kSample = 6000;  // primes per range, all in its first window

enum path_t : uint8_t { path_none, path_declined, path_bsgs, path_classes, path_sph_whacked };

struct prime_rec {
  uint64_t p;
  uint32_t pm1[8];  // the sieve's record of factors of p - 1
  uint32_t npm1;
  uint64_t B;       // order bound
  uint32_t nfac;    // ps.o2bfactors after order_2_bound
  uint32_t fac[65]; // ps.ao2bfactors after order_2_bound
  uint32_t mask_in; // k that survived the elimination of test_prime
  uint64_t amkinv[kNumK];
  path_t path;
  uint32_t mask_out;  // k handed on to the search
  uint64_t M;
  uint64_t X[kNumK];
  bool hit;  // a factor (new or excluded) was reported for p

  factor_list pm1_factors() const { return factor_list{pm1, pm1 + npm1}; }
};

struct range_ctx {
  uint64_t low = 0;
  std::vector<prime_rec> recs;
  // Index sets into recs, primes with a factor left out.
  std::vector<uint32_t> all, none, survivors, sph, plain, classes;
};

range_ctx& context(int64_t arg) {
  static std::map<int64_t, range_ctx> cache;
  auto it = cache.find(arg);
  if (it != cache.end()) return it->second;
  range_ctx& c = cache[arg];
  c.low = range_low(arg);
  worker& w = bench_worker();
  prime_state& ps = w.ps;
  sph_trace_t trace{};
  w.trace = &trace;
  w.sieve.sieve_window(c.low);
  c.recs.resize(kSample);
  for (uint32_t j = 0; j < kSample; ++j) {
    prime_rec& r = c.recs[j];
    r.p = w.sieve.next();
    if (w.sieve.window_low() != c.low) {
      std::fprintf(stderr, "micro: the sample ran past the first window\n");
      std::exit(1);
    }
    const factor_list pm1 = w.sieve.pm1_factors();
    r.npm1 = 0;
    for (const uint32_t q : pm1) {
      if (r.npm1 < 8) r.pm1[r.npm1++] = q;
    }
    set_modulus(ps, r.p);
    r.B = order_2_bound(ps, r.p, r.pm1_factors(), the_plan.nhigh);
    r.nfac = ps.o2bfactors;
    std::memcpy(r.fac, ps.ao2bfactors, sizeof r.fac);

    const uint64_t before = the_sink.hits;
    trace.mask_in = 0;  // stays 0 when test_prime does not call sph_idea
    w.test_prime(r.p, r.pm1_factors());
    r.hit = the_sink.hits != before;
    std::memcpy(r.amkinv, ps.amkinv, sizeof r.amkinv);
    r.mask_in = trace.mask_in;
    r.mask_out = trace.mask;
    r.M = trace.M;
    std::memcpy(r.X, trace.X, sizeof r.X);
    if (r.mask_in == 0) {
      r.path = path_none;
    } else {
      switch (trace.outcome) {
        case sph_declined: r.path = path_declined; break;
        case sph_to_bsgs: r.path = path_bsgs; break;
        case sph_to_classes: r.path = path_classes; break;
        default: r.path = path_sph_whacked; break;
      }
    }
    if (r.hit) continue;
    c.all.push_back(j);
    if (r.path == path_none) {
      c.none.push_back(j);
      continue;
    }
    c.survivors.push_back(j);
    if (r.path != path_declined) c.sph.push_back(j);
    if (r.path == path_declined || r.path == path_bsgs) c.plain.push_back(j);
    if (r.path == path_classes) c.classes.push_back(j);
  }
  w.trace = nullptr;
  return c;
}

// Runs body(rec) once per iteration over the set, cyclically.
template <class Body>
void over_primes(benchmark::State& state, const range_ctx& c, const std::vector<uint32_t>& set,
                 Body body) {
  if (set.empty()) {
    state.SkipWithError("no prime of the sample takes this path");
    return;
  }
  size_t i = 0;
  for (auto _ : state) {
    body(c.recs[set[i]]);
    if (++i == set.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["share"] = static_cast<double>(set.size()) / static_cast<double>(c.recs.size());
  state.counters["primes"] = static_cast<double>(set.size());
}

// Puts back the state test_prime leaves for the searches of a prime.
inline void restore_search_state(prime_state& ps, const prime_rec& r) {
  set_modulus(ps, r.p);
  std::memcpy(ps.ao2bfactors, r.fac, sizeof r.fac);
  ps.o2bfactors = r.nfac;
  std::memcpy(ps.amkinv, r.amkinv, sizeof r.amkinv);
}

// ---------------------------------------------------------------------------
// Modular arithmetic.

constexpr int kChain = 256;

void BM_mul_mod_p_latency(benchmark::State& state) {
  modulus_ctx ps;
  const uint64_t p = range_prime(state.range(0));
  set_modulus(ps, p);
  uint64_t s = 1;
  uint64_t x = splitmix(s) % p;
  const uint64_t y = splitmix(s) % p;
  for (auto _ : state) {
    for (int i = 0; i < kChain; ++i) x = mul_mod_p(ps, x, y, p);
    benchmark::DoNotOptimize(x);
  }
  per_op(state, kChain);
}

void BM_mul_mod_p_throughput(benchmark::State& state) {
  modulus_ctx ps;
  const uint64_t p = range_prime(state.range(0));
  set_modulus(ps, p);
  constexpr int kN = 1024;
  std::vector<uint64_t> a(kN), b(kN), c(kN);
  uint64_t s = 2;
  for (int i = 0; i < kN; ++i) a[i] = splitmix(s) % p, b[i] = splitmix(s) % p;
  for (auto _ : state) {
    for (int i = 0; i < kN; ++i) c[i] = mul_mod_p(ps, a[i], b[i], p);
    benchmark::DoNotOptimize(c.data());
    benchmark::ClobberMemory();
  }
  per_op(state, kN);
}

// The walk step of every search: y = y*d with the quotient d/p precomputed.
void BM_mul_mod_p_b_latency(benchmark::State& state) {
  modulus_ctx ps;
  const uint64_t p = range_prime(state.range(0));
  set_modulus(ps, p);
  uint64_t s = 3;
  uint64_t x = splitmix(s) % p;
  const uint64_t d = splitmix(s) % p;
  set_bdivp(ps, d);
  for (auto _ : state) {
    for (int i = 0; i < kChain; ++i) x = mul_mod_p_b(ps, x, d, p);
    benchmark::DoNotOptimize(x);
  }
  per_op(state, kChain);
}

constexpr int kPowInputs = 64;

void BM_powmod_40bit(benchmark::State& state) {
  modulus_ctx ps;
  const uint64_t p = range_prime(state.range(0));
  set_modulus(ps, p);
  uint64_t s = 4, bases[kPowInputs], exps[kPowInputs];
  for (int i = 0; i < kPowInputs; ++i) {
    bases[i] = splitmix(s) % p;
    exps[i] = (splitmix(s) & ((1ULL << 40) - 1)) | (1ULL << 39);
  }
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(powmod(ps, bases[i], exps[i], p));
    i = (i + 1) & (kPowInputs - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_pow2mod_40bit(benchmark::State& state) {
  modulus_ctx ps;
  const uint64_t p = range_prime(state.range(0));
  set_modulus(ps, p);
  uint64_t s = 5, exps[kPowInputs];
  for (int i = 0; i < kPowInputs; ++i) exps[i] = (splitmix(s) & ((1ULL << 40) - 1)) | (1ULL << 39);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pow2mod(ps, exps[i], p));
    i = (i + 1) & (kPowInputs - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------
// Residue hash table: the giant steps of the plain search (nhigh/15840 + 1
// entries) stored, then looked up by keys that are absent, as almost every
// walk step's key is.

constexpr int kTable = 1263;

void BM_hash_store(benchmark::State& state) {
  prime_state ps;
  hash_init(ps, the_plan.nhigh);
  std::vector<hash_entry_t> keys(kTable);
  uint64_t s = 6;
  for (auto& k : keys) k = make_hash_entry(splitmix(s) & ((1ULL << 40) - 1));
  for (auto _ : state) {
    clear_hash(ps);
    for (int i = 0; i < kTable; ++i) store_hash(ps, keys[i], static_cast<uint32_t>(i + 1));
  }
  clear_hash(ps);
  per_op(state, kTable, "ns/store");
}

void BM_hash_lookup_miss(benchmark::State& state) {
  prime_state ps;
  hash_init(ps, the_plan.nhigh);
  uint64_t s = 7;
  clear_hash(ps);
  for (int i = 0; i < kTable; ++i) {
    store_hash(ps, make_hash_entry(splitmix(s) & ((1ULL << 40) - 1)), static_cast<uint32_t>(i + 1));
  }
  constexpr int kN = 1024;
  std::vector<hash_entry_t> probes(kN);
  for (auto& k : probes) k = make_hash_entry(splitmix(s) & ((1ULL << 40) - 1));
  for (auto _ : state) {
    uint32_t acc = 0;
    for (int i = 0; i < kN; ++i) acc += lookup_hash(ps, probes[i], 0);
    benchmark::DoNotOptimize(acc);
  }
  clear_hash(ps);
  per_op(state, kN, "ns/lookup");
}

// ---------------------------------------------------------------------------
// Sieve window: 2^23 integers, with the record of factors of N - 1.

void BM_eratosthenes_window(benchmark::State& state) {
  const uint64_t low = range_low(state.range(0));
  prime_sieve sieve;
  sieve.sieve_window(low);
  uint64_t primes = 0;
  while (sieve.next_in_window() != 0) ++primes;
  for (auto _ : state) {
    sieve.sieve_window(low);
  }
  state.counters["ns/prime"] = benchmark::Counter(
      static_cast<double>(state.iterations() * primes),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["primes"] = static_cast<double>(primes);
}

// ---------------------------------------------------------------------------
// Per-prime pieces.

void BM_order_2_bound(benchmark::State& state) {
  range_ctx& c = context(state.range(0));
  prime_state& ps = bench_worker().ps;
  over_primes(state, c, c.all, [&ps](const prime_rec& r) {
    set_modulus(ps, r.p);
    benchmark::DoNotOptimize(order_2_bound(ps, r.p, r.pm1_factors(), the_plan.nhigh));
  });
}

void run_test_idea(benchmark::State& state, std::vector<uint32_t> range_ctx::*set) {
  range_ctx& c = context(state.range(0));
  worker& w = bench_worker();
  over_primes(state, c, c.*set, [&w](const prime_rec& r) { w.test_prime(r.p, r.pm1_factors()); });
}

// Every prime of the sample (without a factor): the average cost per prime.
void BM_test_idea_all(benchmark::State& state) { run_test_idea(state, &range_ctx::all); }
void BM_test_idea_no_survivors(benchmark::State& state) { run_test_idea(state, &range_ctx::none); }
void BM_test_idea_survivors(benchmark::State& state) { run_test_idea(state, &range_ctx::survivors); }

// sph_idea on the primes it does not decline, including the search it hands
// the survivors to (check_factors or check_factors_sph).
void BM_sph_idea(benchmark::State& state) {
  range_ctx& c = context(state.range(0));
  worker& w = bench_worker();
  over_primes(state, c, c.sph, [&w](const prime_rec& r) {
    restore_search_state(w.ps, r);
    benchmark::DoNotOptimize(sph_idea(w, r.p, r.B, r.mask_in));
  });
}

// The plain search on the primes that reach it (sph_idea declined, or M <= 49).
void BM_check_factors(benchmark::State& state) {
  range_ctx& c = context(state.range(0));
  worker& w = bench_worker();
  over_primes(state, c, c.plain, [&w](const prime_rec& r) {
    set_modulus(w.ps, r.p);
    std::memcpy(w.ps.amkinv, r.amkinv, sizeof r.amkinv);
    check_factors(w, r.p, r.mask_out);
  });
}

// The residue-class search on the primes that reach it.
void BM_check_factors_sph(benchmark::State& state) {
  range_ctx& c = context(state.range(0));
  worker& w = bench_worker();
  over_primes(state, c, c.classes, [&w](const prime_rec& r) {
    set_modulus(w.ps, r.p);
    std::memcpy(w.ps.amkinv, r.amkinv, sizeof r.amkinv);
    check_factors_sph(w, r.p, r.mask_out, static_cast<uint32_t>(r.M), r.X);
  });
}

void ranges(benchmark::internal::Benchmark* b) { b->ArgName("p")->Arg(9)->Arg(12)->Arg(50); }

BENCHMARK(BM_mul_mod_p_latency)->Apply(ranges);
BENCHMARK(BM_mul_mod_p_throughput)->Apply(ranges);
BENCHMARK(BM_mul_mod_p_b_latency)->Apply(ranges);
BENCHMARK(BM_powmod_40bit)->Apply(ranges);
BENCHMARK(BM_pow2mod_40bit)->Apply(ranges);
BENCHMARK(BM_hash_store);
BENCHMARK(BM_hash_lookup_miss);
BENCHMARK(BM_eratosthenes_window)->Apply(ranges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_order_2_bound)->Apply(ranges);
BENCHMARK(BM_test_idea_all)->Apply(ranges);
BENCHMARK(BM_test_idea_no_survivors)->Apply(ranges);
BENCHMARK(BM_test_idea_survivors)->Apply(ranges);
BENCHMARK(BM_sph_idea)->Apply(ranges);
BENCHMARK(BM_check_factors)->Apply(ranges);
BENCHMARK(BM_check_factors_sph)->Apply(ranges);

// The candidate file: --vex=FILE (taken out of argv), $BRINDLE_BENCH_VEX, or
// the cache of bench/run.sh.
std::string take_vex_option(int& argc, char** argv) {
  std::string path;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--vex=", 6) == 0) {
      path = argv[i] + 6;
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  if (path.empty()) {
    const char* env = std::getenv("BRINDLE_BENCH_VEX");
    path = env != nullptr && *env != '\0' ? env
                                          : BRINDLE_SOURCE_DIR "/bench/work/vex-n20000000-b1000000.dat";
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string vex = take_vex_option(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  verbose = 0;
  outputdupes = true;
  std::string source;
  if (std::filesystem::exists(vex)) {
    if (!read_db(std::filesystem::absolute(vex).string())) return 1;
    source = vex;
  } else {
    std::cerr << "micro: " << vex
              << " not found (bench/run.sh makes it); using the standard classes with empty sets\n";
    load_standard_classes(kDefaultNhigh);
    source = "standard classes, empty sets";
  }
  build_search_plan(the_plan);
  the_worker = std::make_unique<worker>(the_plan, the_sink);
  eratosthenes_base(1 << 25);
  benchmark::AddCustomContext("candidates", source);
  benchmark::AddCustomContext("nhigh", std::to_string(nhigh));
  benchmark::AddCustomContext("standard_kpowers", the_plan.standard_kpowers ? "yes" : "no");

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  the_worker.reset();
  return 0;
}
