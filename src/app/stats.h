// Wall-clock timing of the sieving and the statistics report.
#pragma once
#include <cstdint>

// Accumulator of elapsed time in seconds and milliseconds.
struct time_acc {
  int32_t time = 0;
  uint16_t millitm = 0;
};
extern time_acc timetot;

void time_start(time_acc* t);
void time_stop(time_acc* t);
void report_statistics(uint64_t pmin, uint64_t pmax, uint64_t endp);
