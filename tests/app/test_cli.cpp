// Command-line pieces in process: toint (saturation, text without digits)
// against an independent __int128 parser, and the switch grammar as a table.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/cli.h"
#include "db/settings.h"

namespace {

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
  const char* printed;  // standard output of the parse
};

TEST(ParseCommandLine, Table) {
  const uint64_t d = kDefaultSaveInterval;
  const uint64_t max = ~0ULL;
  const ParseCase cases[] = {
      {{}, 0, 0, 0, d, false, false, false, 0, true, ""},
      {{"-d", "-f", "-u"}, 0, 0, 0, d, true, true, false, 0, false, ""},
      {{"-vv"}, 0, 0, 0, d, false, false, false, 2, true, ""},
      {{"-v", "-vv"}, 0, 0, 0, d, false, false, false, 2, true, ""},
      {{"-vv", "-v"}, 0, 0, 0, d, false, false, false, 1, true, ""},
      // Switches are whole words: -dv is one unknown switch, a lone - another.
      {{"-dv", "-", "-x"}, 0, 0, 0, d, false, false, false, 0, true,
       "unknown switch: dv\nunknown switch: \nunknown switch: x\n"},
      {{"-i", "0", "1000000000", "2000000000"}, 0, 1000000000, 2000000000, 0, false, false, true,
       0, true, ""},
      {{"1", "2", "3"}, 0, 1, 3, d, false, false, true, 0, true, ""},
      {{"1000000001"}, 0, 1000000001, 0, d, false, false, true, 0, true, ""},
      {{"1e9", "2e9"}, 0, 1, 2, d, false, false, true, 0, true, ""},
      {{"1000000000", "99999999999999999999999"}, 0, 1000000000, max, d, false, false, true, 0,
       true, ""},
      // Refusals: never read past the argument list, never take a non-number.
      {{"1000000000", "2000000000", "-i"}, 1, 1000000000, 2000000000, d, false, false, true, 0,
       true, "-i needs a save interval after it\n"},
      {{"-i", "-v"}, 1, 0, 0, d, false, false, false, 0, true, "not a number for -i: -v\n"},
      {{"1000000000", "two"}, 1, 1000000000, 0, d, false, false, true, 0, true,
       "not a number: two\n"},
  };
  for (const ParseCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " [" + a + "]";
    verbose = 0;
    outputdupes = true;
    std::vector<const char*> argv{"brindle"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    run_settings s;
    testing::internal::CaptureStdout();
    const int status = parse_command_line(static_cast<int>(argv.size()), argv.data(), s);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << joined;
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

}  // namespace
