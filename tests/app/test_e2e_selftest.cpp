// brindle --self-test on this machine: one line per check (four prime counts
// of windows from 10^9 to just below 2^62, then each known factor on each
// arithmetic path the processor has), "all checks passed", status 0, and no
// file written in the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/e2e_util.h"
#include "arith/ifma.h"

namespace {

TEST(SelfTest, AllChecksPassHere) {
  e2e::TempDir dir;
  const e2e::Result r = e2e::run(dir, {"--self-test"});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> lines = e2e::lines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("all checks passed", 0), 0u) << r.out;
  // 4 windows, 6 factors below 2^50 on each path, 5 above on one.
  const size_t expected = 4 + 6 * (cpu_has_ifma() ? 2 : 1) + 5;
  EXPECT_EQ(lines.size(), expected + 1) << r.out;
  EXPECT_EQ(e2e::count(r.out, ": ok\n"), expected) << r.out;
  EXPECT_FALSE(e2e::exists(dir.file("VexStatus.dat")));
  EXPECT_FALSE(e2e::exists(dir.file("fact.txt")));
}

}  // namespace
