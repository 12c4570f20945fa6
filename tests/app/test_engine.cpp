// The committer of the engine, in process: many workers on many tiny blocks
// must file exactly what one worker on whole sieve windows files, line for
// line and save point for save point, with the same counters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/engine.h"
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
                        uint64_t block_size, uint64_t save_interval) {
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
  const engine_result r = run_engine(plan, s, progress);
  EXPECT_EQ(r.status, 0);
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
