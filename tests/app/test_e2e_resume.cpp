// An interrupted run resumed from its last save point through the binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

// Kill a run at a save point, resume it without a range: together the two
// runs find exactly the hits of one uninterrupted run over the range. The
// resumed run starts from the unchanged Vex.dat, so a (k, n) first hit before
// the save point and hit again after it counts as new twice; hence the new
// factors of the whole run are a subset of the split runs' ones, and the hits
// of both files together are the same set.
TEST(Run, InterruptedRunResumesToSameFactors) {
  const std::string pmin = "1000400000", pmax = "1001000000";
  const std::string vex = e2e::standard_vex(100000);

  TempDir whole;
  e2e::write_file(whole.file("Vex.dat"), vex);
  const Result w = e2e::run(whole, {pmin, pmax});
  ASSERT_EQ(w.status, 0) << w.out;

  TempDir split;
  e2e::write_file(split.file("Vex.dat"), vex);
  const pid_t pid = e2e::start(split, {"-i", "50000", pmin, pmax});
  std::string status;
  for (int tries = 0; tries < 20000; ++tries) {
    status = e2e::read_file(split.file("VexStatus.dat"));
    if (e2e::lines(status).size() >= 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGKILL);
  const Result killed = e2e::finish(split, pid);
  ASSERT_EQ(killed.status, -1) << "the run ended before it was killed; widen the range";
  status = e2e::read_file(split.file("VexStatus.dat"));
  const std::vector<std::string> saved = e2e::lines(status);
  ASSERT_GE(saved.size(), 3u) << status;
  ASSERT_NE(saved.back(), "Done");
  const uint64_t last = std::stoull(saved.back().substr(5));

  const Result resumed = e2e::run(split, {});
  ASSERT_EQ(resumed.status, 0) << resumed.out;
  EXPECT_NE(resumed.out.find("Found VexStatus.dat with unfinished work. Continuing from last save point.\n"),
            std::string::npos);
  EXPECT_NE(resumed.out.find("Testing " + std::to_string(last & ~1ULL) + " <= p <= " + pmax),
            std::string::npos)
      << resumed.out;
  EXPECT_EQ(e2e::lines(e2e::read_file(split.file("VexStatus.dat"))).back(), "Done");

  auto hits = [](const TempDir& dir, bool with_excluded) {
    std::set<std::string> s;
    for (const char* name : {"fact.txt", "factexcl.txt"}) {
      const std::string text = e2e::read_file(dir.file(name));
      e2e::read_factors(text);
      for (const std::string& line : e2e::lines(text)) s.insert(line);
      if (!with_excluded) break;
    }
    return s;
  };
  const std::set<std::string> whole_new = hits(whole, false), split_new = hits(split, false);
  ASSERT_FALSE(whole_new.empty()) << "the range should hold factors of the fixture";
  EXPECT_TRUE(std::includes(split_new.begin(), split_new.end(), whole_new.begin(), whole_new.end()));
  EXPECT_EQ(hits(split, true), hits(whole, true));
}

}  // namespace
