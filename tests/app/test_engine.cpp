// The committer of the engine, in process: many workers on many tiny blocks
// must file exactly what one worker on whole sieve windows files, line for
// line and save point for save point, with the same counters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/host.h"
#include "app/progress.h"
#include "arith/limits.h"
#include "common/test_files.h"
#include "db/candidates.h"
#include "e2e_util.h"
#include "primes/sieve.h"
#include "search/plan.h"

namespace {

struct Filed {
  std::string fact, excl, status;
  search_counters stats;
  uint64_t endp = 0;
};

// Runs the engine over [pmin, pmax] with the candidate file text in a fresh
// directory and returns what it filed.
Filed run_engine_in_dir(const std::string& vex, uint64_t pmin, uint64_t pmax, uint32_t threads,
                        uint64_t block_size, uint64_t save_interval, run_host* host = nullptr,
                        int want_status = 0) {
  testfiles::TempDir dir("brindle_engine");
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  testfiles::write_file("Vex.dat", vex);
  Filed out;
  EXPECT_TRUE(read_db("Vex.dat"));
  search_plan plan;
  build_search_plan(plan);
  progress_report progress(pmin, pmin, pmax, 0);
  engine_settings s;
  s.low = pmin & ~1ULL;
  s.pmax = pmax;
  s.save_interval = save_interval;
  s.threads = threads;
  s.block_size = block_size;
  s.host = host;
  const engine_result r = run_engine(plan, s, progress);
  EXPECT_EQ(r.status, want_status);
  out.fact = testfiles::read_file("fact.txt");
  out.excl = testfiles::read_file("factexcl.txt");
  out.status = testfiles::read_file("VexStatus.dat");
  out.stats = r.stats;
  out.endp = r.endp;
  std::filesystem::current_path(old);
  return out;
}

TEST(Engine, TinyBlocksOnManyThreadsFileAsOneThread) {
  eratosthenes_base(1 << 25);
  const std::string vex = e2e::double_hit_vex();
  // Both factors of 27653*2^2966001+1 lie in the range, so the second must
  // be filed as a duplicate whichever thread finds it first.
  const uint64_t pmin = 1008400000, pmax = 1013200000;
  const Filed one = run_engine_in_dir(vex, pmin, pmax, 1, kSieveWindowSize, 10000);
  ASSERT_NE(one.fact.find("1008527033 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_NE(one.excl.find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_GT(e2e::count(one.status, "pmin="), 100u);
  // endp is the first prime above pmax (trial division).
  const auto is_prime = [](uint64_t n) {
    for (uint64_t d = 2; d * d <= n; ++d) {
      if (n % d == 0) return false;
    }
    return n > 1;
  };
  ASSERT_TRUE(is_prime(one.endp));
  for (uint64_t n = pmax + 1; n < one.endp; ++n) EXPECT_FALSE(is_prime(n)) << n;

  struct Case {
    uint32_t threads;
    uint64_t block_size;
  };
  for (const Case& c : {Case{4, 1u << 13}, Case{3, 1u << 16}}) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, blocks of " + std::to_string(c.block_size));
    const Filed many = run_engine_in_dir(vex, pmin, pmax, c.threads, c.block_size, 10000);
    EXPECT_EQ(many.fact, one.fact);
    EXPECT_EQ(many.excl, one.excl);
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.stats.testedp, one.stats.testedp);
    EXPECT_EQ(many.stats.whackedk, one.stats.whackedk);
    EXPECT_EQ(many.stats.whackedp, one.stats.whackedp);
    EXPECT_EQ(many.endp, one.endp);
  }
}

// Blocks of several sieve windows, as ranges above 2^50 use, over a range
// of one and a third windows: each block's windows are sieved in turn and
// tested from the block's start, so the files are those of one thread on
// whole windows.
TEST(Engine, BlocksOfSeveralWindowsFileAsWholeWindows) {
  eratosthenes_base(1 << 25);
  const std::string vex = e2e::double_hit_vex();
  const uint64_t pmin = 1008400000, pmax = pmin + kSieveWindowSize + kSieveWindowSize / 3;
  const Filed one = run_engine_in_dir(vex, pmin, pmax, 1, kSieveWindowSize, 10000);
  ASSERT_NE(one.excl.find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  for (const uint64_t size : {kSieveWindowSize << 1, kSieveWindowSize << 6}) {
    SCOPED_TRACE("blocks of " + std::to_string(size));
    const Filed big = run_engine_in_dir(vex, pmin, pmax, 2, size, 10000);
    EXPECT_EQ(big.fact, one.fact);
    EXPECT_EQ(big.excl, one.excl);
    EXPECT_EQ(big.status, one.status);
    EXPECT_EQ(big.stats.testedp, one.stats.testedp);
    EXPECT_EQ(big.stats.whackedk, one.stats.whackedk);
    EXPECT_EQ(big.endp, one.endp);
  }
  EXPECT_EQ(block_size_for(1ULL << 50), kSieveWindowSize);
  EXPECT_EQ(block_size_for((1ULL << 50) + 1), kSieveWindowSize << 6);
}

// A host that asks for a checkpoint at every third look, suspends the run
// for its first 300 ms and, when told to, asks it to stop after its second
// checkpoint. It checks that every save point is written inside one
// bracket of writes.
class test_host final : public run_host {
 public:
  explicit test_host(bool stop_after_two) : stop_after_two_(stop_after_two) {}
  void report_fraction(double done) override { fractions.push_back(done); }
  bool checkpoint_wanted() override { return ++looks_ % 3 == 0; }
  void checkpoint_written() override {
    EXPECT_FALSE(in_writes_);
    ++checkpoints;
  }
  void begin_writes() override {
    EXPECT_FALSE(in_writes_);
    in_writes_ = true;
    ++brackets;
  }
  void end_writes() override {
    EXPECT_TRUE(in_writes_);
    in_writes_ = false;
  }
  bool stop_wanted() override { return stop_after_two_ && checkpoints >= 2; }
  bool pause_wanted() override {
    paused_looks += std::chrono::steady_clock::now() < pause_until_;
    return std::chrono::steady_clock::now() < pause_until_;
  }

  std::vector<double> fractions;
  int checkpoints = 0;
  int brackets = 0;
  int paused_looks = 0;

 private:
  const bool stop_after_two_;
  const std::chrono::steady_clock::time_point pause_until_ =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  int looks_ = 0;
  bool in_writes_ = false;
};

// The "pmin=" values of a status file (the engine writes only its save
// points; the range lines come from the driver).
std::vector<uint64_t> save_points(const std::string& status) {
  std::vector<uint64_t> out;
  for (const std::string& line : e2e::lines(status)) {
    if (line.rfind("pmin=", 0) == 0) out.push_back(std::stoull(line.substr(5)));
  }
  return out;
}

// With a host: the same lines as without one, the host's checkpoints as
// extra save points at primes the committer had filed, the fraction done
// rising to 1; a stop the host asks for ends the run at a save point that
// covers exactly the lines filed before it.
TEST(Engine, HostCheckpointsPausesAndStops) {
  eratosthenes_base(1 << 25);
  const std::string vex = e2e::double_hit_vex();
  const uint64_t pmin = 1008400000, pmax = 1013200000;
  const Filed plain = run_engine_in_dir(vex, pmin, pmax, 2, 1u << 18, 1000000);

  test_host host(false);
  const Filed hosted = run_engine_in_dir(vex, pmin, pmax, 2, 1u << 18, 1000000, &host);
  EXPECT_EQ(hosted.fact, plain.fact);
  EXPECT_EQ(hosted.excl, plain.excl);
  EXPECT_EQ(hosted.stats.testedp, plain.stats.testedp);
  EXPECT_GT(host.checkpoints, 0);
  EXPECT_GT(host.paused_looks, 0);
  const std::vector<uint64_t> every = save_points(hosted.status);
  const std::vector<uint64_t> scheduled = save_points(plain.status);
  EXPECT_TRUE(std::is_sorted(every.begin(), every.end()));
  EXPECT_TRUE(std::includes(every.begin(), every.end(), scheduled.begin(), scheduled.end()));
  EXPECT_GE(every.size(), scheduled.size() + 1);
  EXPECT_EQ(host.brackets, static_cast<int>(every.size()));
  ASSERT_FALSE(host.fractions.empty());
  EXPECT_TRUE(std::is_sorted(host.fractions.begin(), host.fractions.end()));
  EXPECT_GT(host.fractions.back(), 0.9);
  EXPECT_LE(host.fractions.back(), 1.0);

  test_host stopper(true);
  const Filed stopped = run_engine_in_dir(vex, pmin, pmax, 2, 1u << 18, 1000000, &stopper, 128 + SIGTERM);
  const std::vector<uint64_t> saved = save_points(stopped.status);
  ASSERT_FALSE(saved.empty());
  const uint64_t last = saved.back();
  EXPECT_LT(last, pmax);
  // The lines filed are exactly the plain run's lines up to the last save point.
  std::string want;
  for (const std::string& line : e2e::lines(plain.fact)) {
    if (std::stoull(line.substr(0, line.find(' '))) <= last) want += line + "\n";
  }
  EXPECT_EQ(stopped.fact, want);
}

// Blocks of a single odd number each, over a short stretch: most blocks hold
// no prime at all, and the save points still fall on the same primes.
TEST(Engine, BlocksOfOneNumber) {
  eratosthenes_base(1 << 25);
  const std::string vex = e2e::double_hit_vex();
  const uint64_t pmin = 1008500000, pmax = 1008540000;
  const Filed one = run_engine_in_dir(vex, pmin, pmax, 1, kSieveWindowSize, 10000);
  const Filed tiny = run_engine_in_dir(vex, pmin, pmax, 3, 2, 10000);
  ASSERT_GE(e2e::count(one.status, "pmin="), 3u);
  EXPECT_EQ(tiny.fact, one.fact);
  EXPECT_EQ(tiny.excl, one.excl);
  EXPECT_EQ(tiny.status, one.status);
  EXPECT_EQ(tiny.stats.testedp, one.stats.testedp);
}

}  // namespace
