// Helpers for the end-to-end tests of the brindle binary: a temporary working
// directory per test, small file helpers, a runner that feeds standard input
// from a string and captures standard output and standard error, and the
// candidate-file fixture (every n of the standard class of each k up to nhigh)
// and a reader of factor files that checks every hit with __int128 arithmetic.
#pragma once
#include "common/run_program.h"
#include "common/test_files.h"
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

inline const std::string kBrindle = BRINDLE_BINARY_DIR "/brindle";

inline const char* const kUsage =
    "brindle v0.31\n"
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

// Built with AddressSanitizer (scripts/sanitize.sh): the programs then need
// far more address space than a small RLIMIT_AS allows.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

struct TempDir : testfiles::TempDir {
  TempDir() : testfiles::TempDir("brindle_app") {}
};
using testfiles::read_file;
using testfiles::write_file;
inline bool exists(const std::string& path) { return testfiles::file_exists(path); }

inline size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
  return n;
}

using testfiles::Result;

// Starts brindle in dir with args; standard input from stdin_text, output to
// the files .out and .err in dir. Returns the child's pid.
inline pid_t start(const TempDir& dir, const std::vector<std::string>& args,
                   const std::string& stdin_text = "", const std::function<void()>& in_child = {}) {
  write_file(dir.file(".in"), stdin_text);
  return testfiles::start_program(kBrindle, dir.path(), args, ".in", ".out", ".err", in_child);
}

inline Result finish(const TempDir& dir, pid_t pid) {
  return testfiles::finish_program(pid, dir.file(".out"), dir.file(".err"));
}

inline Result run(const TempDir& dir, const std::vector<std::string>& args,
                  const std::string& stdin_text = "") {
  return finish(dir, start(dir, args, stdin_text));
}

// Standard residue classes (n = residue mod modulus) of the twelve k.
struct KClass {
  int32_t k;
  uint32_t residue;
  uint32_t modulus;
};
inline const KClass kStandard[12] = {
    {4847, 15, 24},  {5359, 6, 8},   {10223, 5, 12}, {19249, 14, 36},
    {21181, 20, 24}, {22699, 46, 72}, {24737, 7, 24}, {27653, 33, 36},
    {28433, 1, 24},  {33661, 0, 24},  {55459, 10, 12}, {67607, 3, 8}};

// A valid candidate file holding every n <= nhigh of each standard class.
inline std::string standard_vex(uint32_t nhigh) {
  std::ostringstream s;
  s << "12\n0\n" << nhigh << "\n";
  for (const KClass& c : kStandard) {
    s << "k=" << c.k << "\n" << c.residue << "\n";
    for (uint32_t n = c.residue + c.modulus; n <= nhigh; n += c.modulus) s << "+" << c.modulus << "\n";
  }
  return s.str();
}

using testfiles::lines;

// Every n up to 100000 of each k's standard class, nhigh 3000000, and one
// more candidate with two prime factors near 10^9: 1008527033 and
// 1013105953 both divide 27653*2^2966001+1, so a run over both files the
// second as a duplicate.
inline std::string double_hit_vex() {
  std::ostringstream s;
  s << "12\n0\n3000000\n";
  for (const KClass& c : kStandard) {
    s << "k=" << c.k << "\n" << c.residue << "\n";
    uint32_t last = c.residue;
    for (uint32_t n = c.residue + c.modulus; n <= 100000; n += c.modulus) {
      s << "+" << c.modulus << "\n";
      last = n;
    }
    if (c.k == 27653) s << "+" << 2966001 - last << "\n";
  }
  return s.str();
}

// Waits (up to 20 s) until the status file in dir holds at least n "pmin="
// lines: a running brindle has filed that far.
inline void wait_for_save_points(const TempDir& dir, size_t n) {
  for (int tries = 0; tries < 20000; ++tries) {
    if (count(read_file(dir.file("VexStatus.dat")), "pmin=") >= n) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The lines of text with every repeat of an earlier line left out.
inline std::vector<std::string> first_occurrences(const std::string& text) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (const std::string& line : lines(text)) {
    if (seen.insert(line).second) out.push_back(line);
  }
  return out;
}

// 2^n mod p with __int128 products.
inline uint64_t pow2mod(uint64_t n, uint64_t p) {
  unsigned __int128 r = 1, b = 2;
  for (; n; n >>= 1, b = b * b % p) {
    if (n & 1) r = r * b % p;
  }
  return static_cast<uint64_t>(r);
}

struct Factor {
  uint64_t p;
  int64_t k;
  uint32_t n;
};

// The hits of a factor file; fails the test on a malformed line or a line
// whose p does not divide k*2^n+1.
inline std::vector<Factor> read_factors(const std::string& text) {
  std::vector<Factor> v;
  const std::regex line_re(R"((\d+) \| (\d+)\*2\^(\d+)\+1)");
  for (const std::string& line : e2e::lines(text)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, line_re)) << line;
    if (!std::regex_match(line, m, line_re)) continue;
    Factor f{std::stoull(m[1]), std::stoll(m[2]), static_cast<uint32_t>(std::stoul(m[3]))};
    const unsigned __int128 value = static_cast<unsigned __int128>(f.k % f.p) * pow2mod(f.n, f.p) + 1;
    EXPECT_EQ(static_cast<uint64_t>(value % f.p), 0u) << "not a factor: " << line;
    v.push_back(f);
  }
  return v;
}

}  // namespace e2e
