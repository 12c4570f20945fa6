// The strict decimal reading of command-line values: what is a number, what
// is too large (by value, however many digits), and what is refused.
#include <gtest/gtest.h>

#include "db/decimal.h"

namespace {

TEST(ParseDecimal, Cases) {
  constexpr uint64_t kMax64 = ~0ULL;
  const struct {
    const char* text;
    uint64_t max;
    decimal_result result;
    uint64_t value;
  } cases[] = {
      {"0", 10, decimal_result::ok, 0},
      {"7", 10, decimal_result::ok, 7},
      {"10", 10, decimal_result::ok, 10},
      {"0010", 10, decimal_result::ok, 10},
      {"11", 10, decimal_result::too_large, 10},
      {"5", 0, decimal_result::too_large, 0},
      {"0", 0, decimal_result::ok, 0},
      {"2147483647", 2147483647, decimal_result::ok, 2147483647},
      {"2147483648", 2147483647, decimal_result::too_large, 2147483647},
      {"18446744073709551615", kMax64, decimal_result::ok, kMax64},
      {"18446744073709551616", kMax64, decimal_result::too_large, kMax64},
      {"99999999999999999999999999", kMax64, decimal_result::too_large, kMax64},
      {"99999999999999999999", 1000, decimal_result::too_large, 1000},
      {"000000000000000000000000012", 1000, decimal_result::ok, 12},
      {"", kMax64, decimal_result::not_decimal, 0},
      {" 7", kMax64, decimal_result::not_decimal, 0},
      {"7 ", kMax64, decimal_result::not_decimal, 0},
      {"+7", kMax64, decimal_result::not_decimal, 0},
      {"-7", kMax64, decimal_result::not_decimal, 0},
      {"1e9", kMax64, decimal_result::not_decimal, 0},
      {"12x", kMax64, decimal_result::not_decimal, 0},
      // A bad character after digits that are already too large is still bad.
      {"99999999999999999999x", 10, decimal_result::not_decimal, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" max " + std::to_string(c.max));
    uint64_t value = 12345;
    EXPECT_EQ(parse_decimal(c.text, c.max, value), c.result);
    EXPECT_EQ(value, c.value);
  }
}

}  // namespace
