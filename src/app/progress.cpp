// Progress reports. The clock is read only when poll is called, which the
// main loop does every few thousand primes, so the reports cost nothing
// measurable.
#include "app/progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "db/settings.h"

namespace {

double monotonic_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

std::string format_progress(uint64_t p, double share_percent, double p_per_second, std::time_t finish) {
  char when[40] = "unknown";
  std::tm local{};
  if (finish != 0 && localtime_r(&finish, &local) != nullptr) {
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  }
  char buf[160];
  std::snprintf(buf, sizeof buf, "Progress: p = %llu, %.1f%% of the range, %.0fk p/s, finish about %s",
                static_cast<unsigned long long>(p), share_percent, p_per_second / 1000.0, when);
  return buf;
}

progress_report::progress_report(uint64_t range_start, uint64_t run_start, uint64_t pmax,
                                 uint32_t interval_s)
    : range_start_(range_start),
      run_start_(run_start),
      pmax_(pmax),
      interval_s_(interval_s),
      in_place_(isatty(2) != 0),
      start_s_(monotonic_seconds()),
      next_s_(start_s_ + interval_s) {}

void progress_report::poll(uint64_t p) {
  if (interval_s_ == 0) return;
  const double now = monotonic_seconds();
  if (now < next_s_) return;
  while (next_s_ <= now) next_s_ += interval_s_;

  const double elapsed = now - start_s_;
  const double rate = p > run_start_ && elapsed > 0 ? static_cast<double>(p - run_start_) / elapsed : 0.0;
  const double width = pmax_ > range_start_ ? static_cast<double>(pmax_ - range_start_) : 1.0;
  const double share = p > range_start_ ? 100.0 * static_cast<double>(p - range_start_) / width : 0.0;
  std::time_t finish = 0;
  if (rate > 0 && p < pmax_) finish = std::time(nullptr) + static_cast<std::time_t>(static_cast<double>(pmax_ - p) / rate);
  const std::string text = format_progress(p, share > 100.0 ? 100.0 : share, rate, finish);

  std::cout.flush();
  if (in_place_) {
    // Back to the start of the line, the report, and the rest of the line
    // cleared; the next report overwrites it.
    std::cerr << '\r' << text << "\033[K" << std::flush;
    open_ = true;
    progress_line_open = isatty(1) != 0;
  } else {
    std::cerr << text << std::endl;
  }
}

void progress_report::end_line() {
  if (!open_) return;
  std::cerr << '\n' << std::flush;
  open_ = false;
  progress_line_open = false;
}
