// The strict reading of a decimal number given as a whole string (a command
// line value): digits only, nothing before or after them.
#pragma once
#include <cstdint>
#include <string>

enum class decimal_result { ok, not_decimal, too_large };

// Reads text as one decimal number: one or more digits 0-9 and nothing else
// (no blank, sign or suffix; leading zeros are fine). Returns ok with the
// number in value when it is at most max; too_large, with value = max, when
// the digits stand for a larger number (of any length); not_decimal, with
// value = 0, for anything else, the empty string included.
decimal_result parse_decimal(const std::string& text, uint64_t max, uint64_t& value);
