// brindle_boinc in BOINC's standalone mode (no client: the library resolves
// every file name to itself, writes standard error to stderr.txt and leaves
// the file boinc_finish_called behind boinc_finish). A whole range gives the
// factor lines of the plain brindle, each once, and the done line; a task
// killed with SIGKILL and started again resumes and uploads each line once,
// exactly as an uninterrupted task; a finished task started again only
// writes its result again; a slot holding another range starts afresh; a
// missing or malformed candidate file or a bad command line ends with a
// message and a non-zero status.
#include <gtest/gtest.h>
#include <signal.h>

#include <set>
#include <string>
#include <vector>

#include "app/e2e_util.h"

namespace {

using e2e::TempDir;
using testfiles::Result;

const std::string kBoinc = BRINDLE_BINARY_DIR "/brindle_boinc";

pid_t start_task(const TempDir& dir, const std::vector<std::string>& args) {
  return testfiles::start_program(kBoinc, dir.path(), args, "/dev/null", dir.file(".out"), dir.file(".err"));
}

Result run_task(const TempDir& dir, const std::vector<std::string>& args) {
  return testfiles::finish_program(start_task(dir, args), dir.file(".out"), dir.file(".err"));
}

// What the plain program files for the range: fact.txt then factexcl.txt.
std::string plain_lines(const std::string& vex, const std::string& pmin, const std::string& pmax) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), vex);
  const Result r = e2e::run(dir, {"-f", pmin, pmax});
  EXPECT_EQ(r.status, 0) << r.out;
  return e2e::read_file(dir.file("fact.txt")) + e2e::read_file(dir.file("factexcl.txt"));
}

TEST(BoincStandalone, WholeRangeAsThePlainProgram) {
  const std::string vex = e2e::double_hit_vex();
  const std::string pmin = "1008400000", pmax = "1013200000";
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), vex);
  const Result r = run_task(dir, {pmin, pmax});
  ASSERT_EQ(r.status, 0) << e2e::read_file(dir.file("stderr.txt"));
  EXPECT_TRUE(e2e::exists(dir.file("boinc_finish_called")));
  const std::string result = e2e::read_file(dir.file("factors.txt"));
  const std::string plain = plain_lines(vex, pmin, pmax);
  EXPECT_EQ(result, plain + "done " + pmin + " " + pmax + "\n");
  EXPECT_NE(result.find("1008527033 | 27653*2^2966001+1\n"), std::string::npos);
  EXPECT_NE(result.find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  const std::string range_lines = "pmax=" + pmax + "\npmin=" + pmin + "\n";
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")).substr(0, range_lines.size()), range_lines);

  // Started again once finished: the same result, without a second run.
  e2e::write_file(dir.file("factors.txt"), "");
  const Result again = run_task(dir, {pmin, pmax});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(e2e::read_file(dir.file("factors.txt")), result);
  EXPECT_EQ(again.out.find("Testing"), std::string::npos) << again.out;

  // Another range in the same slot starts afresh; the result holds only its
  // own lines.
  const Result other = run_task(dir, {"1008500000", "1008540000"});
  ASSERT_EQ(other.status, 0);
  const std::string other_result = e2e::read_file(dir.file("factors.txt"));
  EXPECT_EQ(other_result,
            plain_lines(vex, "1008500000", "1008540000") + "done 1008500000 1008540000\n");
}

// Killed at random moments (after some save points, so that lines before
// and after one are repeated on resumption) and started again each time.
TEST(BoincStandalone, KilledAndRestartedUploadsEachLineOnce) {
  const std::string vex = e2e::standard_vex(3000000);
  const std::string pmin = "1000000000", pmax = "1030000000";
  TempDir whole;
  e2e::write_file(whole.file("Vex.dat"), vex);
  ASSERT_EQ(run_task(whole, {pmin, pmax}).status, 0);
  const std::string expected = e2e::read_file(whole.file("factors.txt"));
  ASSERT_GT(e2e::count(expected, "\n"), 100u);

  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), vex);
  int kills = 0;
  // The status file's "pmin=" lines: the range's start, then one per save
  // point (every 10^7 p); each task is killed after one more.
  for (size_t lines = 2; lines <= 3; ++lines) {
    // The client puts --nthreads after the workunit's own command line.
    const pid_t pid = start_task(dir, {pmin, pmax, "--nthreads", "2"});
    e2e::wait_for_save_points(dir, lines);
    kill(pid, SIGKILL);
    const Result r = testfiles::finish_program(pid, dir.file(".out"), dir.file(".err"));
    if (r.status == 0) break;  // finished before the kill
    ++kills;
  }
  const Result last = run_task(dir, {"-t", "2", pmin, pmax});
  ASSERT_EQ(last.status, 0) << e2e::read_file(dir.file("stderr.txt"));
  EXPECT_EQ(e2e::read_file(dir.file("factors.txt")), expected);
  EXPECT_GT(kills, 0);
  // The working files hold repeats; the result none.
  const std::vector<std::string> lines = e2e::lines(e2e::read_file(dir.file("factors.txt")));
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
}

TEST(BoincStandalone, FailuresEndWithAMessage) {
  struct Case {
    const char* name;
    const char* vex;  // nullptr: no Vex.dat
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"no candidate file", nullptr, {"1000000000", "1000100000"}, "Vex.dat"},
      {"malformed candidate file", "12\n0\n100\nk=4847\n15\n+24x\n", {"1000000000", "1000100000"},
       "Error in Vex.dat, line 6"},
      {"one value", "", {"1000000000"}, "usage: brindle_boinc"},
      {"range too low", "", {"1000", "2000"}, "10^9 <= p_min < p_max <= 2^62"},
      {"range above 2^62", "", {"1000000000", "4611686018427387905"}, "10^9 <= p_min < p_max <= 2^62"},
      {"threads not a number", "", {"--nthreads", "x", "1000000000", "1000100000"}, "thread count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.vex != nullptr) e2e::write_file(dir.file("Vex.dat"), c.vex);
    const Result r = run_task(dir, c.args);
    EXPECT_NE(r.status, 0);
    const std::string err = e2e::read_file(dir.file("stderr.txt"));
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(e2e::exists(dir.file("factors.txt")));
  }
}

}  // namespace
