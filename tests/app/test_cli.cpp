// Command-line pieces in process: toint (saturation, text without digits)
// against an independent __int128 parser, the switch grammar as a table, and
// the range checks with the lines they print.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/cli.h"
#include "db/settings.h"

namespace {

// Runs parse_command_line on "brindle" followed by args, capturing what it
// prints.
int parse(const std::vector<std::string>& args, run_settings& s, std::string& printed) {
  std::vector<const char*> argv{"brindle"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  const int status = parse_command_line(static_cast<int>(argv.size()), argv.data(), s);
  printed = testing::internal::GetCapturedStdout();
  return status;
}

// Reference: the digits after white space, saturated at 2^64-1.
uint64_t reference_toint(const std::string& text) {
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  unsigned __int128 v = 0;
  const unsigned __int128 max = ~0ULL;
  for (; i != std::string::npos && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
    if (v > max) v = max;
  }
  return static_cast<uint64_t>(v);
}

TEST(Toint, Cases) {
  struct Case {
    const char* text;
    uint64_t value;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},            // no digits: 0, which the range checks refuse
      {"-5", 0},
      {"+5", 0},
      {"  \t42x", 42},
      {"1e9", 1},
      {"2000000000z", 2000000000},
      {"000123", 123},
      {"18446744073709551615", 18446744073709551615ULL},
      {"18446744073709551616", 18446744073709551615ULL},      // one above: saturates
      {"99999999999999999999999", 18446744073709551615ULL},   // never wraps around
      {"36893488147419103232", 18446744073709551615ULL},      // 2^65 would wrap to 0
  };
  for (const Case& c : cases) EXPECT_EQ(toint(c.text), c.value) << '"' << c.text << '"';
}

TEST(Toint, RandomAgainstInt128) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % 3, ' ');
    const int digits = 1 + static_cast<int>(rng() % 24);
    for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) text += "x9";
    ASSERT_EQ(toint(text), reference_toint(text)) << text;
  }
}

struct ParseCase {
  std::vector<std::string> args;
  int status;
  uint64_t pmin, pmax, interval;
  bool force, update, range_given;
  int verbose;
  bool outputdupes;
  std::string printed;  // standard output of the parse
};

TEST(ParseCommandLine, Table) {
  const uint64_t d = kDefaultSaveInterval;
  const uint64_t max = ~0ULL;
  const std::string raised = "Save interval raised to 10000, the smallest allowed\n";
  const ParseCase cases[] = {
      {{}, 0, 0, 0, d, false, false, false, 0, true, ""},
      {{"-d", "-f", "-u"}, 0, 0, 0, d, true, true, false, 0, false, ""},
      {{"-vv"}, 0, 0, 0, d, false, false, false, 2, true, ""},
      {{"-v", "-vv"}, 0, 0, 0, d, false, false, false, 2, true, ""},
      {{"-vv", "-v"}, 0, 0, 0, d, false, false, false, 1, true, ""},
      // Grouped switches: each letter counts as its own switch.
      {{"-fu", "1000000000", "1000001000"}, 0, 1000000000, 1000001000, d, true, true, true, 0,
       true, ""},
      {{"-dv"}, 0, 0, 0, d, false, false, false, 1, false, ""},
      {{"-vvd"}, 0, 0, 0, d, false, false, false, 2, false, ""},
      {{"-vdv"}, 0, 0, 0, d, false, false, false, 2, false, ""},
      {{"-vvv"}, 0, 0, 0, d, false, false, false, 2, true, ""},
      {{"-vv", "-dv"}, 0, 0, 0, d, false, false, false, 1, false, ""},
      {{"-fdi", "20000", "-u"}, 0, 0, 0, 20000, true, true, false, 0, false, ""},
      {{"-i", "50000", "1000000000", "2000000000"}, 0, 1000000000, 2000000000, 50000, false, false,
       true, 0, true, ""},
      {{"1000000001"}, 0, 1000000001, 0, d, false, false, true, 0, true, ""},
      {{"0001000000000", "2000000000"}, 0, 1000000000, 2000000000, d, false, false, true, 0, true,
       ""},
      {{"1000000000", "99999999999999999999999"}, 0, 1000000000, max, d, false, false, true, 0,
       true, ""},
      // Save intervals below the smallest are raised to it, said once.
      {{"-i", "0", "1000000000", "2000000000"}, 0, 1000000000, 2000000000, 10000, false, false,
       true, 0, true, raised},
      {{"-i", "9999"}, 0, 0, 0, 10000, false, false, false, 0, true, raised},
      {{"-i", "1", "-i", "2"}, 0, 0, 0, 10000, false, false, false, 0, true, raised},
      {{"-i", "10000"}, 0, 0, 0, 10000, false, false, false, 0, true, ""},
      // Refusals: never read past the argument list, never take a non-number.
      {{"1000000000", "2000000000", "-i"}, 1, 1000000000, 2000000000, d, false, false, true, 0,
       true, "-i needs a save interval after it\n"},
      {{"-vi"}, 1, 0, 0, d, false, false, false, 0, true, "-i needs a save interval after it\n"},
      {{"-i", "-v"}, 1, 0, 0, d, false, false, false, 0, true, "not a number for -i: -v\n"},
      {{"-i", "20000x"}, 1, 0, 0, d, false, false, false, 0, true, "not a number for -i: 20000x\n"},
      {{"-i", "-5"}, 1, 0, 0, d, false, false, false, 0, true, "not a number for -i: -5\n"},
      {{"-iv", "20000"}, 1, 0, 0, d, false, false, false, 0, true,
       "-i takes a value, so it must end its switch group: -iv\n"},
      {{"1000000000", "two"}, 1, 1000000000, 0, d, false, false, true, 0, true,
       "not a number: two\n"},
      {{"1e9", "2e9"}, 1, 0, 0, d, false, false, false, 0, true, "not a number: 1e9\n"},
      {{"1000000000x"}, 1, 0, 0, d, false, false, false, 0, true, "not a number: 1000000000x\n"},
      {{" 1000000000"}, 1, 0, 0, d, false, false, false, 0, true, "not a number:  1000000000\n"},
      {{"+1000000000"}, 1, 0, 0, d, false, false, false, 0, true, "not a number: +1000000000\n"},
      {{""}, 1, 0, 0, d, false, false, false, 0, true, "not a number: \n"},
      {{"1", "2", "3"}, 1, 1, 2, d, false, false, true, 0, true,
       "too many values: 3 (only p_min and p_max are taken)\n"},
      {{"-1000000000", "2000000000"}, 1, 0, 0, d, false, false, false, 0, true,
       "negative number not allowed: -1000000000\n"},
      {{"1000000000", "-0"}, 1, 1000000000, 0, d, false, false, true, 0, true,
       "negative number not allowed: -0\n"},
      // Unknown letters are refused, named, before any later argument is read.
      {{"-x", "-v"}, 1, 0, 0, d, false, false, false, 0, true, "unknown switch: x\n"},
      {{"-fx", "-v"}, 1, 0, 0, d, true, false, false, 0, true, "unknown switch: x in -fx\n"},
      {{"-F"}, 1, 0, 0, d, false, false, false, 0, true, "unknown switch: F\n"},
      {{"--help"}, 1, 0, 0, d, false, false, false, 0, true, "unknown switch: - in --help\n"},
      {{"-"}, 1, 0, 0, d, false, false, false, 0, true, "switch letter missing: -\n"},
  };
  for (const ParseCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " [" + a + "]";
    verbose = 0;
    outputdupes = true;
    run_settings s;
    std::string printed;
    const int status = parse(c.args, s, printed);
    EXPECT_EQ(printed, c.printed) << joined;
    EXPECT_EQ(status, c.status) << joined;
    EXPECT_EQ(s.pmin, c.pmin) << joined;
    EXPECT_EQ(s.pmax, c.pmax) << joined;
    EXPECT_EQ(s.save_interval, c.interval) << joined;
    EXPECT_EQ(s.force, c.force) << joined;
    EXPECT_EQ(s.update, c.update) << joined;
    EXPECT_EQ(s.range_given, c.range_given) << joined;
    EXPECT_EQ(verbose, c.verbose) << joined;
    EXPECT_EQ(outputdupes, c.outputdupes) << joined;
  }
}

// check_range prints what a run prints about its range; check_new_range
// prints the same for a refused range and nothing for an accepted one.
// -p sets the seconds between progress reports (0: none); like -i it takes
// the next argument and ends its group.
TEST(ParseCommandLine, ProgressInterval) {
  struct Case {
    std::vector<std::string> args;
    int status;
    uint32_t interval;
    std::string printed;
  };
  const Case cases[] = {
      {{}, 0, kDefaultProgressInterval, ""},
      {{"-p", "0"}, 0, 0, ""},
      {{"-p", "5", "1000000000", "2000000000"}, 0, 5, ""},
      {{"-fp", "86400"}, 0, 86400, ""},
      {{"-p", "86401"}, 1, kDefaultProgressInterval, "-p is at most 86400 seconds: 86401\n"},
      {{"-p", "1m"}, 1, kDefaultProgressInterval, "not a number for -p: 1m\n"},
      {{"-p"}, 1, kDefaultProgressInterval, "-p needs the seconds between progress reports after it\n"},
      {{"-pf", "5"}, 1, kDefaultProgressInterval, "-p takes a value, so it must end its switch group: -pf\n"},
  };
  for (const Case& c : cases) {
    run_settings s;
    std::string printed;
    const int status = parse(c.args, s, printed);
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(s.progress_interval, c.interval);
    EXPECT_EQ(printed, c.printed);
  }
  outputdupes = true;
}

// -t sets the number of worker threads (0: one per online core, at most
// 1024); like -i it takes the next argument and ends its group.
TEST(ParseCommandLine, ThreadCount) {
  struct Case {
    std::vector<std::string> args;
    int status;
    uint32_t threads;
    std::string printed;
  };
  const Case cases[] = {
      {{}, 0, 1, ""},
      {{"-t", "0"}, 0, 0, ""},
      {{"-t", "2", "1000000000", "2000000000"}, 0, 2, ""},
      {{"-fut", "1024"}, 0, 1024, ""},
      {{"-t", "1025"}, 1, 1, "-t is at most 1024 threads: 1025\n"},
      {{"-t", "99999999999999999999999"}, 1, 1, "-t is at most 1024 threads: 99999999999999999999999\n"},
      {{"-t", "-2"}, 1, 1, "not a number for -t: -2\n"},
      {{"-t"}, 1, 1, "-t needs a thread count after it\n"},
      {{"-tf", "2"}, 1, 1, "-t takes a value, so it must end its switch group: -tf\n"},
  };
  for (const Case& c : cases) {
    run_settings s;
    std::string printed;
    const int status = parse(c.args, s, printed);
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(s.threads, c.threads);
    EXPECT_EQ(printed, c.printed);
  }
  outputdupes = true;
}

TEST(RangeChecks, Table) {
  const std::string limit = "This program only supports p up to 4611686018427387904\n";
  const std::string sorry = "Sorry, pmin has to be at least 10^9 (1G) for this program to work.\n";
  struct Case {
    uint64_t pmin, pmax;
    int status;
    uint64_t lowered;      // pmax after check_range
    std::string printed;   // by check_range
  };
  const uint64_t top = 4611686018427387904ULL;
  const Case cases[] = {
      {1000000000, 1000000001, 0, 1000000001, ""},
      {1000000000, top, 0, top, ""},
      {1000000000, top + 1, 0, top, limit},
      {1000000000, ~0ULL, 0, top, limit},
      {2000000000, 1000000000, 1, 1000000000, "pmax <= pmin\n"},
      {1000000000, 1000000000, 1, 1000000000, "pmax <= pmin\n"},
      {1500000000, 0, 1, 0, "pmax <= pmin\n"},
      {999999999, 2000000000, 1, 2000000000, sorry},
      {0, 1000000000, 1, 1000000000, sorry},
      {top, top + 1, 1, top, limit + "pmax <= pmin\n"},
      {5000000000000000000ULL, 6000000000000000000ULL, 1, top, limit + "pmax <= pmin\n"},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.pmin) + " " + std::to_string(c.pmax);
    uint64_t pmax = c.pmax;
    testing::internal::CaptureStdout();
    EXPECT_EQ(check_range(c.pmin, pmax), c.status) << what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << what;
    EXPECT_EQ(pmax, c.lowered) << what;

    testing::internal::CaptureStdout();
    EXPECT_EQ(check_new_range(c.pmin, c.pmax), c.status == 0) << what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.status == 0 ? "" : c.printed) << what;
  }
}

}  // namespace
