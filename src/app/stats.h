// Wall-clock timing of the sieving and the statistics report at the end of a
// completed range (console, and appended to "stat.txt").
#pragma once
#include <cstdint>

#include "search/worker.h"

// Elapsed-time accumulator in whole seconds and milliseconds. Between a start
// and a stop millitm may hold the 16-bit pattern of a negative number.
struct time_acc {
  int32_t time = 0;
  uint16_t millitm = 0;
};

// Measured time of the sieving, starting at zero.
extern time_acc timetot;

// The monotonic clock in seconds and milliseconds (0..999).
time_acc read_clock();

// time_start subtracts the clock from t, time_stop adds it back with the
// millisecond carry; a start and a stop add the elapsed time to t. The _at
// forms take the clock reading as an argument.
void time_start(time_acc* t);
void time_stop(time_acc* t);
void time_start_at(time_acc* t, time_acc now);
void time_stop_at(time_acc* t, time_acc now);

// Total milliseconds of t, in 64 bits (a signed 32-bit total would overflow
// after 24.8 days).
int64_t total_ms(const time_acc& t);

// Prints the statistics of the range pmin..pmax (pmin as sieved, even; endp
// the first prime above pmax) and appends them, with the counter lines
// always, to "stat.txt". Reads timetot and verbose.
void report_statistics(uint64_t pmin, uint64_t pmax, uint64_t endp, const search_counters& stats);
