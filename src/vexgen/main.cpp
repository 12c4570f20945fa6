// vexgen: writes a starter candidate file for brindle. For each of the twelve
// built-in k it lists the n of the standard residue class from 0 to nhigh,
// less every n for which k*2^n+1 has a prime factor below a bound.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "db/decimal.h"
#include "vexgen/generate.h"

namespace {

constexpr uint32_t kDefaultNhighArg = 20000000;
constexpr uint32_t kDefaultBound = 1000000;
constexpr double kProgressSeconds = 10.0;

void print_help() {
  std::cout << "vexgen: writes a starter candidate file for brindle\n"
               "usage: vexgen [-f] [-o <file>] [-n <nhigh>] [-b <bound>]\n"
               "\t-o = output file, default Vex.dat\n"
               "\t-n = highest n, default 20000000, at most 2147483647\n"
               "\t-b = leave out the n for which k*2^n+1 has a prime factor below this,\n"
               "\t     default 1000000, at most 1000000000\n"
               "\t-f = overwrite the output file if it exists\n"
               "\t-h = show this text\n"
               "\t--version = show the version\n";
}

int fail(const std::string& message) {
  std::cerr << "vexgen: " << message << std::endl;
  return 1;
}

struct options {
  std::string path = "Vex.dat";
  uint64_t nhigh = kDefaultNhighArg;
  uint64_t bound = kDefaultBound;
  bool force = false;
  bool help = false;
  bool version = false;
};

// Returns 0, or the exit status after a one-line message.
int parse_options(int argc, char** argv, options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-f") {
      o.force = true;
    } else if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "-o" || arg == "-n" || arg == "-b") {
      if (i + 1 >= argc) return fail(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "-o") {
        if (value.empty()) return fail("-o needs a file name");
        o.path = value;
        continue;
      }
      const bool nhigh = arg == "-n";
      uint64_t v = 0;
      const decimal_result r = parse_decimal(value, nhigh ? kVexgenMaxNhigh : kVexgenMaxBound, v);
      if (r == decimal_result::not_decimal) {
        return fail(arg + " expects a plain decimal number, got '" + value + "'");
      }
      if (nhigh) {
        if (r == decimal_result::too_large) {
          return fail("nhigh must be at most " + std::to_string(kVexgenMaxNhigh) + ", got " + value);
        }
        o.nhigh = v;
      } else {
        if (r == decimal_result::too_large) {
          return fail("the bound must be at most " + std::to_string(kVexgenMaxBound) + ", got " +
                      value);
        }
        o.bound = v;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return fail("unknown option " + arg + " (vexgen -h lists the options)");
    } else {
      return fail("unexpected argument '" + arg + "' (vexgen -h lists the options)");
    }
  }
  return 0;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  if (const int status = parse_options(argc, argv, o)) return status;
  if (o.help) {
    print_help();
    return 0;
  }
  if (o.version) {
    std::cout << "vexgen v" BRINDLE_VERSION "\n";
    return 0;
  }

  // The output file is created first: an unusable path ends the run at once.
  std::string err;
  candidate_output output;
  if (!output.open(o.path, o.force, err)) return fail(err);

  candidate_sieve s;
  if (!candidate_sieve_init(s, standard_kclasses(), static_cast<uint32_t>(o.nhigh), err)) {
    return fail(err);
  }
  std::cout << "vexgen: " << s.ks.size() << " k, 0 <= n <= " << o.nhigh
            << ", leaving out n with a prime factor below " << o.bound << std::endl;

  const auto t0 = std::chrono::steady_clock::now();
  double last_report = 0.0;
  remove_primes_below(s, static_cast<uint32_t>(o.bound), [&](uint32_t covered) {
    const double now = seconds_since(t0);
    if (now - last_report < kProgressSeconds) return;
    last_report = now;
    std::printf("  p = %u (%.0f%% of the range), %.0f s\n", covered,
                100.0 * covered / static_cast<double>(o.bound), now);
    std::fflush(stdout);
  });
  const double sieve_seconds = seconds_since(t0);

  uint64_t total = 0;
  for (uint32_t i = 0; i < s.ks.size(); ++i) {
    uint64_t count = 0;
    for_each_candidate(s, i, [&count](uint32_t) { ++count; });
    std::cout << s.ks[i].k << " has " << count << " unfactored 0<=n<=" << o.nhigh << "\n";
    if (count < 2) {
      return fail("k=" + std::to_string(s.ks[i].k) + " keeps " + std::to_string(count) +
                  " n up to " + std::to_string(o.nhigh) +
                  "; a candidate file needs at least two per k, so raise -n");
    }
    total += count;
  }
  std::cout << "Total: " << total << " unfactored" << std::endl;

  if (!output.commit(s, err)) return fail(err);
  std::printf("Wrote %s (sieving took %.1f s, %.1f s in all)\n", o.path.c_str(), sieve_seconds,
              seconds_since(t0));
  return 0;
}
