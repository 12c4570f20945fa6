// The command line through the binary: the usage text, switches (grouped or
// not) and unknown ones, the range checks with their messages and exit
// statuses, -i as the last argument, values that are not whole numbers,
// negative or overflow 64 bits, and what each case leaves in
// "VexStatus.dat": a refused command line or range leaves it as it was. No
// Vex.dat is present, so an accepted range stops right after
// "Initializing... ".
#include <gtest/gtest.h>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kInit = "Not using cmov instructions\nInitializing... ";
const std::string kLimit = "This program only supports p up to 4611686018427387904\n";
const std::string kSorry = "Sorry, pmin has to be at least 10^9 (1G) for this program to work.\n";

struct Case {
  std::vector<std::string> args;
  std::string printed;  // console after the usage text; a prefix when it holds kInit
  const char* status_file;  // nullptr: none written
};

TEST(CommandLine, ChecksAndMessages) {
  const Case cases[] = {
      {{"2000000000", "1000000000"}, "pmax <= pmin\n", nullptr},
      {{"1000000000", "1000000000"}, "pmax <= pmin\n", nullptr},
      {{"999999999", "2000000000"}, kSorry, nullptr},
      {{"1000000000", "2000000000"}, kInit, "pmax=2000000000\npmin=1000000000\n"},
      // The status file keeps the value given; the run goes on with 2^62.
      {{"1000000000", "4611686018427387905"}, kLimit + kInit,
       "pmax=4611686018427387905\npmin=1000000000\n"},
      {{"1000000000", "4611686018427387904"}, kInit, "pmax=4611686018427387904\npmin=1000000000\n"},
      // Both values above 2^62: lowered, then refused.
      {{"5000000000000000000", "6000000000000000000"}, kLimit + "pmax <= pmin\n", nullptr},
      // A single value leaves pmax at 0.
      {{"1500000000"}, "pmax <= pmin\n", nullptr},
      // Overlong values saturate at 2^64-1 instead of wrapping around.
      {{"1000000000", "99999999999999999999999"}, kLimit + kInit,
       "pmax=18446744073709551615\npmin=1000000000\n"},
      {{"99999999999999999999999", "2000000000"}, "pmax <= pmin\n", nullptr},
      {{"36893488147419103232", "2000000000"}, "pmax <= pmin\n", nullptr},  // 2^65 wraps to 0
      // Grouped switches.
      {{"-dv", "1000000000", "2000000000"}, kInit + "\n", "pmax=2000000000\npmin=1000000000\n"},
      // Refused before the status file is touched.
      {{"1000000000", "2000000000", "-i"}, "-i needs a save interval after it\n", nullptr},
      {{"-i", "x", "1000000000", "2000000000"}, "not a number for -i: x\n", nullptr},
      {{"-i", "2e4", "1000000000", "2000000000"}, "not a number for -i: 2e4\n", nullptr},
      {{"1000000000", "two"}, "not a number: two\n", nullptr},
      {{""}, "not a number: \n", nullptr},
      {{"1e9", "2e9"}, "not a number: 1e9\n", nullptr},
      {{"1000000000", "2000000000x"}, "not a number: 2000000000x\n", nullptr},
      {{"1000000000", "5", "2000000000"},
       "too many values: 2000000000 (only p_min and p_max are taken)\n", nullptr},
      {{"-1000000000", "2000000000"}, "negative number not allowed: -1000000000\n", nullptr},
      {{"-x", "1000000000", "2000000000"}, "unknown switch: x\n", nullptr},
      {{"-fz", "1000000000", "2000000000"}, "unknown switch: z in -fz\n", nullptr},
      {{"-", "1000000000", "2000000000"}, "switch letter missing: -\n", nullptr},
      {{"-iv", "20000", "1000000000", "2000000000"},
       "-i takes a value, so it must end its switch group: -iv\n", nullptr},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " [" + a + "]";
    TempDir dir;
    const Result r = e2e::run(dir, c.args);
    EXPECT_EQ(r.status, 1) << joined;
    ASSERT_EQ(r.out.compare(0, std::string(e2e::kUsage).size(), e2e::kUsage), 0) << joined;
    const std::string rest = r.out.substr(std::string(e2e::kUsage).size());
    if (c.printed.find(kInit) != std::string::npos) {
      EXPECT_EQ(rest.substr(0, c.printed.size()), c.printed) << joined;
    } else {
      EXPECT_EQ(rest, c.printed) << joined;
    }
    if (c.status_file) {
      EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), c.status_file) << joined;
    } else {
      EXPECT_FALSE(e2e::exists(dir.file("VexStatus.dat"))) << joined;
    }
  }
}

// The usage text is the very first output, byte for byte, on every run.
TEST(CommandLine, UsageTextFirst) {
  TempDir dir;
  const Result r = e2e::run(dir, {"-i"});
  EXPECT_EQ(r.out, std::string(e2e::kUsage) + "-i needs a save interval after it\n");
  EXPECT_EQ(r.status, 1);
}

// "-fu" is -f and -u: the range in progress is overwritten without asking,
// and Vex.dat is rewritten at the end.
TEST(CommandLine, GroupedSwitchesTakeEffect) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(1000));
  e2e::write_file(dir.file("VexStatus.dat"), "pmax=3000000000\npmin=2000000000\n");
  const Result r = e2e::run(dir, {"-fu", "1000000000", "1000001000"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("unknown switch"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Do you wish"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nDone\nSaving Vex.dat...\n Done.\n"), std::string::npos) << r.out;
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), "pmax=1000001000\npmin=1000000000\nDone\n");
}

}  // namespace
