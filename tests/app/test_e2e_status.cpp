// The status file "VexStatus.dat" through the binary: every state of the
// table (absent, in progress, finished) with and without a range on the
// command line, -f, the clear question and the range questions with their
// answers piped in, malformed lines, and answers that must end the run.
// Runs without a Vex.dat stop right after "Initializing... " (the candidate
// file is missing), which is enough to see how the range was settled; runs
// that must show the resumed range use a small Vex.dat.
#include <gtest/gtest.h>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kQ = "Do you wish to clear VexStatus.dat and begin a new range? [y/n] : ";
const std::string kFrom = "Sieve from (in billions) : ";
const std::string kTo = "Sieve to (in billions) : ";
const std::string kInit = "Not using cmov instructions\nInitializing... ";
const std::string kUnfinished =
    "Found VexStatus.dat with unfinished work. Continuing from last save point.\n";
const std::string kCompleted = "Found VexStatus.dat with completed work.\n";
const std::string kEof = "\nNo answer: standard input has ended. Exiting.\n";
const std::string kSorry = "Sorry, pmin has to be at least 10^9 (1G) for this program to work.\n";

const char* const kNew = "pmax=2000000000\npmin=1000000000\n";  // for the range kRange
const std::vector<std::string> kRange = {"1000000000", "2000000000"};
const char* const kInProgress = "pmax=3000000000\npmin=2000000000\npmin=2000000011\n";
const char* const kFinished = "pmax=3000000000\npmin=2000000000\npmin=2000000011\nDone\n";

struct Case {
  const char* what;
  const char* before;  // status file before the run, nullptr: absent
  std::vector<std::string> args;
  std::string input;
  int status;
  std::string printed;  // console after the usage text; a prefix when it ends at kInit
  const char* after;    // status file after the run, nullptr: absent
};

void check(const Case& c) {
  TempDir dir;
  if (c.before) e2e::write_file(dir.file("VexStatus.dat"), c.before);
  const Result r = e2e::run(dir, c.args, c.input);
  EXPECT_EQ(r.status, c.status) << c.what;
  ASSERT_EQ(r.out.compare(0, std::string(e2e::kUsage).size(), e2e::kUsage), 0) << c.what;
  const std::string rest = r.out.substr(std::string(e2e::kUsage).size());
  const bool prefix = c.printed.size() >= kInit.size() &&
                      c.printed.compare(c.printed.size() - kInit.size(), kInit.size(), kInit) == 0;
  if (prefix) {
    EXPECT_EQ(rest.substr(0, c.printed.size()), c.printed) << c.what;
  } else {
    EXPECT_EQ(rest, c.printed) << c.what;
  }
  if (c.after) {
    EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), c.after) << c.what;
  } else {
    EXPECT_FALSE(e2e::exists(dir.file("VexStatus.dat"))) << c.what;
  }
  EXPECT_EQ(r.err, "") << c.what;
}

TEST(StatusFile, StateTable) {
  const Case cases[] = {
      {"absent, range given", nullptr, kRange, "", 1, kInit, kNew},
      {"absent, range asked", nullptr, {}, "1\n2\n", 1, kFrom + kTo + kInit, kNew},
      {"absent, both answers on one line", nullptr, {}, "1 2", 1, kFrom + kTo + kInit, kNew},
      {"in progress, range given, yes", kInProgress, kRange, "y\n", 1, kQ + kInit, kNew},
      {"in progress, range given, Y", kInProgress, kRange, "Y", 1, kQ + kInit, kNew},
      {"in progress, range given, no", kInProgress, kRange, "n\n", 1, kQ + "Exiting.\n",
       kInProgress},
      {"in progress, range given, N", kInProgress, kRange, "N", 1, kQ + "Exiting.\n", kInProgress},
      {"in progress, range given, -f", kInProgress, {"-f", "1000000000", "2000000000"}, "", 1,
       kInit, kNew},
      {"finished, range given, yes", kFinished, kRange, "y", 1, kQ + kInit, kNew},
      {"in progress, resumed", kInProgress, {}, "", 1, kUnfinished + kInit, kInProgress},
      {"finished, no range, no", kFinished, {}, "n", 1, kCompleted + kQ + "Exiting.\n", kFinished},
      {"finished, no range, yes", kFinished, {}, "y\n1\n2\n", 1,
       kCompleted + kQ + kFrom + kTo + kInit, kNew},
      {"finished, no range, -f", kFinished, {"-f"}, "1\n2\n", 1, kCompleted + kFrom + kTo + kInit,
       kNew},
      {"lines after Done are not read", "pmax=3000000000\nDone\npmin=2000000000\n", {}, "n", 1,
       kCompleted + kQ + "Exiting.\n", "pmax=3000000000\nDone\npmin=2000000000\n"},
      {"Done with a carriage return is no end marker",
       "pmax=3000000000\npmin=2000000000\nDone\r\n", {}, "", 1, kUnfinished + kInit,
       "pmax=3000000000\npmin=2000000000\nDone\r\n"},
      {"Done with a blank is no end marker", "pmax=3000000000\npmin=2000000000\nDone \n", {}, "",
       1, kUnfinished + kInit, "pmax=3000000000\npmin=2000000000\nDone \n"},
      {"any fifth character", "pmax=2000000000\npmin#123\n", {}, "", 1, kUnfinished + kSorry,
       "pmax=2000000000\npmin#123\n"},
      // Lines without a value are ignored: had "pmin=" counted as 0 the run would
      // stop at the pmin check, had "pmax" counted as 0 at "pmax <= pmin".
      {"malformed lines ignored",
       "pmax=3000000000\npmin=2000000000\npmin\npmin=\npmin=x\npmax\npmaxX\npm\npmax= \n", {}, "",
       1, kUnfinished + kInit,
       "pmax=3000000000\npmin=2000000000\npmin\npmin=\npmin=x\npmax\npmaxX\npm\npmax= \n"},
      {"last save point equals pmax", "pmax=3000000000\npmin=2000000000\npmin=3000000000\n", {},
       "", 1, "pmax <= pmin\n", "pmax=3000000000\npmin=2000000000\npmin=3000000000\n"},
      {"empty file", "", {}, "", 1, "pmax <= pmin\n", ""},
      {"no last newline", "pmax=3000000000\npmin=2000000000", {}, "", 1, kUnfinished + kInit,
       "pmax=3000000000\npmin=2000000000"},
      {"answer 0 is written, then refused", nullptr, {}, "0\n2\n", 1, kFrom + kTo + kSorry,
       "pmax=2000000000\npmin=0\n"},
      {"a refused range is resumed", "pmax=2000000000\npmin=0\n", {}, "", 1, kUnfinished + kSorry,
       "pmax=2000000000\npmin=0\n"},
      {"Sieve to again until above", nullptr, {}, "2\n1\n2\n3\n", 1,
       kFrom + kTo + kTo + kTo + kInit, "pmax=3000000000\npmin=2000000000\n"},
      {"largest answer that fits", nullptr, {}, "1\n18446744073\n", 1,
       kFrom + kTo + "This program only supports p up to 1125899906842624\n" + kInit,
       "pmax=18446744073000000000\npmin=1000000000\n"},
  };
  for (const Case& c : cases) check(c);
}

// Answers that cannot be used end the run with a message and exit status 1,
// never a loop; nothing is written to the status file.
TEST(StatusFile, UnusableAnswers) {
  const Case cases[] = {
      {"not a number at Sieve from", nullptr, {}, "abc\n", 1,
       kFrom + "Not a number: abc. Exiting.\n", nullptr},
      {"not a number at Sieve to", nullptr, {}, "1\n2x\n", 1,
       kFrom + kTo + "Not a number: 2x. Exiting.\n", nullptr},
      {"negative answer", nullptr, {}, "-1\n", 1, kFrom + "Not a number: -1. Exiting.\n", nullptr},
      {"end of input at Sieve from", nullptr, {}, "", 1, kFrom + kEof, nullptr},
      {"end of input at Sieve to", nullptr, {}, "1\n", 1, kFrom + kTo + kEof, nullptr},
      {"end of input while Sieve to is not above", nullptr, {}, "3\n2\n", 1,
       kFrom + kTo + kTo + kEof, nullptr},
      {"too large for 64 bits", nullptr, {}, "18446744074\n", 1,
       kFrom + "Too large: 18446744074 billion does not fit in 64 bits. Exiting.\n", nullptr},
      {"end of input at the clear question", kFinished, {}, "", 1, kCompleted + kQ + kEof,
       kFinished},
      // Every other character asks again; then the input ends.
      {"neither y nor n", kInProgress, kRange, "abc\n", 1, kQ + kQ + kQ + kQ + kEof, kInProgress},
      {"declined, then the range questions are not asked", kFinished, {}, "x n 1 2", 1,
       kCompleted + kQ + kQ + "Exiting.\n", kFinished},
  };
  for (const Case& c : cases) check(c);
}

// Resumed runs over a small candidate file: the "Testing " line shows the
// range taken from the file, and a finished run adds only "Done".
TEST(StatusFile, ResumesFromLastSavePoint) {
  struct Resume {
    const char* what;
    std::string before;
    const char* testing;
  };
  const Resume cases[] = {
      {"several save points, the last counts",
       "pmax=1000002000\npmin=1000000000\npmin=1000000500\npmin=1000001001\n",
       "Testing 1000001000 <= p <= 1000002000, 0 <= n <= 1000\n"},
      {"Done with a carriage return", "pmax=1000002000\npmin=1000001001\nDone\r\n",
       "Testing 1000001000 <= p <= 1000002000, 0 <= n <= 1000\n"},
      {"malformed lines in between", "pmax=1000002000\npmin=1000001001\npmin\npmax=\npmin=z\n",
       "Testing 1000001000 <= p <= 1000002000, 0 <= n <= 1000\n"},
  };
  for (const Resume& c : cases) {
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(1000));
    e2e::write_file(dir.file("VexStatus.dat"), c.before);
    const Result r = e2e::run(dir, {});
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(kUnfinished + kInit), std::string::npos) << c.what;
    EXPECT_NE(r.out.find(c.testing), std::string::npos) << c.what << "\n" << r.out;
    EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), c.before + "Done\n") << c.what;
  }
}

}  // namespace
