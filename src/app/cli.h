// Command line: usage text, number parsing, switch grammar, the range checks
// and the one way a run is refused (a message line on standard output and
// exit status 1).
#pragma once
#include <cstdint>
#include <string>

// Default width of the p range between two save points.
constexpr uint64_t kDefaultSaveInterval = 10000000;

// Smallest width between two save points; every save point puts the status
// file on disk (an fsync), so a smaller -i is raised to it.
constexpr uint64_t kMinSaveInterval = 10000;

// Default and largest seconds between two progress reports (-p; 0 turns
// them off).
constexpr uint32_t kDefaultProgressInterval = 60;
constexpr uint32_t kMaxProgressInterval = 86400;

// Largest thread count of -t.
constexpr uint32_t kMaxThreads = 1024;

// Prints the usage text on standard output.
void print_usage();

// The first line of the usage text, also printed by --version.
constexpr const char* kVersionLine = "brindle v" BRINDLE_VERSION;

// The leading unsigned decimal integer of text after white space; whatever
// follows the digits is ignored ("1e9" gives 1). Text without digits there
// gives 0; a value above 2^64-1 saturates to 2^64-1, so an overlong p never
// wraps around into a small one. The command line reads its values strictly
// (parse_decimal); this lenient reading is no longer used by the program.
uint64_t toint(const std::string& text);

// Prints message and a newline on standard output and returns exit status 1.
int refuse(const std::string& message);

// What the command line asks for, and how the range was settled.
struct run_settings {
  uint64_t pmin = 0;
  uint64_t pmax = 0;
  uint64_t save_interval = kDefaultSaveInterval;
  bool force = false;        // -f: overwrite VexStatus.dat without asking
  bool update = false;       // -u: rewrite Vex.dat at the end
  bool range_given = false;  // a first positional value was seen
  uint32_t progress_interval = kDefaultProgressInterval;  // -p: seconds, 0 = none
  uint32_t threads = 1;      // -t: worker threads, 0 = one per online core

  // Set when the range is settled against the status file:
  bool resumed = false;      // the run continues a range saved in VexStatus.dat
  uint64_t first_pmin = 0;   // that range's first "pmin=" value; for a new range, pmin
};

// Reads argv[1..argc-1] left to right into s and into the globals verbose and
// outputdupes. Switches may be grouped ("-fu" is "-f -u"); "i" takes the next
// argument as the save interval, "p" as the seconds between progress
// reports and "t" as the number of worker threads (at most kMaxThreads, 0
// for one per online core), so they may only end a group. In a group, one
// v sets verbose 1, two or more set 2. At most two positional values, p_min
// and p_max. Every value is decimal digits only. Returns 0, or the exit
// status of a refusal (printed) at the first bad argument: an unknown switch
// letter, a negative number, "-i" without a value or not at the end of its
// group, a value that is not a whole number, or a third value. A save
// interval below kMinSaveInterval is raised to it, with a line saying so.
int parse_command_line(int argc, const char* const* argv, run_settings& s);

// The range checks of a run, in this order: a pmax above kPLimit is lowered
// to it with a line saying so; then the range is refused when pmax <= pmin
// or pmin < kPMinLimit. Returns 0, or 1 after the refusal message.
int check_range(uint64_t pmin, uint64_t& pmax);

// Checks a new range before anything is cleared or written. For a range the
// run would refuse, prints what check_range prints and returns false; for
// one it accepts, prints nothing and returns true (the run prints the line
// about the lowered pmax later, in its place).
bool check_new_range(uint64_t pmin, uint64_t pmax);

// The arithmetic path, from the environment variable BRINDLE_PATH: unset,
// empty or "auto" keeps the widest one the processor has; "scalar" forces
// the 64-bit scalar path; "ifma" asks for the AVX-512 IFMA lanes and is
// refused on a processor without them, as is any other value. Returns 0
// (use_ifma set accordingly), or 1 after the refusal message.
int choose_arithmetic_path(const char* value);
