// Helpers for the vexgen tests: a temporary directory per test, a runner for
// the built programs that captures standard output, standard error and the
// exit status, a parser of candidate files that is independent of the
// program's reader, and a brute-force model of which n a bound removes.
#pragma once
#include "common/run_program.h"
#include "common/test_files.h"
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vxt {

inline const std::string kVexgen = BRINDLE_BINARY_DIR "/vexgen";
inline const std::string kBrindle = BRINDLE_BINARY_DIR "/brindle";

// The twelve k and their standard classes, n = a (mod m), written out here
// so that the tests do not take them from the program.
struct std_class {
  int32_t k;
  uint32_t a;
  uint32_t m;
};
inline const std_class kStandard[12] = {
    {4847, 15, 24},  {5359, 6, 8},    {10223, 5, 12}, {19249, 14, 36},
    {21181, 20, 24}, {22699, 46, 72}, {24737, 7, 24}, {27653, 33, 36},
    {28433, 1, 24},  {33661, 0, 24},  {55459, 10, 12}, {67607, 3, 8}};

struct TempDir : testfiles::TempDir {
  TempDir() : testfiles::TempDir("vexgen_test") {}
};
using testfiles::read_file;
using testfiles::write_file;

using testfiles::Result;

// Runs program with args in dir, standard input empty.
inline Result run(const std::string& program, const TempDir& dir,
                  const std::vector<std::string>& args) {
  const std::string out_path = dir.file(".out"), err_path = dir.file(".err");
  const pid_t pid = testfiles::start_program(program, dir.path(), args, "/dev/null", out_path, err_path);
  Result r = testfiles::finish_program(pid, out_path, err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return r;
}

using testfiles::lines;

// A candidate file as written: header, then per section k and its n.
struct Vex {
  std::vector<uint64_t> header;
  std::vector<int64_t> k;
  std::vector<std::vector<uint64_t>> n;
};

// Parses the strict written form: one item per line, every line ending in
// "\n", "k=" lines, a plain first n and "+" differences. Fails the test on
// anything else.
inline Vex parse_strict(const std::string& text) {
  Vex v;
  EXPECT_TRUE(!text.empty() && text.back() == '\n') << "file must end with a newline";
  auto is_number = [](const std::string& s) {
    if (s.empty() || s.size() > 19 || (s.size() > 1 && s[0] == '0')) return false;
    for (char c : s) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  for (const std::string& line : lines(text)) {
    if (v.header.size() < 3) {
      EXPECT_TRUE(is_number(line)) << "header line '" << line << "'";
      v.header.push_back(std::stoull(line));
    } else if (line.rfind("k=", 0) == 0) {
      EXPECT_TRUE(is_number(line.substr(2))) << "k line '" << line << "'";
      v.k.push_back(std::stoll(line.substr(2)));
      v.n.emplace_back();
    } else if (!line.empty() && line[0] == '+') {
      EXPECT_FALSE(v.n.empty() || v.n.back().empty()) << "'+' without a first n";
      EXPECT_TRUE(is_number(line.substr(1))) << "difference line '" << line << "'";
      if (v.n.empty() || v.n.back().empty()) break;
      const uint64_t d = std::stoull(line.substr(1));
      EXPECT_GT(d, 0u) << "differences are positive";
      v.n.back().push_back(v.n.back().back() + d);
    } else {
      EXPECT_TRUE(!v.n.empty() && v.n.back().empty() && is_number(line))
          << "unexpected line '" << line << "'";
      if (v.n.empty()) break;
      v.n.back().push_back(std::stoull(line));
    }
  }
  return v;
}

// Trial division; fine for the small primes of these tests and single p < 2^50.
inline bool is_prime(uint64_t q) {
  if (q < 2) return false;
  for (uint64_t d = 2; d * d <= q; ++d) {
    if (q % d == 0) return false;
  }
  return true;
}

// Brute force: the n = a (mod m), 0 <= n <= nhigh, for which k*2^n+1 has no
// prime factor q < bound other than itself. For each prime q it walks
// k*2^n mod q over all n.
inline std::vector<std::vector<uint64_t>> brute_force(const std::vector<std_class>& ks,
                                                      uint32_t nhigh, uint32_t bound) {
  std::vector<std::vector<bool>> hit(ks.size(), std::vector<bool>(nhigh + 1, false));
  for (uint32_t q = 2; q < bound; ++q) {
    if (!is_prime(q)) continue;
    for (size_t i = 0; i < ks.size(); ++i) {
      uint64_t v = static_cast<uint64_t>(ks[i].k) % q;  // k*2^n mod q
      for (uint32_t n = 0; n <= nhigh; ++n) {
        if (v == q - 1) {
          // k*2^n+1 = q is a prime, not a number with a smaller factor.
          const bool is_q = n < 40 && (static_cast<unsigned __int128>(ks[i].k) << n) + 1 == q;
          if (!is_q) hit[i][n] = true;
        }
        v = 2 * v;
        if (v >= q) v -= q;
      }
    }
  }
  std::vector<std::vector<uint64_t>> keep(ks.size());
  for (size_t i = 0; i < ks.size(); ++i) {
    for (uint32_t n = ks[i].a; n <= nhigh; n += ks[i].m) {
      if (!hit[i][n]) keep[i].push_back(n);
    }
  }
  return keep;
}

}  // namespace vxt
