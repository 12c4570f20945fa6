// Helpers for the candidate database tests: a temporary directory removed on
// exit, whole-file reads and writes, and a builder for candidate file text.
#pragma once
#include "common/test_files.h"
#include <ftw.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "arith/limits.h"
#include "db/candidates.h"
#include "db_state.h"

namespace dbtest {

constexpr int32_t kStandardK[kNumK] = {4847,  5359,  10223, 19249, 21181, 22699,
                                       24737, 27653, 28433, 33661, 55459, 67607};

struct TempDir : testfiles::TempDir {
  TempDir() : testfiles::TempDir("brindle_db") {}
};
using testfiles::file_exists;
using testfiles::read_file;
using testfiles::write_file;

struct Section {
  int32_t k;
  std::vector<uint32_t> n;  // ascending; first written plain, the rest as "+diff"
};

// Candidate file text in the writer's layout, with `sep` between items.
inline std::string db_text(const std::vector<Section>& sections, uint32_t high = 20000000,
                           const std::string& sep = "\n") {
  std::ostringstream s;
  s << "12" << sep << "0" << sep << high << sep;
  for (const Section& sec : sections) {
    s << "k=" << sec.k << sep;
    for (size_t i = 0; i < sec.n.size(); ++i) {
      if (i == 0)
        s << sec.n[0] << sep;
      else
        s << "+" << sec.n[i] - sec.n[i - 1] << sep;
    }
  }
  return s.str();
}

// Twelve sections with the standard k: slot 0 gets `first`, the others a
// few n of their own.
inline std::vector<Section> twelve_sections(const std::vector<uint32_t>& first) {
  std::vector<Section> secs;
  for (int i = 0; i < kNumK; ++i) {
    if (i == 0)
      secs.push_back({kStandardK[0], first});
    else
      secs.push_back({kStandardK[i], {uint32_t(i), uint32_t(i + 8 * i), uint32_t(i + 40 * i)}});
  }
  return secs;
}

}  // namespace dbtest
