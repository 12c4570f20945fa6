// -t N through the real binary: whatever the number of worker threads, the
// factor files, the console, the save points, the counters and a rewritten
// Vex.dat are those of one thread, byte for byte; a run killed or stopped
// under several threads and resumed loses nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

// Four sieve windows of 2^23, the last one partly: every thread count up to
// four has blocks to share. Both factors of 27653*2^2966001+1 lie inside.
const std::string kPmin = "1008400000", kPmax = "1034000000";

// Every k in a class of odd modulus (15, 21, 45, ...), so the per-prime
// test takes the general power tests and the searches odd strides.
std::string odd_moduli_vex() {
  static const uint32_t kModulus[12] = {15, 21, 45, 7, 9, 35, 25, 27, 33, 63, 75, 105};
  std::ostringstream s;
  s << "12\n0\n1000000\n";
  for (int i = 0; i < 12; ++i) {
    const uint32_t m = kModulus[i], r = static_cast<uint32_t>(i + 1) % m;
    s << "k=" << e2e::kStandard[i].k << "\n" << r << "\n";
    for (uint32_t n = r + m; n <= 200000; n += m) s << "+" << m << "\n";
  }
  return s.str();
}

// What a run leaves behind, with the wall-clock figures taken out of the
// console and of stat.txt.
struct Outcome {
  int status = 0;
  std::string fact, excl, console, vexstatus, stat, vex;
};

std::string without_timing(const std::string& text) {
  std::string out;
  for (const std::string& line : e2e::lines(text)) {
    if (line.rfind("Total time: ", 0) == 0) continue;
    if (line.size() > 6 && line.compare(line.size() - 6, 6, "k p/s.") == 0) continue;
    out += line + "\n";
  }
  return out;
}

Outcome run_range(const std::string& vex, std::vector<std::string> args, const std::string& pmin,
                  const std::string& pmax, int threads) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), vex);
  args.insert(args.end(), {"-t", std::to_string(threads), "-f", pmin, pmax});
  const Result r = e2e::run(dir, args);
  Outcome o;
  o.status = r.status;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  o.fact = e2e::read_file(dir.file("fact.txt"));
  o.excl = e2e::read_file(dir.file("factexcl.txt"));
  o.console = without_timing(r.out);
  o.vexstatus = e2e::read_file(dir.file("VexStatus.dat"));
  o.stat = without_timing(e2e::read_file(dir.file("stat.txt")));
  o.vex = e2e::read_file(dir.file("Vex.dat"));
  return o;
}

void expect_same(const Outcome& a, const Outcome& b) {
  EXPECT_EQ(a.fact, b.fact);
  EXPECT_EQ(a.excl, b.excl);
  EXPECT_EQ(a.console, b.console);
  EXPECT_EQ(a.vexstatus, b.vexstatus);
  EXPECT_EQ(a.stat, b.stat);
  EXPECT_EQ(a.vex, b.vex);
}

// One uninterrupted single-thread run of the wide range, shared.
const Outcome& single() {
  static const Outcome o = run_range(e2e::double_hit_vex(), {"-i", "10000", "-v"}, kPmin, kPmax, 1);
  return o;
}

TEST(Threads, EveryThreadCountWritesWhatOneThreadWrites) {
  const Outcome& one = single();
  ASSERT_NE(one.fact.find("1008527033 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_NE(one.excl.find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_GT(e2e::count(one.vexstatus, "pmin="), 1000u);
  ASSERT_NE(one.console.find("\t(xmod "), std::string::npos) << "the verbose line forms";
  for (int threads : {2, 3, 4, 0}) {
    SCOPED_TRACE("-t " + std::to_string(threads));
    expect_same(run_range(e2e::double_hit_vex(), {"-i", "10000", "-v"}, kPmin, kPmax, threads), one);
  }
}

// Excluded factors left out (-d), Vex.dat rewritten (-u), classes of odd
// moduli: the same files with one thread and with several.
TEST(Threads, SwitchesAndOddModuli) {
  struct Case {
    const char* name;
    std::string vex;
    std::vector<std::string> args;
    std::string pmax;
    int threads;
  };
  const std::vector<Case> cases = {
      {"-d -u", e2e::double_hit_vex(), {"-d", "-u"}, "1026000000", 3},
      {"odd moduli -u", odd_moduli_vex(), {"-u", "-i", "10000"}, "1026000000", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome one = run_range(c.vex, c.args, kPmin, c.pmax, 1);
    ASSERT_FALSE(one.fact.empty());
    if (c.args[0] == "-d") {
      EXPECT_TRUE(one.excl.empty());
    }
    EXPECT_NE(one.vex, c.vex) << "the found factors leave Vex.dat";
    expect_same(run_range(c.vex, c.args, kPmin, c.pmax, c.threads), one);
  }
}

// The factor files, with the repeats of a stretch tested again left out,
// are those of the uninterrupted run.
void expect_single_run_lines(const TempDir& dir) {
  EXPECT_EQ(e2e::first_occurrences(e2e::read_file(dir.file("fact.txt"))), e2e::lines(single().fact));
  EXPECT_EQ(e2e::first_occurrences(e2e::read_file(dir.file("factexcl.txt"))), e2e::lines(single().excl));
}

// Killed with SIGKILL under two threads at random moments and resumed under
// two threads, the run files exactly the lines of one uninterrupted run.
TEST(Threads, KilledAndResumedUnderTwoThreads) {
  single();
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> when(300, 2500);
  for (int trial = 0; trial < 3; ++trial) {
    const int delay = when(rng);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), e2e::double_hit_vex());
    const pid_t pid = e2e::start(dir, {"-t", "2", "-i", "10000", "-v", kPmin, kPmax});
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(pid, SIGKILL);
    e2e::finish(dir, pid);
    const bool saved = e2e::read_file(dir.file("VexStatus.dat")).find("pmin=") != std::string::npos;
    const Result resumed = saved ? e2e::run(dir, {"-t", "2", "-v"})
                                 : e2e::run(dir, {"-t", "2", "-v", "-f", kPmin, kPmax});
    ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
    expect_single_run_lines(dir);
  }
}

// SIGTERM under two threads: the run ends quickly with status 143, every
// line it wrote lies at or below its last save point, and the run resumed
// under two threads completes the range as one run would.
TEST(Threads, StoppedAndResumed) {
  single();
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::double_hit_vex());
  const pid_t pid = e2e::start(dir, {"-t", "2", "-i", "10000", "-v", kPmin, kPmax});
  e2e::wait_for_save_points(dir, 3);
  const auto t0 = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  const Result stopped = e2e::finish(dir, pid);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_EQ(stopped.status, 143) << stopped.out << stopped.err;
  EXPECT_LT(seconds, 2.0);
  const std::vector<std::string> status = e2e::lines(e2e::read_file(dir.file("VexStatus.dat")));
  ASSERT_FALSE(status.empty());
  ASSERT_EQ(status.back().compare(0, 5, "pmin="), 0);
  const std::string at = status.back().substr(5);
  EXPECT_NE(stopped.out.find("Stopped by SIGTERM at p = " + at + "; run brindle again to continue from there.\n"),
            std::string::npos)
      << stopped.out;
  // The stop's save point is a prime of the range, and everything the
  // single run filed up to it is filed, nothing beyond it.
  const uint64_t stop_p = std::stoull(at);
  const auto upto = [stop_p](const std::string& text) {
    std::vector<std::string> out;
    for (const std::string& line : e2e::lines(text)) {
      if (std::stoull(line) <= stop_p) out.push_back(line);
    }
    return out;
  };
  EXPECT_EQ(e2e::lines(e2e::read_file(dir.file("fact.txt"))), upto(single().fact));
  EXPECT_EQ(e2e::lines(e2e::read_file(dir.file("factexcl.txt"))), upto(single().excl));

  const Result resumed = e2e::run(dir, {"-t", "2", "-v"});
  ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
  expect_single_run_lines(dir);
}

// More threads than the address space has room for: the run ends with a
// message and status 1, not with a crash, and writes no save point beyond
// what it tested.
TEST(Threads, ThreadsThatCannotStartEndTheRunWithAMessage) {
  if (e2e::kAddressSanitizer) GTEST_SKIP() << "needs a small RLIMIT_AS";
  // Under a cross build's emulator the limit would bound the emulator's own
  // reservations, not the program's thread stacks.
  if (!testfiles::emulator_words().empty()) GTEST_SKIP() << "RLIMIT_AS does not reach through the emulator";
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::double_hit_vex());
  // 300 windows, so that 300 threads have a block each; their stacks alone
  // need far more than the limit.
  const pid_t pid = e2e::start(dir, {"-t", "300", "-f", "1008400000", "3600000000"}, "", [] {
    const rlimit rl{rlim_t{600} << 20, rlim_t{600} << 20};
    setrlimit(RLIMIT_AS, &rl);
  });
  // A run that started every thread would take minutes: stop it after one.
  std::atomic<bool> done{false};
  std::thread guard([pid, &done] {
    for (int i = 0; i < 600 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done.load()) kill(pid, SIGKILL);
  });
  const Result r = e2e::finish(dir, pid);
  done.store(true);
  guard.join();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(r.err.find("Error: cannot start worker thread ") != std::string::npos ||
              r.err.find("Error: a worker thread failed: ") != std::string::npos)
      << r.err;
}

}  // namespace
