// The status file "VexStatus.dat" through the binary: every state of the
// table (absent, in progress, finished) with and without a range on the
// command line, -f, the clear question (whole lines) and the range questions
// with their answers piped in, malformed lines and odd bytes, answers that
// must end the run, and new ranges refused before the file is touched.
// Runs without a Vex.dat stop right after "Initializing... " (the candidate
// file is missing), which is enough to see how the range was settled; runs
// that must show the resumed range use a small Vex.dat.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;
using namespace std::string_literals;

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
      {"answer 0 is refused before it is written", nullptr, {}, "0\n2\n", 1, kFrom + kTo + kSorry,
       nullptr},
      {"a refused range is resumed", "pmax=2000000000\npmin=0\n", {}, "", 1, kUnfinished + kSorry,
       "pmax=2000000000\npmin=0\n"},
      {"Sieve to again until above", nullptr, {}, "2\n1\n2\n3\n", 1,
       kFrom + kTo + kTo + kTo + kInit, "pmax=3000000000\npmin=2000000000\n"},
      {"largest answer that fits", nullptr, {}, "1\n18446744073\n", 1,
       kFrom + kTo + "This program only supports p up to 4611686018427387904\n" + kInit,
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
      // Every other line asks again; then the input ends.
      {"neither y nor n", kInProgress, kRange, "abc\n", 1, kQ + kQ + kEof, kInProgress},
      {"declined, then the range questions are not asked", kFinished, {}, "x\nn\n1 2", 1,
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

// The clear question takes whole lines: only y or yes clears the file, only
// n or no ends the run; any other line (a word that starts with y or n, odd
// bytes) asks again, so an in-progress file survives it.
std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(StatusFile, ClearQuestionReadsWholeLines) {
  const std::string q2 = kQ + kQ;
  const Case cases[] = {
      {"maybe", kInProgress, kRange, "maybe\n", 1, q2 + kEof, kInProgress},
      {"okay", kInProgress, kRange, "okay\n", 1, q2 + kEof, kInProgress},
      {"sorry, no", kInProgress, kRange, "sorry, no\n", 1, q2 + kEof, kInProgress},
      {"yesterday", kInProgress, kRange, "yesterday\n", 1, q2 + kEof, kInProgress},
      {"odd bytes", kInProgress, kRange, "\x01y\0\xffn\n"s, 1, q2 + kEof,
       kInProgress},
      {"maybe, then no", kInProgress, kRange, "maybe\nno\n", 1, q2 + "Exiting.\n", kInProgress},
      {"maybe, then yes", kInProgress, kRange, "maybe\nyes\n", 1, q2 + kInit, kNew},
      {" YES with blanks and CR", kInProgress, kRange, " YES \r\n", 1, kQ + kInit, kNew},
      {"No with CR", kInProgress, kRange, "No\r\n", 1, kQ + "Exiting.\n", kInProgress},
      {"yes, then the range questions", kFinished, {}, "yes\n1\n2\n", 1,
       kCompleted + kQ + kFrom + kTo + kInit, kNew},
      // Input that never answers (an endless line, or no end of wrong
      // answers) ends the run instead of holding it forever.
      {"an endless line", kInProgress, kRange, std::string(5000, 'x') + "\n", 1,
       kQ + "\nNo answer: the line is too long. Exiting.\n", kInProgress},
      {"a hundred wrong answers", kInProgress, kRange, repeat("maybe\n", 150), 1,
       repeat(kQ, 100) + "\nNo answer after 100 questions. Exiting.\n", kInProgress},
      {"an endless word at the range question", kFinished, {}, "yes\n" + std::string(100, '7'), 1,
       kCompleted + kQ + kFrom + "Not a number: " + std::string(64, '7') + "... Exiting.\n",
       kFinished},
  };
  for (const Case& c : cases) check(c);
}

// A new range is checked before the status file is cleared or written:
// from the command line (with or without -f) and from the questions. A
// finished file stays until the new range is settled.
TEST(StatusFile, NewRangeCheckedBeforeClearing) {
  const std::string limit = "This program only supports p up to 4611686018427387904\n";
  const Case cases[] = {
      {"-f, pmax below pmin", kInProgress, {"-f", "2000000000", "1000000000"}, "", 1,
       "pmax <= pmin\n", kInProgress},
      {"pmax below pmin, not asked", kInProgress, {"2000000000", "1000000000"}, "y\n", 1,
       "pmax <= pmin\n", kInProgress},
      {"-f, pmin too small", kInProgress, {"-f", "999999999", "2000000000"}, "", 1, kSorry,
       kInProgress},
      {"-f, finished file", kFinished, {"-f", "1500000000"}, "", 1, "pmax <= pmin\n", kFinished},
      {"-f, both above 2^62", kInProgress, {"-f", "5000000000000000000", "6000000000000000000"}, "", 1,
       limit + "pmax <= pmin\n", kInProgress},
      {"answers 0 then 1", nullptr, {}, "0\n1\n", 1, kFrom + kTo + kSorry, nullptr},
      {"finished, yes, answers 0 then 1", kFinished, {}, "y\n0\n1\n", 1,
       kCompleted + kQ + kFrom + kTo + kSorry, kFinished},
      {"finished, -f, answers above 2^62", kFinished, {"-f"}, "5000000000\n6000000000\n", 1,
       kCompleted + kFrom + kTo + limit + "pmax <= pmin\n", kFinished},
      {"finished, yes, then input ends", kFinished, {}, "y\n", 1,
       kCompleted + kQ + kFrom + kEof, kFinished},
      {"finished, yes, not a number", kFinished, {}, "y\nx\n", 1,
       kCompleted + kQ + kFrom + "Not a number: x. Exiting.\n", kFinished},
      // An accepted range above 2^62 is written as given; the line about it
      // comes after the questions, as before.
      {"finished, yes, pmax above 2^62", kFinished, {}, "y\n1\n5000000000\n", 1,
       kCompleted + kQ + kFrom + kTo + limit + kInit,
       "pmax=5000000000000000000\npmin=1000000000\n"},
  };
  for (const Case& c : cases) check(c);
}

// Status files with NUL and other odd bytes, and one with a line far longer
// than the memory the run may use: read in constant memory to the end, so
// the save points after that line still count.
TEST(StatusFile, OddBytesAndEndlessLines) {
  for (const std::string& text : {"pmax=3000000000\n\0\0\n\0pmin=1\npmin=2000000000\0x\n\xff\n"s,
                                  "pmax=3000000000\npmin=2000000000\nDone\0\n"s}) {
    TempDir dir;
    e2e::write_file(dir.file("VexStatus.dat"), text);
    const Result r = e2e::run(dir, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(std::string(e2e::kUsage).size(), kUnfinished.size() + kInit.size()),
              kUnfinished + kInit)
        << r.out;
    EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), text);
  }

  // 64 MiB in one line, with the run's address space limited to 48 MiB
  // (not in a sanitizer build, whose shadow memory alone is far larger).
  TempDir dir;
  std::string text = "pmax=3000000000\npmin=2000000000";
  text.append(64u << 20, 'x');
  text += "\npmin=2000000011\n";
  e2e::write_file(dir.file("VexStatus.dat"), text);
  const pid_t pid = e2e::start(dir, {}, "", [] {
    const rlimit limit{48u << 20, 48u << 20};
    if (!e2e::kAddressSanitizer) setrlimit(RLIMIT_AS, &limit);
  });
  const Result r = e2e::finish(dir, pid);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out.substr(std::string(e2e::kUsage).size(), kUnfinished.size() + kInit.size()),
            kUnfinished + kInit)
      << r.out;
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")).size(), text.size());
}

}  // namespace
