// The text of a progress report.
#include "app/progress.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

namespace {

TEST(Progress, ReportText) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::time_t t = 1796918400;  // 2026-12-10 16:00:00 UTC
  struct Case {
    uint64_t p;
    double share, rate;
    std::time_t finish;
    const char* text;
  };
  const Case cases[] = {
      {1003399487, 3.4, 3384000.0, t + 45,
       "Progress: p = 1003399487, 3.4% of the range, 3384k p/s, finish about 2026-12-10 16:00:45"},
      {1125899906842623, 99.96, 8420499.6, t + 86400 * 40 + 3661,
       "Progress: p = 1125899906842623, 100.0% of the range, 8420k p/s, finish about 2027-01-19 "
       "17:01:01"},
      {1000000007, 0.0, 0.0, 0, "Progress: p = 1000000007, 0.0% of the range, 0k p/s, finish about unknown"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_progress(c.p, c.share, c.rate, c.finish), c.text);
}

}  // namespace
