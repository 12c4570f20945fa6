// Progress reports on standard error while a range runs: the current p, the
// share of the range done, the rate, and the estimated finish time. On a
// terminal the report is rewritten in place (carriage return); otherwise
// each one is a line of its own.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>

// One report's text, without line end: share in percent, rate in p per
// second (of the range's width), finish as a wall-clock time (0: unknown).
std::string format_progress(uint64_t p, double share_percent, double p_per_second, std::time_t finish);

class progress_report {
 public:
  // range_start is where the whole range began (a resumed run reports the
  // share of the whole range), run_start where this run began (the rate is
  // this run's), interval_s the seconds between reports, 0 for none.
  progress_report(uint64_t range_start, uint64_t run_start, uint64_t pmax, uint32_t interval_s);

  // Reads the clock and prints a report when the interval has passed since
  // the last one. Meant to be called every few thousand primes.
  void poll(uint64_t p);

  // Ends a report that stands unfinished on the terminal, before other
  // output follows.
  void end_line();

 private:
  uint64_t range_start_, run_start_, pmax_;
  uint32_t interval_s_;
  bool in_place_;
  bool open_ = false;
  double start_s_;
  double next_s_;
};
