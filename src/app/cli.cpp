// Command line: the usage text, the number parser shared with the status
// file reader, and the switch grammar (one switch per argument, compared as a
// whole word; positional values are p, the first pmin, every later one pmax).
#include "app/cli.h"

#include <iostream>

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

}  // namespace

void print_usage() {
  std::cout << "brindle v0.31\n"
               "usage: brindle [-d] [-f] [-u] [-v] [-i <save_interval>] [<p_min> <p_max>]\n"
               "\t-d = don't output excluded (duplicates/outside range) factors\n"
               "\t-f = force use of p range given on cmdline. Overwrite VexStatus.dat\n"
               "\t-i = interval between progress saves to VexStatus.dat\n"
               "\t     default is 10000000, which saves every 10 million p\n"
               "\t-u = update Vex.dat afterwards\n"
               "\t-v = print some additional info. An extra v gives more\n"
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

bool starts_with_digit(const std::string& text) {
  const size_t i = skip_space(text);
  return i < text.size() && is_digit(text[i]);
}

int refuse(const std::string& message) {
  std::cout << message << std::endl;
  return 1;
}

int parse_command_line(int argc, const char* const* argv, run_settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!arg.empty() && arg[0] == '-') {
      const std::string word = arg.substr(1);
      if (word == "d") {
        outputdupes = false;
      } else if (word == "f") {
        s.force = true;
      } else if (word == "i") {
        if (i + 1 >= argc) return refuse("-i needs a save interval after it");
        const std::string value = argv[++i];
        if (!starts_with_digit(value)) return refuse("not a number for -i: " + value);
        s.save_interval = toint(value);
      } else if (word == "u") {
        s.update = true;
      } else if (word == "v") {
        verbose = 1;
      } else if (word == "vv") {
        verbose = 2;
      } else {
        std::cout << "unknown switch: " << word << "\n";
      }
    } else {
      if (!starts_with_digit(arg)) return refuse("not a number: " + arg);
      if (!s.range_given) {
        s.pmin = toint(arg);
        s.range_given = true;
      } else {
        s.pmax = toint(arg);
      }
    }
  }
  return 0;
}
