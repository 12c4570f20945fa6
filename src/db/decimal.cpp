#include "db/decimal.h"

decimal_result parse_decimal(const std::string& text, uint64_t max, uint64_t& value) {
  value = 0;
  if (text.empty()) return decimal_result::not_decimal;
  bool above = false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return decimal_result::not_decimal;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    // Once above max the value is no longer needed, only the digits checked.
    if (!above && (digit > max || v > (max - digit) / 10)) above = true;
    if (!above) v = v * 10 + digit;
  }
  value = above ? max : v;
  return above ? decimal_result::too_large : decimal_result::ok;
}
