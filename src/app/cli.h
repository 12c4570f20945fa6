// Command line: usage text, number parsing, switch grammar and the one way a
// run is refused (a message line on standard output and exit status 1).
#pragma once
#include <cstdint>
#include <string>

// Default width of the p range between two save points.
constexpr uint64_t kDefaultSaveInterval = 10000000;

// Prints the usage text on standard output.
void print_usage();

// The leading unsigned decimal integer of text after white space; whatever
// follows the digits is ignored ("1e9" gives 1). Text without digits there
// gives 0; a value above 2^64-1 saturates to 2^64-1, so an overlong p never
// wraps around into a small one.
uint64_t toint(const std::string& text);

// True when text, after white space, begins with a decimal digit.
bool starts_with_digit(const std::string& text);

// Prints message and a newline on standard output and returns exit status 1.
int refuse(const std::string& message);

// What the command line asks for.
struct run_settings {
  uint64_t pmin = 0;
  uint64_t pmax = 0;
  uint64_t save_interval = kDefaultSaveInterval;
  bool force = false;        // -f: overwrite VexStatus.dat without asking
  bool update = false;       // -u: rewrite Vex.dat at the end
  bool range_given = false;  // a first positional value was seen
};

// Reads argv[1..argc-1] left to right into s and into the globals verbose and
// outputdupes. Unknown switches are reported and skipped. Returns 0, or the
// exit status of a refusal (already printed): "-i" without a value after it,
// or a value (p or interval) that does not begin with a digit.
int parse_command_line(int argc, const char* const* argv, run_settings& s);
