// End to end: brindle sieves a file that vexgen wrote. Every reported factor
// is checked independently (p prime by trial division, p | k*2^n+1 with
// __int128), new factors must be candidates of the file, and the file that
// brindle writes back with -u must be the old one less exactly those n.
#include <map>
#include <regex>

#include "vexgen_test_util.h"

namespace {

using vxt::run;
using vxt::TempDir;

struct hit {
  uint64_t p;
  int64_t k;
  uint64_t n;
};

std::vector<hit> read_hits(const std::string& text) {
  std::vector<hit> v;
  const std::regex line_re(R"((\d+) \| (\d+)\*2\^(\d+)\+1)");
  for (const std::string& line : vxt::lines(text)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, line_re)) << "malformed line: " << line;
    if (!std::regex_match(line, m, line_re)) continue;
    v.push_back({std::stoull(m[1]), std::stoll(m[2]), std::stoull(m[3])});
  }
  return v;
}

bool divides(const hit& h) {
  unsigned __int128 r = 1, b = 2;
  for (uint64_t e = h.n; e; e >>= 1, b = b * b % h.p) {
    if (e & 1) r = r * b % h.p;
  }
  return (static_cast<unsigned __int128>(h.k) % h.p * r + 1) % h.p == 0;
}

TEST(VexgenBrindle, SievesAVexgenFileAndReportsOnlyTrueFactors) {
  TempDir dir;
  const vxt::Result gen = run(vxt::kVexgen, dir, {"-n", "2000000"});
  ASSERT_EQ(gen.status, 0) << gen.err;
  const vxt::Vex before = vxt::parse_strict(vxt::read_file(dir.file("Vex.dat")));
  ASSERT_EQ(before.k.size(), 12u);

  const vxt::Result r =
      run(vxt::kBrindle, dir, {"-f", "-u", "-i", "250000", "1000000000", "1001000000"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\nDone\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\np = "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nStatistics:\n"), std::string::npos) << r.out;

  std::map<int64_t, size_t> slot;
  for (size_t i = 0; i < 12; ++i) slot[before.k[i]] = i;

  const std::vector<hit> fact = read_hits(vxt::read_file(dir.file("fact.txt")));
  const std::vector<hit> excl = read_hits(vxt::read_file(dir.file("factexcl.txt")));
  // The input is fixed, so the range is known to hold new factors.
  EXPECT_FALSE(fact.empty());
  std::vector<std::set<uint64_t>> expect_after(12);
  for (size_t i = 0; i < 12; ++i) expect_after[i].insert(before.n[i].begin(), before.n[i].end());
  for (const std::vector<hit>* file : {&fact, &excl}) {
    for (const hit& h : *file) {
      SCOPED_TRACE(std::to_string(h.p) + " | " + std::to_string(h.k) + "*2^" + std::to_string(h.n));
      EXPECT_GE(h.p, 1000000000u);
      EXPECT_LE(h.p, 1001000000u);
      EXPECT_TRUE(vxt::is_prime(h.p));
      EXPECT_TRUE(divides(h));
      ASSERT_EQ(slot.count(h.k), 1u);
      std::set<uint64_t>& set = expect_after[slot[h.k]];
      if (file == &fact) {
        // A new factor is one of the file's candidates, reported once.
        EXPECT_EQ(set.erase(h.n), 1u);
      } else {
        EXPECT_EQ(set.count(h.n), 0u);
      }
    }
  }

  const vxt::Vex after = vxt::parse_strict(vxt::read_file(dir.file("Vex.dat")));
  EXPECT_EQ(after.header, before.header);
  EXPECT_EQ(after.k, before.k);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(after.n[i], std::vector<uint64_t>(expect_after[i].begin(), expect_after[i].end()))
        << before.k[i];
  }
}

}  // namespace
