// What a crash, a kill or a full disk may not do to the files of a run,
// through the real binary: no torn or false factor line, factors on disk
// before the save point that follows them, the new Vex.dat in place before
// the range is marked done, and a resumed run that files every factor as an
// uninterrupted run does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

// A range near 10^9 with new and excluded factors of the fixture below; one
// of its candidates has two prime factors in the range:
// 1008527033 and 1013105953 both divide 27653*2^2966001+1, so the second
// is excluded as a duplicate.
const std::string kPmin = "1008400000", kPmax = "1013200000";

std::string fixture() { return e2e::double_hit_vex(); }

using e2e::first_occurrences;

struct Outputs {
  std::string fact, excl;
};

// A range of three sieve windows (the range above lies in one), so that a
// stop can come while primes are still being tested.
const std::string kWidePmax = "1026000000";

Outputs run_whole(const std::string& pmax) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), fixture());
  const Result r = e2e::run(dir, {kPmin, pmax});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  return Outputs{e2e::read_file(dir.file("fact.txt")), e2e::read_file(dir.file("factexcl.txt"))};
}

// The factor files of one uninterrupted run of the range, and of the wide one.
const Outputs& uninterrupted() {
  static const Outputs out = run_whole(kPmax);
  return out;
}
const Outputs& uninterrupted_wide() {
  static const Outputs out = run_whole(kWidePmax);
  return out;
}

// Every line of both files is a true factor, and with repeats (of the
// stretch that a resumed run tests again) left out the files are those of
// the uninterrupted run, line for line.
void expect_uninterrupted_lines(const TempDir& dir, const Outputs& whole = uninterrupted()) {
  ASSERT_NE(whole.fact.find("1008527033 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_NE(whole.excl.find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  const std::string fact = e2e::read_file(dir.file("fact.txt"));
  const std::string excl = e2e::read_file(dir.file("factexcl.txt"));
  e2e::read_factors(fact);
  e2e::read_factors(excl);
  EXPECT_EQ(first_occurrences(fact), e2e::lines(whole.fact));
  EXPECT_EQ(first_occurrences(excl), e2e::lines(whole.excl));
}

// The disk fills up in the middle of a factor line (a file size limit stands
// in for it): the run stops with status 1 and leaves no fragment, and once
// there is room again the resumed run completes the range with every line
// whole and true.
TEST(Durability, FullDiskLeavesNoTornLine) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), fixture());
  const rlim_t limit = 500;  // below the size of factexcl.txt for the range
  const pid_t pid = e2e::start(dir, {"-f", "-i", "200000", kPmin, kPmax}, "", [limit] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    // The console would reach the limit first; it is not under test here.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
  });
  const Result full = e2e::finish(dir, pid);
  ASSERT_EQ(full.status, 1) << full.err;
  EXPECT_NE(full.err.find("Error: cannot append to factexcl.txt, factor not saved: "), std::string::npos)
      << full.err;
  for (const char* name : {"fact.txt", "factexcl.txt"}) {
    const std::string text = e2e::read_file(dir.file(name));
    EXPECT_TRUE(text.empty() || text.back() == '\n') << name << " ends in a fragment";
    EXPECT_LE(text.size(), limit);
  }

  const Result resumed = e2e::run(dir, {});
  ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
  expect_uninterrupted_lines(dir);
}

// A power cut in the middle of a line leaves a fragment without its newline;
// the next run ends that line before appending, so no new line is glued to
// it. A complete last line is left alone.
TEST(Durability, TornLastLineIsEndedBeforeNewLines) {
  for (const std::string& before : {std::string("1000000007 | 4847*2^15"), std::string("")}) {
    SCOPED_TRACE("fact.txt holds \"" + before + "\"");
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), fixture());
    e2e::write_file(dir.file("fact.txt"), before);
    e2e::write_file(dir.file("factexcl.txt"), "1000000009 | 5359*2^");
    const Result r = e2e::run(dir, {"-f", kPmin, kPmax});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string fact = e2e::read_file(dir.file("fact.txt"));
    const std::string excl = e2e::read_file(dir.file("factexcl.txt"));
    const std::string torn = before.empty() ? "" : before + "\n";
    ASSERT_EQ(fact.compare(0, torn.size(), torn), 0) << fact;
    EXPECT_EQ(fact.substr(torn.size()), uninterrupted().fact);
    ASSERT_EQ(excl.compare(0, 21, "1000000009 | 5359*2^\n"), 0) << excl;
    EXPECT_EQ(excl.substr(21), uninterrupted().excl);
  }
}

// One traced event of the run: a write, fsync or rename, and the file.
struct Event {
  std::string call, file, text;
};

// Runs brindle under strace and returns its writes, fsyncs and renames of
// the files in dir, in order. Skips the test when strace is missing.
std::vector<Event> traced_run(const TempDir& dir, const std::vector<std::string>& args) {
  if (std::system("strace -V > /dev/null 2>&1") != 0) return {};
  std::vector<std::string> full = {"-f", "-y", "-s", "200", "-e", "trace=write,fsync,fdatasync,rename,renameat,renameat2",
                                   "-o", dir.file(".trace")};
  // A cross build's brindle runs under its emulator, which makes the same
  // calls on the program's behalf.
  for (const std::string& w : testfiles::emulator_words()) full.push_back(w);
  full.push_back(e2e::kBrindle);
  full.insert(full.end(), args.begin(), args.end());
  e2e::write_file(dir.file(".in"), "");
  // A sanitizer build's leak check cannot work under ptrace; off for this run.
  const pid_t pid = testfiles::start_program("/usr/bin/strace", dir.path(), full, ".in", ".out", ".err", [] {
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  });
  const Result r = e2e::finish(dir, pid);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::vector<Event> events;
  const std::regex fd_call(R"((write|fsync|fdatasync)\(\d+<([^>]*)>(?:, \"([^\"]*)\")?)");
  const std::regex rename_call(R"(rename\w*\(.*?\"([^\"]*)\".*?\"([^\"]*)\".*\)\s+= 0)");
  for (const std::string& line : e2e::lines(e2e::read_file(dir.file(".trace")))) {
    std::smatch m;
    if (std::regex_search(line, m, fd_call)) {
      const std::string path = m[2];
      if (path.size() <= dir.path().size() || path.compare(0, dir.path().size() + 1, dir.path() + "/") != 0)
        continue;
      events.push_back({m[1], path.substr(dir.path().size() + 1), m[3]});
    } else if (std::regex_search(line, m, rename_call)) {
      events.push_back({"rename", m[2], m[1]});
    }
  }
  return events;
}

// At every save point and at the end, the factor files are synced first,
// then the status line is appended and synced; with -u the new Vex.dat
// replaces the old one after the factor files are synced and before "Done".
TEST(Durability, FactorsAreOnDiskBeforeEachSavePoint) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), fixture());
  const std::vector<Event> events = traced_run(dir, {"-f", "-u", "-i", "500000", kPmin, kPmax});
  if (events.empty()) GTEST_SKIP() << "strace is not available";

  std::set<std::string> unsynced;  // factor files written since their last fsync
  bool status_unsynced = false;
  int save_points = 0, factor_lines = 0;
  bool renamed = false, done = false;
  for (const Event& e : events) {
    SCOPED_TRACE(e.call + " " + e.file + " " + e.text);
    const bool factor_file = e.file == "fact.txt" || e.file == "factexcl.txt";
    if (e.call == "write" && factor_file) {
      unsynced.insert(e.file);
      ++factor_lines;
      EXPECT_FALSE(done);
    } else if (e.call != "write" && e.call != "rename" && factor_file) {
      unsynced.erase(e.file);
    } else if (e.file == "VexStatus.dat") {
      if (e.call == "write") {
        EXPECT_TRUE(unsynced.empty()) << "a status line before the factors were synced";
        EXPECT_FALSE(status_unsynced) << "two status writes without a sync between";
        status_unsynced = true;
        if (e.text.compare(0, 5, "pmin=") == 0) ++save_points;
        if (e.text == "Done\\n") {
          EXPECT_TRUE(renamed) << "the range was marked done before Vex.dat was replaced";
          done = true;
        }
      } else {
        status_unsynced = false;
      }
    } else if (e.file == "Vex.dat.tmp" && e.call == "write") {
      EXPECT_TRUE(unsynced.empty()) << "Vex.dat rewritten before the factors were synced";
    } else if (e.call == "rename" && e.file == "Vex.dat") {
      renamed = true;
    }
  }
  EXPECT_TRUE(done);
  EXPECT_FALSE(status_unsynced);
  EXPECT_GE(save_points, 6);
  EXPECT_GT(factor_lines, 10);
}

// Killed with SIGKILL at random moments and resumed without a range, the run
// writes exactly the lines of an uninterrupted run (repeats of the stretch
// tested again aside): a factor stored before the save point is not filed as
// new a second time.
TEST(Durability, KilledAndResumedRunFilesEveryFactorAsOneRun) {
  const auto t0 = std::chrono::steady_clock::now();
  uninterrupted();
  const double whole_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::mt19937 rng(2026);
  std::uniform_real_distribution<double> when(0.0, whole_ms);
  int killed = 0;
  for (int trial = 0; trial < 10; ++trial) {
    const int delay = static_cast<int>(when(rng));
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), fixture());
    const pid_t pid = e2e::start(dir, {"-i", "100000", kPmin, kPmax});
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(pid, SIGKILL);
    if (e2e::finish(dir, pid).status == -1) ++killed;
    // Killed before the range reached the status file: nothing to resume.
    const bool saved = e2e::read_file(dir.file("VexStatus.dat")).find("pmin=") != std::string::npos;
    const Result resumed = saved ? e2e::run(dir, {}) : e2e::run(dir, {"-f", kPmin, kPmax});
    ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
    expect_uninterrupted_lines(dir);
  }
  EXPECT_GE(killed, 5) << "most runs should have been killed before their end";
}

// SIGINT, SIGTERM and SIGHUP end the run at once and cleanly: the last
// prime before which every prime is tested becomes the save point, after
// the factor files are on disk, one line says where the run stopped, and
// the exit status is 128 plus the signal's number. The resumed run then
// loses nothing.
TEST(Durability, StopSignalEndsTheRunCleanly) {
  uninterrupted_wide();
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signo));
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), fixture());
    const pid_t pid = e2e::start(dir, {"-i", "100000", kPmin, kWidePmax});
    // Wait for the first save point: the range is being tested.
    e2e::wait_for_save_points(dir, 2);
    const auto t0 = std::chrono::steady_clock::now();
    kill(pid, signo);
    const Result stopped = e2e::finish(dir, pid);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(stopped.status, 128 + signo) << stopped.out << stopped.err;
    EXPECT_LT(seconds, 2.0);
    const std::vector<std::string> status = e2e::lines(e2e::read_file(dir.file("VexStatus.dat")));
    ASSERT_FALSE(status.empty());
    ASSERT_EQ(status.back().compare(0, 5, "pmin="), 0);
    const std::string at = status.back().substr(5);
    EXPECT_NE(stopped.out.find(std::string("Stopped by ") + (signo == SIGINT ? "SIGINT" : signo == SIGTERM ? "SIGTERM" : "SIGHUP") +
                               " at p = " + at + "; run brindle again to continue from there.\n"),
              std::string::npos)
        << stopped.out;
    // Every factor line up to the save point is written.
    for (const char* name : {"fact.txt", "factexcl.txt"}) {
      for (const e2e::Factor& f : e2e::read_factors(e2e::read_file(dir.file(name)))) EXPECT_LE(f.p, std::stoull(at));
    }
    const Result resumed = e2e::run(dir, {});
    ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
    expect_uninterrupted_lines(dir, uninterrupted_wide());
  }
}

}  // namespace
