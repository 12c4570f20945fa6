// Complete runs of the binary over small candidate files: the start-up and
// end-of-run console lines, the statistics block on the console and in
// "stat.txt" (counted against an independent prime count), save points,
// -u writing Vex.dat back (checked against the factors found, each verified
// with __int128 arithmetic) and failing safely, and files that cannot be
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kUsageText = e2e::kUsage;

// Primes in [lo, hi] by a plain segmented sieve.
std::vector<uint64_t> primes_between(uint64_t lo, uint64_t hi) {
  std::vector<uint64_t> small;
  for (uint64_t q = 2; q * q <= hi; ++q) {
    bool prime = true;
    for (uint64_t r : small) {
      if (r * r > q) break;
      if (q % r == 0) { prime = false; break; }
    }
    if (prime) small.push_back(q);
  }
  std::vector<bool> composite(hi - lo + 1, false);
  for (uint64_t q : small) {
    for (uint64_t m = std::max(q * q, (lo + q - 1) / q * q); m <= hi; m += q) composite[m - lo] = true;
  }
  std::vector<uint64_t> v;
  for (uint64_t n = std::max<uint64_t>(lo, 2); n <= hi; ++n) {
    if (!composite[n - lo]) v.push_back(n);
  }
  return v;
}

// The statistics block as report_statistics writes it.
struct Stats {
  std::string pmin, pmax, tested_p, tested_k, whacked_k, whacked_p, ms, rate;
};

// Parses the block that ends text; with_counters says whether the four
// counter lines are expected. Fails the test when the shape differs.
Stats parse_stats(const std::string& text, bool with_counters) {
  Stats s;
  const std::string counters = with_counters
                                   ? "# Tested p  : (\\d+)\n# Tested k  : (\\d+)\n"
                                     "# Whacked k : (\\d+)\n# Whacked p : (\\d+)\n"
                                   : "()()()()";
  const std::regex block_re("\nStatistics:\npmin        : (\\d+)\npmax        : (\\d+)\n" + counters +
                            "Total time: (\\d+) ms\n(\\d+)k p/s\\.\n$");
  std::smatch m;
  EXPECT_TRUE(std::regex_search(text, m, block_re)) << text;
  if (m.empty()) return s;
  s = Stats{m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]};
  return s;
}

// Runs brindle -v over [pmin, pmax] with nhigh 1000 and returns the result.
Result small_run(const TempDir& dir, std::vector<std::string> args) {
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(1000));
  return e2e::run(dir, args);
}

// The whole console of a quiet run, and its statistics against stat.txt.
TEST(Run, QuietConsoleAndStatistics) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(100000));
  const Result r = e2e::run(dir, {"-i", "20000", "1000000001", "1000100000"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.err, "");
  const std::string head = kUsageText +
                           "Not using cmov instructions\nInitializing... Done.\n"
                           "Testing 1000000000 <= p <= 1000100000, 0 <= n <= 100000\n";
  ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;

  // Between the Testing line and "Done": factor lines and progress lines only.
  const std::vector<std::string> out = e2e::lines(r.out.substr(head.size()));
  const std::regex factor_re(R"(\d+ \| \d+\*2\^\d+\+1(\t\((outside range|duplicate)\))?)");
  std::vector<std::string> progress;
  size_t i = 0;
  for (; i < out.size() && out[i] != "Done"; ++i) {
    if (out[i].compare(0, 4, "p = ") == 0) {
      progress.push_back(out[i].substr(4));
    } else {
      EXPECT_TRUE(std::regex_match(out[i], factor_re)) << out[i];
    }
  }
  ASSERT_LT(i, out.size()) << "no Done line";

  // Console: no counter lines at verbose 0. stat.txt: the same block with them.
  const Stats console = parse_stats(r.out, false);
  const std::string stat = e2e::read_file(dir.file("stat.txt"));
  const Stats file = parse_stats(stat, true);
  EXPECT_EQ(e2e::count(stat, "Statistics:"), 1u);
  EXPECT_EQ(stat.compare(0, 13, "\nStatistics:\n"), 0);
  EXPECT_EQ(console.pmin, "1000000000");  // as sieved, even
  EXPECT_EQ(console.pmax, "1000100000");
  EXPECT_EQ(file.pmin, console.pmin);
  EXPECT_EQ(file.pmax, console.pmax);
  EXPECT_EQ(file.ms, console.ms);
  EXPECT_EQ(file.rate, console.rate);
  EXPECT_GE(std::stoull(console.ms), 1u);  // the extra millisecond: never zero

  const std::vector<uint64_t> primes = primes_between(1000000000, 1000100000);
  EXPECT_EQ(file.tested_p, std::to_string(primes.size()));
  EXPECT_EQ(file.tested_k, std::to_string(12 * primes.size()));

  // Save points: each the first prime at least 20000 above the previous one.
  std::vector<std::string> expected_saves;
  uint64_t last = 1000000000;
  for (uint64_t p : primes) {
    if (p - last >= 20000) {
      expected_saves.push_back(std::to_string(p));
      last = p;
    }
  }
  EXPECT_EQ(progress, expected_saves);
  std::string status = "pmax=1000100000\npmin=1000000001\n";  // as given on the command line
  for (const std::string& p : expected_saves) status += "pmin=" + p + "\n";
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), status + "Done\n");
}

// The counter lines at -v and -vv against independent prime counts (the
// prime pmax itself is tested; a range without primes tests none), and one
// block per completed run in stat.txt.
TEST(Run, VerboseCountersAndRepeatedRuns) {
  struct Case {
    std::string verbosity;
    uint64_t pmin, pmax;
  };
  const Case cases[] = {
      {"-v", 1000000000, 1000000009},   // 1000000009 is prime
      {"-vv", 1000000000, 1000000009},
      {"-v", 1000000010, 1000000020},   // no prime; the end prime is 1000000021
      {"-v", 1000000000, 1000030000},
  };
  TempDir dir;
  size_t runs = 0;
  for (const Case& c : cases) {
    const std::string what = c.verbosity + " " + std::to_string(c.pmin) + " " + std::to_string(c.pmax);
    const Result r = small_run(dir, {c.verbosity, "-f", std::to_string(c.pmin), std::to_string(c.pmax)});
    ASSERT_EQ(r.status, 0) << what << r.out;
    ++runs;
    EXPECT_NE(r.out.find("Initializing... \n"), std::string::npos) << what;
    EXPECT_EQ(r.out.find("Done.\n"), std::string::npos) << what;
    const Stats console = parse_stats(r.out, true);
    const std::string stat = e2e::read_file(dir.file("stat.txt"));
    const Stats file = parse_stats(stat, true);
    const size_t n = primes_between(c.pmin, c.pmax).size();
    EXPECT_EQ(console.tested_p, std::to_string(n)) << what;
    EXPECT_EQ(console.tested_k, std::to_string(12 * n)) << what;
    EXPECT_EQ(console.whacked_k, file.whacked_k) << what;
    EXPECT_EQ(console.whacked_p, file.whacked_p) << what;
    EXPECT_EQ(file.tested_p, console.tested_p) << what;
    EXPECT_EQ(e2e::count(stat, "\nStatistics:\n"), runs) << what;
    EXPECT_EQ(e2e::count(stat, "Statistics:"), runs) << what;
  }
}

// -i 0 is raised to the smallest interval, 10000, with a line saying so;
// a save point is the first prime at least that far past the last one.
TEST(Run, IntervalBelowSmallestIsRaised) {
  TempDir dir;
  const Result r = small_run(dir, {"-i", "0", "1000000000", "1000060000"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string head = kUsageText + "Save interval raised to 10000, the smallest allowed\n";
  EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
  std::string status = "pmax=1000060000\npmin=1000000000\n";
  std::vector<std::string> expected;
  uint64_t lastsave = 1000000000;
  for (uint64_t p : primes_between(1000000000, 1000060000)) {
    if (p - lastsave < 10000) continue;
    status += "pmin=" + std::to_string(p) + "\n";
    expected.push_back("p = " + std::to_string(p));
    lastsave = p;
  }
  ASSERT_GE(expected.size(), 5u);
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), status + "Done\n");
  std::vector<std::string> progress;
  for (const std::string& line : e2e::lines(r.out)) {
    if (line.compare(0, 4, "p = ") == 0) progress.push_back(line);
  }
  EXPECT_EQ(progress, expected);
}

// The candidate file in the writer's format for the given sets.
std::string render_vex(uint32_t nhigh, const std::map<int64_t, std::set<uint32_t>>& sets) {
  std::string s = "12\n0\n" + std::to_string(nhigh) + "\n";
  for (const e2e::KClass& c : e2e::kStandard) {
    s += "k=" + std::to_string(c.k) + "\n";
    uint32_t prev = 0;
    bool first = true;
    for (uint32_t n : sets.at(c.k)) {
      s += first ? std::to_string(n) + "\n" : "+" + std::to_string(n - prev) + "\n";
      prev = n;
      first = false;
    }
  }
  return s;
}

// -u rewrites Vex.dat without the n of the new factors, and only those.
TEST(Run, UpdateWritesCandidatesBack) {
  TempDir dir;
  const uint32_t nhigh = 100000;
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(nhigh));
  const Result r = e2e::run(dir, {"-u", "1000500000", "1000700000"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\nDone\nSaving Vex.dat...\n Done.\n\nStatistics:\n"), std::string::npos)
      << r.out;

  const std::vector<e2e::Factor> found = e2e::read_factors(e2e::read_file(dir.file("fact.txt")));
  ASSERT_FALSE(found.empty()) << "the range should hold factors of the fixture";
  std::map<int64_t, std::set<uint32_t>> sets;
  for (const e2e::KClass& c : e2e::kStandard) {
    for (uint32_t n = c.residue; n <= nhigh; n += c.modulus) sets[c.k].insert(n);
  }
  for (const e2e::Factor& f : found) {
    ASSERT_EQ(sets.count(f.k), 1u) << f.k;
    EXPECT_EQ(sets[f.k].erase(f.n), 1u) << "reported twice as new: " << f.k << " " << f.n;
  }
  EXPECT_EQ(e2e::read_file(dir.file("Vex.dat")), render_vex(nhigh, sets));
}

// A Vex.dat that cannot be replaced (its temporary file cannot be created)
// stays as it was; the statistics still come, the exit status says so.
TEST(Run, UpdateFailureKeepsOldFile) {
  TempDir dir;
  const std::string vex = e2e::standard_vex(100000);
  e2e::write_file(dir.file("Vex.dat"), vex);
  std::filesystem::create_directory(dir.file("Vex.dat.tmp"));
  const Result r = e2e::run(dir, {"-u", "1000500000", "1000700000"});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("\nDone\nSaving Vex.dat...\n\nStatistics:\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\n Done.\n"), std::string::npos);
  EXPECT_NE(r.err, "");
  EXPECT_EQ(e2e::read_file(dir.file("Vex.dat")), vex);
  EXPECT_FALSE(e2e::read_factors(e2e::read_file(dir.file("fact.txt"))).empty());
  EXPECT_EQ(e2e::count(e2e::read_file(dir.file("stat.txt")), "Statistics:"), 1u);
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), "pmax=1000700000\npmin=1000500000\nDone\n");
}

// Status file and stat.txt that cannot be written (directories of that name,
// one holding a file so it cannot be removed): the run completes, each
// problem is said once on standard error, the console report is whole.
TEST(Run, UnwritableFilesWarnOnceAndGoOn) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("VexStatus.dat"));
  e2e::write_file(dir.file("VexStatus.dat/keep"), "x");
  std::filesystem::create_directory(dir.file("stat.txt"));
  const Result r = small_run(dir, {"-f", "-i", "10000", "1000000000", "1000060000"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(e2e::count(r.err, "VexStatus.dat"), 1u) << r.err;
  EXPECT_EQ(e2e::count(r.err, "stat.txt"), 1u) << r.err;
  EXPECT_EQ(e2e::lines(r.err).size(), 2u) << r.err;
  const Stats console = parse_stats(r.out, false);
  EXPECT_EQ(console.pmin, "1000000000");
}

}  // namespace
