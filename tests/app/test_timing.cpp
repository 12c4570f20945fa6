// The elapsed-time accumulator: start/stop arithmetic with the millisecond
// borrow and carry, checked against plain millisecond differences, and the
// 64-bit millisecond total.
#include <gtest/gtest.h>

#include <random>

#include "app/stats.h"

namespace {

time_acc at(int32_t s, uint16_t ms) {
  time_acc t;
  t.time = s;
  t.millitm = ms;
  return t;
}

TEST(Timing, StartStopCases) {
  struct Case {
    time_acc start, stop;
    int32_t s;
    uint16_t ms;
  };
  const Case cases[] = {
      {at(10, 900), at(12, 100), 1, 200},  // borrow one second
      {at(10, 100), at(12, 900), 2, 800},
      {at(10, 500), at(10, 500), 0, 0},
      {at(0, 0), at(0, 999), 0, 999},
      {at(5, 999), at(6, 0), 0, 1},
      {at(1700000000, 1), at(1700086400, 0), 86399, 999},
  };
  for (const Case& c : cases) {
    time_acc t;
    time_start_at(&t, c.start);
    time_stop_at(&t, c.stop);
    EXPECT_EQ(t.time, c.s) << c.start.time << "." << c.start.millitm;
    EXPECT_EQ(t.millitm, c.ms) << c.start.time << "." << c.start.millitm;
  }
}

// Several start/stop pairs on one accumulator add up their elapsed times,
// carrying whole seconds out of the milliseconds.
TEST(Timing, AccumulatesAgainstMilliseconds) {
  std::mt19937_64 rng(3);
  for (int run = 0; run < 1000; ++run) {
    time_acc t;
    int64_t expected = 0;
    int64_t clock = static_cast<int64_t>(rng() % 2000000000000ULL);
    for (int i = 0; i < 5; ++i) {
      const int64_t begin = clock + static_cast<int64_t>(rng() % 5000);
      const int64_t end = begin + static_cast<int64_t>(rng() % 100000);
      time_start_at(&t, at(static_cast<int32_t>(begin / 1000), static_cast<uint16_t>(begin % 1000)));
      time_stop_at(&t, at(static_cast<int32_t>(end / 1000), static_cast<uint16_t>(end % 1000)));
      expected += end - begin;
      clock = end;
      ASSERT_LT(t.millitm, 1000);
      ASSERT_EQ(total_ms(t), expected);
    }
  }
}

TEST(Timing, TotalBeyondThirtyTwoBits) {
  // 30 days, past the 24.8 days of a signed 32-bit millisecond count.
  EXPECT_EQ(total_ms(at(2592000, 999)), 2592000999LL);
}

TEST(Timing, ClockAdvances) {
  time_acc t;
  time_start(&t);
  time_stop(&t);
  EXPECT_GE(total_ms(t), 0);
  EXPECT_LT(total_ms(t), 1000);
}

}  // namespace
