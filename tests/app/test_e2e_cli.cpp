// The command line through the binary: the usage text, unknown switches, the
// range checks with their messages and exit statuses, -i as the last
// argument, values that are not numbers or overflow 64 bits, and what each
// case leaves in "VexStatus.dat" (the range is written before it is checked).
// No Vex.dat is present, so an accepted range stops right after
// "Initializing... ".
#include <gtest/gtest.h>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kInit = "Not using cmov instructions\nInitializing... ";
const std::string kLimit = "This program only supports p up to 1125899906842624\n";
const std::string kSorry = "Sorry, pmin has to be at least 10^9 (1G) for this program to work.\n";

struct Case {
  std::vector<std::string> args;
  std::string printed;  // console after the usage text; a prefix when it ends at kInit
  const char* status_file;  // nullptr: none written
};

TEST(CommandLine, ChecksAndMessages) {
  const Case cases[] = {
      {{"2000000000", "1000000000"}, "pmax <= pmin\n", "pmax=1000000000\npmin=2000000000\n"},
      {{"1000000000", "1000000000"}, "pmax <= pmin\n", "pmax=1000000000\npmin=1000000000\n"},
      {{"999999999", "2000000000"}, kSorry, "pmax=2000000000\npmin=999999999\n"},
      {{"1000000000", "2000000000"}, kInit, "pmax=2000000000\npmin=1000000000\n"},
      // The status file keeps the value given; the run goes on with 2^50.
      {{"1000000000", "1125899906842625"}, kLimit + kInit,
       "pmax=1125899906842625\npmin=1000000000\n"},
      {{"1000000000", "1125899906842624"}, kInit, "pmax=1125899906842624\npmin=1000000000\n"},
      // A single value leaves pmax at 0.
      {{"1500000000"}, "pmax <= pmin\n", "pmax=0\npmin=1500000000\n"},
      // Three values: the third is pmax.
      {{"1000000000", "5", "2000000000"}, kInit, "pmax=2000000000\npmin=1000000000\n"},
      // Unknown switches are reported and skipped; the run goes on.
      {{"-x", "-", "-dv", "2000000000", "1000000000"},
       "unknown switch: x\nunknown switch: \nunknown switch: dv\npmax <= pmin\n",
       "pmax=1000000000\npmin=2000000000\n"},
      // toint reads the leading digits only: 1e9 is 1.
      {{"1e9", "2e9"}, kSorry, "pmax=2\npmin=1\n"},
      // Overlong values saturate at 2^64-1 instead of wrapping around.
      {{"1000000000", "99999999999999999999999"}, kLimit + kInit,
       "pmax=18446744073709551615\npmin=1000000000\n"},
      {{"99999999999999999999999", "2000000000"}, "pmax <= pmin\n",
       "pmax=2000000000\npmin=18446744073709551615\n"},
      {{"36893488147419103232", "2000000000"}, "pmax <= pmin\n",  // 2^65 would wrap to 0
       "pmax=2000000000\npmin=18446744073709551615\n"},
      // Refused before the status file is touched.
      {{"1000000000", "2000000000", "-i"}, "-i needs a save interval after it\n", nullptr},
      {{"-i", "x", "1000000000", "2000000000"}, "not a number for -i: x\n", nullptr},
      {{"1000000000", "two"}, "not a number: two\n", nullptr},
      {{""}, "not a number: \n", nullptr},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " [" + a + "]";
    TempDir dir;
    const Result r = e2e::run(dir, c.args);
    EXPECT_EQ(r.status, 1) << joined;
    ASSERT_EQ(r.out.compare(0, std::string(e2e::kUsage).size(), e2e::kUsage), 0) << joined;
    const std::string rest = r.out.substr(std::string(e2e::kUsage).size());
    if (c.printed.size() >= kInit.size() &&
        c.printed.compare(c.printed.size() - kInit.size(), kInit.size(), kInit) == 0) {
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

}  // namespace
