// Command line: the usage text, the number parser shared with the status
// file reader, the switch grammar (grouped switch letters, at most two
// positional values, digits only) and the range checks.
#include "app/cli.h"

#include <iostream>

#include "arith/ifma.h"
#include "arith/limits.h"
#include "db/decimal.h"
#include "db/settings.h"

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

size_t skip_space(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  return i;
}

// The value of switch letter arg[j] ("i" or "p"), which must end its group
// and takes the next argument, decimal digits only; advances i past it.
// Returns 0, or the exit status of a refusal.
int switch_value(int argc, const char* const* argv, int& i, const std::string& arg, size_t j,
                 const char* what, uint64_t& value) {
  const std::string name = std::string("-") + arg[j];
  if (j + 1 != arg.size()) return refuse(name + " takes a value, so it must end its switch group: " + arg);
  if (i + 1 >= argc) return refuse(name + " needs " + what + " after it");
  const std::string text = argv[++i];
  // A value too large for 64 bits saturates, like every value here.
  if (parse_decimal(text, ~0ULL, value) == decimal_result::not_decimal) {
    return refuse("not a number for " + name + ": " + text);
  }
  return 0;
}

// One switch group ("-d", "-fu", "-vvi 20000"): applies its letters to s
// and the globals; i takes argv[i + 1] and advances i past it. Returns 0, or
// the exit status of a refusal.
int parse_switch_group(int argc, const char* const* argv, int& i, run_settings& s) {
  const std::string arg = argv[i];
  if (arg.size() == 1) return refuse("switch letter missing: -");
  int vs = 0;
  for (size_t j = 1; j < arg.size(); ++j) {
    switch (arg[j]) {
      case 'd':
        outputdupes = false;
        break;
      case 'f':
        s.force = true;
        break;
      case 'u':
        s.update = true;
        break;
      case 'v':
        ++vs;
        break;
      case 'i':
      case 'p':
      case 't': {
        uint64_t value = 0;
        const char letter = arg[j];
        const bool save = letter == 'i';
        const char* what = save              ? "a save interval"
                           : letter == 'p' ? "the seconds between progress reports"
                                           : "a thread count";
        if (const int status = switch_value(argc, argv, i, arg, j, what, value)) return status;
        if (save) {
          s.save_interval = value;
        } else if (letter == 't') {
          if (value > kMaxThreads) {
            return refuse("-t is at most " + std::to_string(kMaxThreads) + " threads: " + argv[i]);
          }
          s.threads = static_cast<uint32_t>(value);
        } else if (value > kMaxProgressInterval) {
          return refuse("-p is at most " + std::to_string(kMaxProgressInterval) +
                        " seconds: " + argv[i]);
        } else {
          s.progress_interval = static_cast<uint32_t>(value);
        }
        break;
      }
      default: {
        const std::string letter(1, arg[j]);
        return refuse("unknown switch: " + letter + (arg.size() > 2 ? " in " + arg : ""));
      }
    }
  }
  if (vs > 0) verbose = vs >= 2 ? 2 : 1;
  return 0;
}

}  // namespace

void print_usage() {
  std::cout << kVersionLine << "\n"
               "usage: brindle [-d] [-f] [-u] [-v] [-i <save_interval>] [<p_min> <p_max>]\n"
               "\t-d = don't output excluded (duplicates/outside range) factors\n"
               "\t-f = force use of p range given on cmdline. Overwrite VexStatus.dat\n"
               "\t-i = interval between progress saves to VexStatus.dat\n"
               "\t     default is 10000000, which saves every 10 million p\n"
               "\t-u = update Vex.dat afterwards\n"
               "\t-v = print some additional info. An extra v gives more\n"
               "p range: 10^9 <= p_min < p_max <= 2^62 (4611686018427387904)\n"
               "New factors are written to fact.txt and excluded ones to factexcl.txt\n"
               "Some statistics are written to stat.txt\n"
               "\n";
}

uint64_t toint(const std::string& text) {
  const uint64_t max = ~0ULL;
  uint64_t value = 0;
  for (size_t i = skip_space(text); i < text.size() && is_digit(text[i]); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (max - digit) / 10 ? max : value * 10 + digit;
  }
  return value;
}

int refuse(const std::string& message) {
  std::cout << message << std::endl;
  return 1;
}

int parse_command_line(int argc, const char* const* argv, run_settings& s) {
  int values = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() >= 2 && arg[0] == '-' && is_digit(arg[1])) {
      return refuse("negative number not allowed: " + arg);
    }
    if (!arg.empty() && arg[0] == '-') {
      if (const int status = parse_switch_group(argc, argv, i, s)) return status;
      continue;
    }
    uint64_t value = 0;
    if (parse_decimal(arg, ~0ULL, value) == decimal_result::not_decimal) {
      return refuse("not a number: " + arg);
    }
    if (values == 2) return refuse("too many values: " + arg + " (only p_min and p_max are taken)");
    if (values++ == 0) {
      s.pmin = value;
      s.range_given = true;
    } else {
      s.pmax = value;
    }
  }
  if (s.save_interval < kMinSaveInterval) {
    s.save_interval = kMinSaveInterval;
    std::cout << "Save interval raised to " << kMinSaveInterval << ", the smallest allowed"
              << std::endl;
  }
  return 0;
}

int check_range(uint64_t pmin, uint64_t& pmax) {
  if (pmax > kPLimit) {
    std::cout << "This program only supports p up to " << kPLimit << "\n";
    pmax = kPLimit;
  }
  if (pmax <= pmin) return refuse("pmax <= pmin");
  if (pmin < kPMinLimit) {
    return refuse("Sorry, pmin has to be at least 10^9 (1G) for this program to work.");
  }
  return 0;
}

bool check_new_range(uint64_t pmin, uint64_t pmax) {
  const uint64_t top = pmax > kPLimit ? kPLimit : pmax;
  if (top > pmin && pmin >= kPMinLimit) return true;
  return check_range(pmin, pmax) == 0;
}

int choose_arithmetic_path(const char* value) {
  const std::string v = value == nullptr ? "" : value;
  if (v.empty() || v == "auto") {
    use_ifma = cpu_has_ifma();
  } else if (v == "scalar") {
    use_ifma = false;
  } else if (v == "ifma") {
    if (!cpu_has_ifma()) return refuse("BRINDLE_PATH=ifma: this processor has no AVX-512 IFMA");
    use_ifma = true;
  } else {
    return refuse("BRINDLE_PATH must be auto, scalar or ifma, not " + v);
  }
  return 0;
}
