// Timing and statistics. The clock is read twice per run, so the measurement
// costs nothing in the main loop; the counters are incremented by the
// per-prime test and only printed here.
#include "app/stats.h"

#include <time.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "arith/limits.h"
#include "db/file_names.h"
#include "db/settings.h"

time_acc timetot;

time_acc read_clock() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  time_acc now;
  now.time = static_cast<int32_t>(ts.tv_sec);
  now.millitm = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return now;
}

void time_start_at(time_acc* t, time_acc now) {
  t->time -= now.time;
  t->millitm = static_cast<uint16_t>(t->millitm - now.millitm);
}

void time_stop_at(time_acc* t, time_acc now) {
  const int m = static_cast<int16_t>(t->millitm);
  const int s = static_cast<int16_t>(m + now.millitm);
  t->time += now.time + (s > 999 ? 1 : s < 0 ? -1 : 0);
  t->millitm = static_cast<uint16_t>((m + now.millitm + 1000) % 1000);
}

void time_start(time_acc* t) { time_start_at(t, read_clock()); }
void time_stop(time_acc* t) { time_stop_at(t, read_clock()); }

int64_t total_ms(const time_acc& t) { return static_cast<int64_t>(t.time) * 1000 + t.millitm; }

namespace {

void warn_stat_write_failed() {
  static bool warned = false;
  if (warned) return;
  warned = true;
  std::cerr << "Warning: cannot write stat.txt; the statistics are on the console only"
            << std::endl;
}

}  // namespace

void report_statistics(uint64_t pmin, uint64_t pmax, uint64_t endp, const search_counters& stats) {
  const double seconds = timetot.time + timetot.millitm / 1000.0;
  const double rate = static_cast<double>(endp - pmin) / seconds / 1000.0;
  // A clock that went backwards is the only way to a rate that does not fit.
  const uint64_t krate = rate >= 0.0 && rate < 1.8e19 ? static_cast<uint64_t>(rate) : 0;

  std::ostringstream head, counters, tail;
  head << "\nStatistics:\n"
       << "pmin        : " << pmin << "\n"
       << "pmax        : " << pmax << "\n";
  counters << "# Tested p  : " << stats.testedp << "\n"
           << "# Tested k  : " << kNumK * stats.testedp << "\n"
           << "# Whacked k : " << stats.whackedk << "\n"
           << "# Whacked p : " << stats.whackedp << "\n";
  tail << "Total time: " << total_ms(timetot) << " ms\n" << krate << "k p/s.\n";

  std::cout << head.str() << (verbose >= 1 ? counters.str() : "") << tail.str() << std::flush;

  std::ofstream f(file_path("stat.txt"), std::ios::app);
  if (f) f << head.str() << counters.str() << tail.str();
  if (f) f.close();
  if (!f) warn_stat_write_failed();
}
