// crosscheck: runs the primes of [pmin, pmax] twice through the per-prime
// test of a worker, once with the Pohlig-Hellman path (as the program runs)
// and once with every prime left to the plain baby-step giant-step search
// (use_sph off), from the same candidate sets, and compares the factors
// filed by the program's sink.
//
// The two runs must give the same new factors ("fact.txt", compared as
// sorted lists) and the same excluded factors with n <= nhigh in the classes
// the plain search examines. Beyond that each search reports some factors the
// other never examines: the plain search n above nhigh up to its stride past
// it, the residue-class search n above nhigh and n <= nhigh of its class that
// lie outside the candidates' classes. Those are listed by count, and every
// line of both runs is re-checked with __int128 arithmetic.
//
// usage: crosscheck <candidate file> <pmin> <pmax> [<work directory>]
// The factor files of the two runs are kept in the work directory (a new
// directory under /tmp by default) as fact.sph.txt, factexcl.sph.txt,
// fact.plain.txt and factexcl.plain.txt. Exit status 0 when the runs agree,
// 1 when they differ, a line is not a factor or a run failed (a factor that
// could not be filed, an internal error), 2 on bad arguments.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/factor_sink.h"
#include "arith/limits.h"
#include "arith/numtheory.h"
#include "db/candidates.h"
#include "db/decimal.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/plan.h"
#include "search/worker.h"

namespace {

struct hit {
  uint64_t p;
  int64_t k;
  uint64_t n;
  bool operator<(const hit& o) const {
    return p != o.p ? p < o.p : k != o.k ? k < o.k : n < o.n;
  }
  bool operator==(const hit& o) const { return p == o.p && k == o.k && n == o.n; }
};

int usage(const char* message) {
  std::fprintf(stderr, "crosscheck: %s\nusage: crosscheck <candidate file> <pmin> <pmax> [<work directory>]\n",
               message);
  return 2;
}

// Lines "p | k*2^n+1"; a line that does not parse becomes p = 0.
std::vector<hit> read_hits(const std::string& name) {
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
  std::sort(out.begin(), out.end());
  return out;
}

bool genuine(const hit& h) {
  return h.p >= 3 && h.k > 0 && k2n1_mod(h.p, h.k, h.n) == 0;
}

int slot_of(int64_t k) {
  for (int i = 0; i < kNumK; ++i)
    if (ak[i] == k) return i;
  return -1;
}

// n is in a class that the plain search walks for slot i.
bool in_walked_classes(int i, uint64_t n) {
  if (i < 0 || akmod[i] == 0) return false;
  for (uint32_t j = 0; j < aknres[i]; ++j)
    if (n % akmod[i] == akares[i][j]) return true;
  return false;
}

struct pass_result {
  double seconds;
  uint64_t primes, whackedk, whackedp;
  std::vector<hit> fact, excl;
  bool failed;
};

pass_result run_pass(const search_plan& plan, bool sph, uint64_t pmin, uint64_t pmax, const char* tag) {
  std::remove("fact.txt");
  std::remove("factexcl.txt");
  program_sink files;
  worker w(plan, files);
  w.use_sph = sph;

  // The sink prints every hit; keep the console for the summary.
  std::ofstream null("/dev/null");
  std::streambuf* const console = std::cout.rdbuf(null.rdbuf());
  const auto t0 = std::chrono::steady_clock::now();
  w.sieve.sieve_window(pmin);
  for (uint64_t p = w.sieve.next(); p <= pmax && !files.failed() && !w.ps.hash_overflow; p = w.sieve.next()) {
    w.test_prime(p, w.sieve.pm1_factors());
  }
  const auto t1 = std::chrono::steady_clock::now();
  std::cout.rdbuf(console);

  pass_result r;
  r.seconds = std::chrono::duration<double>(t1 - t0).count();
  r.primes = w.stats.testedp;
  r.whackedk = w.stats.whackedk;
  r.whackedp = w.stats.whackedp;
  r.failed = files.failed() || w.ps.hash_overflow;
  if (files.failed()) std::printf("%-6s %s\n", tag, files.error().c_str());
  if (w.ps.hash_overflow) std::printf("%-6s Internal error: residue hash table full\n", tag);
  const std::string fact = std::string("fact.") + tag + ".txt";
  const std::string excl = std::string("factexcl.") + tag + ".txt";
  std::rename("fact.txt", fact.c_str());
  std::rename("factexcl.txt", excl.c_str());
  r.fact = read_hits(fact);
  r.excl = read_hits(excl);
  std::printf("%-6s %llu primes in %.1f s; k eliminated %llu, primes without k %llu; %zu new, %zu excluded factors\n",
              tag, static_cast<unsigned long long>(r.primes), r.seconds,
              static_cast<unsigned long long>(r.whackedk), static_cast<unsigned long long>(r.whackedp),
              r.fact.size(), r.excl.size());
  std::fflush(stdout);
  return r;
}

void print_hit(const char* what, const hit& h) {
  std::printf("  %s %llu | %lld*2^%llu+1\n", what, static_cast<unsigned long long>(h.p),
              static_cast<long long>(h.k), static_cast<unsigned long long>(h.n));
}

// Prints the lines of a not in b (at most a few).
void print_difference(const char* what, const std::vector<hit>& a, const std::vector<hit>& b) {
  std::vector<hit> d;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(d));
  for (size_t i = 0; i < d.size() && i < 10; ++i) print_hit(what, d[i]);
  if (d.size() > 10) std::printf("  ... %zu lines in all\n", d.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) return usage("wrong number of arguments");
  uint64_t pmin = 0, pmax = 0;
  const decimal_result rmin = parse_decimal(argv[2], kPLimit, pmin);
  const decimal_result rmax = parse_decimal(argv[3], kPLimit, pmax);
  if (rmin == decimal_result::not_decimal || rmax == decimal_result::not_decimal)
    return usage("pmin and pmax must be plain numbers");
  if (rmin == decimal_result::too_large || rmax == decimal_result::too_large || pmin < kPMinLimit ||
      pmax <= pmin)
    return usage("need 10^9 <= pmin < pmax <= 2^62");
  pmin &= ~1ULL;

  if (!read_db(argv[1])) return usage("cannot read the candidate file");
  std::string dir;
  if (argc == 5) {
    dir = argv[4];
  } else {
    char tmpl[] = "/tmp/crosscheck_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return usage("cannot make a work directory");
    dir = tmpl;
  }
  if (chdir(dir.c_str()) != 0) return usage("cannot enter the work directory");
  outputdupes = true;
  verbose = 0;

  size_t candidates = 0;
  for (int i = 0; i < kNumK; ++i) candidates += aunfacset[i].size();
  std::printf("range %llu..%llu, nhigh %u, %zu candidates, work directory %s\n",
              static_cast<unsigned long long>(pmin), static_cast<unsigned long long>(pmax), nhigh, candidates,
              dir.c_str());
  eratosthenes_base(base_prime_limit_for(pmax));
  static search_plan plan;
  build_search_plan(plan);

  const pass_result a = run_pass(plan, true, pmin, pmax, "sph");
  // Back to the same candidate sets: the first run removed exactly its new factors.
  for (const hit& h : a.fact) {
    const int i = slot_of(h.k);
    if (i >= 0) aunfacset[i].insert(static_cast<uint32_t>(h.n));
  }
  const pass_result b = run_pass(plan, false, pmin, pmax, "plain");

  bool ok = !a.failed && !b.failed;
  size_t bad = 0;
  for (const auto* list : {&a.fact, &a.excl, &b.fact, &b.excl})
    for (const hit& h : *list)
      if (!genuine(h)) {
        if (++bad <= 10) print_hit("not a factor:", h);
        ok = false;
      }

  if (a.fact == b.fact) {
    std::printf("new factors: identical (%zu)\n", a.fact.size());
  } else {
    ok = false;
    std::printf("new factors: DIFFERENT\n");
    print_difference("only with Pohlig-Hellman:", a.fact, b.fact);
    print_difference("only plain:", b.fact, a.fact);
  }

  // Excluded factors split into those both searches examine and the rest.
  std::vector<hit> common[2];
  size_t above[2] = {}, outside = 0;
  const std::vector<hit>* excl[2] = {&a.excl, &b.excl};
  for (int s = 0; s < 2; ++s) {
    for (const hit& h : *excl[s]) {
      if (h.n > nhigh) {
        ++above[s];
      } else if (in_walked_classes(slot_of(h.k), h.n)) {
        common[s].push_back(h);
      } else if (s == 0) {
        ++outside;
      } else {
        ok = false;
        print_hit("plain search outside its classes:", h);
      }
    }
  }
  if (common[0] == common[1]) {
    std::printf("excluded factors with n <= nhigh in the candidates' classes: identical (%zu)\n", common[0].size());
  } else {
    ok = false;
    std::printf("excluded factors with n <= nhigh in the candidates' classes: DIFFERENT\n");
    print_difference("only with Pohlig-Hellman:", common[0], common[1]);
    print_difference("only plain:", common[1], common[0]);
  }
  std::printf("examined by one search only: Pohlig-Hellman %zu above nhigh, %zu outside the candidates' classes; "
              "plain %zu above nhigh\n",
              above[0], outside, above[1]);
  std::printf("all lines re-checked: %s\n", bad == 0 ? "every one a factor" : "SOME ARE NOT FACTORS");
  std::printf("time: Pohlig-Hellman path %.1f s, plain search %.1f s\n", a.seconds, b.seconds);
  std::printf("RESULT: %s\n", ok ? "the two searches agree" : "MISMATCH");
  return ok ? 0 : 1;
}
