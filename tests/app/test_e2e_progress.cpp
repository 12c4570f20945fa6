// Progress reports on standard error, through the binary.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

// With -p 1 a report comes every second: a line of its own when standard
// error is not a terminal, naming a p inside the range and its share of the
// range. The default (60 s) and -p 0 print none in a short run.
TEST(Progress, ReportsEverySecondWithP1) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(100000));
  const uint64_t pmin = 1000000000, pmax = 3000000000;
  const pid_t pid = e2e::start(dir, {"-f", "-d", "-p", "1", std::to_string(pmin), std::to_string(pmax)});
  std::string err;
  for (int tries = 0; tries < 30000 && e2e::count(err, "Progress: ") < 2; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    err = e2e::read_file(dir.file(".err"));
  }
  kill(pid, SIGTERM);
  const Result r = e2e::finish(dir, pid);
  EXPECT_EQ(r.status, 143) << r.out << r.err;
  const std::regex report(
      R"(Progress: p = (\d+), (\d+\.\d)% of the range, (\d+)k p/s, finish about \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  int reports = 0;
  for (const std::string& line : e2e::lines(r.err)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, report)) << line;
    const uint64_t p = std::stoull(m[1]);
    EXPECT_GT(p, pmin);
    EXPECT_LT(p, pmax);
    EXPECT_NEAR(std::stod(m[2]), 100.0 * static_cast<double>(p - pmin) / static_cast<double>(pmax - pmin), 0.06);
    EXPECT_GT(std::stoull(m[3]), 0u);
    ++reports;
  }
  EXPECT_GE(reports, 2);
  EXPECT_EQ(r.out.find("Progress"), std::string::npos) << "reports go to standard error only";

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-f", "1000000000", "1000200000"},
        std::vector<std::string>{"-f", "-p", "0", "1000000000", "1000200000"}}) {
    const Result quiet = e2e::run(dir, args);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
  }
}

}  // namespace
