// Candidate file reader: the documented examples, layout independence, the
// residue-class analysis against a brute-force oracle, the verbose output
// line by line, and one table of malformed files that must be rejected with
// a single message and no change of state.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <sys/stat.h>

#include "db/candidates.h"
#include "db/settings.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

struct VerboseGuard {
  explicit VerboseGuard(int v) { verbose = v; }
  ~VerboseGuard() { verbose = 0; }
};

// Reads `text` from a fresh file; the captured standard output goes to *out.
bool read_text(const std::string& text, std::string* out = nullptr) {
  TempDir dir;
  EXPECT_TRUE(dir.ok());
  const std::string path = dir.file("Vex.dat");
  write_file(path, text);
  testing::internal::CaptureStdout();
  const bool ok = read_db(path);
  const std::string printed = testing::internal::GetCapturedStdout();
  if (out) *out = printed;
  return ok;
}

std::vector<uint32_t> residues() { return std::vector<uint32_t>(akares[0], akares[0] + aknres[0]); }

// The documented example: slot 0 holds {15, 39, 87}.
TEST(ReadDb, DocumentedExample) {
  std::string out;
  ASSERT_TRUE(read_text(db_text(twelve_sections({15, 39, 87})), &out));
  EXPECT_EQ(out, "");  // quiet at verbose 0
  EXPECT_EQ(nhigh, 20000000u);
  for (int i = 0; i < kNumK; ++i) EXPECT_EQ(ak[i], kStandardK[i]) << i;
  EXPECT_EQ(aunfacset[0], (std::set<uint32_t>{15, 39, 87}));
  EXPECT_EQ(akpower[0], 24u);
  EXPECT_EQ(akequiv[0], 15u);
  // Only three n: every multiplier leaves three classes, so m = 49 wins.
  EXPECT_EQ(akmod[0], 1176u);
  EXPECT_EQ(residues(), (std::vector<uint32_t>{15, 39, 87}));
  // Slot 1 is {1, 9, 41}: differences 8 and 32.
  EXPECT_EQ(akpower[1], 8u);
  EXPECT_EQ(akequiv[1], 1u);
}

// 15 + 24i for i = 0..199, leaving out the n = 63 (mod 72).
std::vector<uint32_t> example_72() {
  std::vector<uint32_t> n;
  for (uint32_t i = 0; i < 200; ++i)
    if (i % 3 != 2) n.push_back(15 + 24 * i);
  return n;
}

TEST(ReadDb, ResidueExampleAndVerboseTwoOutput) {
  VerboseGuard v(2);
  std::string out;
  ASSERT_TRUE(read_text(db_text({{4847, example_72()}}, 5000), &out));
  EXPECT_EQ(akpower[0], 24u);
  EXPECT_EQ(akequiv[0], 15u);
  EXPECT_EQ(akmod[0], 72u);
  EXPECT_EQ(residues(), (std::vector<uint32_t>{15, 39}));

  // The whole output of a one-section file at -vv.
  std::string want = "k: 4847. All remaining n = 15 (mod 24).\n";
  want += "4847 has 134 unfactored 0<=n<=5000\n";
  for (int i = 1; i < kNumK; ++i) want += std::to_string(kStandardK[i]) + " has 0 unfactored 0<=n<=5000\n";
  want += "Total: 134 unfactored\n\n";
  want += "k: 4847 a: 24(1*24) : 1 diff. a/diff: 24 factor: 1\n";
  want += "k: 4847 a: 72(3*24) : 2 diff. a/diff: 36 factor: 1.5\n\n";
  for (int i = 1; i < kNumK; ++i) want += "\n";  // empty slots: no multiplier lines
  want += "4847: mod 72: 15 39\n";
  for (int i = 1; i < kNumK; ++i) want += std::to_string(kStandardK[i]) + ": mod 0:\n";
  want += "\n";
  EXPECT_EQ(out, want);
}

TEST(ReadDb, VerboseOneOutput) {
  VerboseGuard v(1);
  std::string out;
  ASSERT_TRUE(read_text(db_text({{4847, {15, 39, 87}}, {5359, {6, 14}}}, 1000), &out));
  std::string want =
      "k: 4847. All remaining n = 15 (mod 24).\n"
      "k: 5359. All remaining n = 6 (mod 8).\n"
      "4847 has 3 unfactored 0<=n<=1000\n"
      "5359 has 2 unfactored 0<=n<=1000\n";
  for (int i = 2; i < kNumK; ++i) want += std::to_string(kStandardK[i]) + " has 0 unfactored 0<=n<=1000\n";
  want += "Total: 5 unfactored\n\n";
  EXPECT_EQ(out, want);
}

// The two doubles of a -vv line print with six significant digits.
TEST(ReadDb, VerboseTwoDoubleFormatting) {
  VerboseGuard v(2);
  std::string out;
  ASSERT_TRUE(read_text(db_text({{7, {0, 7, 14}}}), &out));
  EXPECT_NE(out.find("k: 7 a: 7(1*7) : 1 diff. a/diff: 7 factor: 1\n"
                     "k: 7 a: 28(4*7) : 3 diff. a/diff: 9.33333 factor: 1.33333\n"
                     "k: 7 a: 35(5*7) : 3 diff. a/diff: 11.6667 factor: 1.66667\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("k: 7 a: 343(49*7) : 3 diff. a/diff: 114.333 factor: 16.3333\n\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("7: mod 343: 0 7 14\n"), std::string::npos) << out;
}

// Line breaks, blanks, tabs, carriage returns and a missing final newline
// carry no meaning.
TEST(ReadDb, LayoutDoesNotMatter) {
  const auto secs = twelve_sections({15, 39, 87});
  ASSERT_TRUE(read_text(db_text(secs)));
  const DbState base = DbState::capture();

  std::string no_final_newline = db_text(secs);
  no_final_newline.pop_back();
  std::string spaced_k = db_text(secs);
  for (size_t p = 0; (p = spaced_k.find("k=", p)) != std::string::npos; p += 4) spaced_k.replace(p, 2, "k = ");
  const std::string variants[] = {
      db_text(secs, 20000000, " "),   db_text(secs, 20000000, "\r\n"), db_text(secs, 20000000, "\t"),
      db_text(secs, 20000000, "\n\n  "), no_final_newline,            spaced_k,
  };
  for (const std::string& text : variants) {
    ASSERT_TRUE(read_text(text)) << text.substr(0, 60);
    EXPECT_TRUE(DbState::capture() == base) << text.substr(0, 60);
  }
  // Any separator character after "k" is accepted.
  std::string colon = db_text(secs);
  colon.replace(colon.find("k=4847"), 2, "k:");
  ASSERT_TRUE(read_text(colon));
  EXPECT_TRUE(DbState::capture() == base);
}

// "+0" adds nothing and leaves the gcd alone, also as the first record.
TEST(ReadDb, PlusZeroRecords) {
  ASSERT_TRUE(read_text("12 0 1000 k=4847 15 +0 +24 +0 +48 +0 k=5359 6 +8"));
  EXPECT_EQ(aunfacset[0], (std::set<uint32_t>{15, 39, 87}));
  EXPECT_EQ(akpower[0], 24u);
  EXPECT_EQ(akequiv[0], 15u);
}

// The reader keeps an n above nhigh: it counts in the summary and takes part
// in the analysis.
TEST(ReadDb, NAboveNhighIsKept) {
  VerboseGuard v(1);
  std::string out;
  ASSERT_TRUE(read_text(db_text({{4847, {15, 39, 1527}}}, 100), &out));
  EXPECT_EQ(nhigh, 100u);
  EXPECT_EQ(aunfacset[0], (std::set<uint32_t>{15, 39, 1527}));
  EXPECT_EQ(akpower[0], 24u);
  EXPECT_NE(out.find("4847 has 3 unfactored 0<=n<=100\n"), std::string::npos);
  // 1527 = 15 + 63*24 lands in its own class modulo 1176.
  EXPECT_EQ(akmod[0], 1176u);
  EXPECT_EQ(residues(), (std::vector<uint32_t>{15, 39, 351}));
}

// Later slots get the built-in k back (even after a file with other k was
// read), an empty set and zero tables.
TEST(ReadDb, FewerThanTwelveSections) {
  std::vector<Section> other;
  for (int i = 0; i < kNumK; ++i) other.push_back({1001 + 2 * i, {1, 3, 5}});
  ASSERT_TRUE(read_text(db_text(other)));
  ASSERT_EQ(ak[5], 1011);

  ASSERT_TRUE(read_text(db_text({{3, {1, 5}}, {5, {2, 8, 14}}}, 777)));
  EXPECT_EQ(ak[0], 3);
  EXPECT_EQ(ak[1], 5);
  EXPECT_EQ(akpower[1], 6u);
  EXPECT_EQ(akequiv[1], 2u);
  for (int i = 2; i < kNumK; ++i) {
    EXPECT_EQ(ak[i], kStandardK[i]) << i;
    EXPECT_TRUE(aunfacset[i].empty()) << i;
    EXPECT_EQ(akpower[i], 0u) << i;
    EXPECT_EQ(akequiv[i], 0u) << i;
    EXPECT_EQ(akmod[i], 0u) << i;
    EXPECT_EQ(aknres[i], 0u) << i;
  }
}

TEST(ReadDb, MissingFile) {
  ASSERT_TRUE(read_text(db_text(twelve_sections({15, 39, 87}))));
  const DbState before = DbState::capture();
  TempDir dir;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_db(dir.file("Vex.dat")));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "You need a Vex.dat file to run this program. Get it from the VX forums.\n");
  EXPECT_TRUE(DbState::capture() == before);
}

// Extremes of the 32-bit range: the largest n, and a gcd so large that only
// multipliers keeping akmod below 2^32 are tried.
TEST(ReadDb, LargeValues) {
  ASSERT_TRUE(read_text("12 0 4294967295 k=2147483647 0 +4294967295 k=9 5 +100000000"));
  EXPECT_EQ(ak[0], 2147483647);
  EXPECT_EQ(nhigh, 4294967295u);
  EXPECT_EQ(aunfacset[0], (std::set<uint32_t>{0, 4294967295u}));
  EXPECT_EQ(akpower[0], 4294967295u);
  EXPECT_EQ(akequiv[0], 0u);
  EXPECT_EQ(akmod[0], 4294967295u);
  EXPECT_EQ(aknres[0], 1u);
  // 42 * 10^8 is the largest multiple below 2^32; two classes give 42/2.
  EXPECT_EQ(akpower[1], 100000000u);
  EXPECT_EQ(akmod[1], 4200000000u);
  EXPECT_EQ(residues().size(), 1u);  // slot 0
  EXPECT_EQ(std::vector<uint32_t>(akares[1], akares[1] + aknres[1]), (std::vector<uint32_t>{5, 100000005}));
}

// Brute-force oracle for one slot: gcd of the differences, and the multiplier
// with the largest m/d (compared exactly as fractions; ties keep the smaller
// m) among those with at most 10 classes and m*gcd below 2^32.
struct Expected {
  uint32_t power, equiv, mod;
  std::vector<uint32_t> res;
};

Expected oracle(const std::set<uint32_t>& s) {
  uint64_t g = 0, prev = *s.begin();
  for (uint32_t n : s) {
    g = std::gcd(g, uint64_t(n) - prev);
    prev = n;
  }
  uint64_t best_m = 0, best_d = 1;
  for (uint64_t m = 1; m <= 49 && m * g <= 0xFFFFFFFFULL; ++m) {
    std::set<uint64_t> classes;
    for (uint32_t n : s) classes.insert(n % (m * g));
    const uint64_t d = classes.size();
    if (d <= 10 && m * best_d > best_m * d) {
      best_m = m;
      best_d = d;
    }
  }
  std::set<uint32_t> res;
  for (uint32_t n : s) res.insert(uint32_t(n % (best_m * g)));
  return {uint32_t(g), uint32_t(*s.rbegin() % g), uint32_t(best_m * g), {res.begin(), res.end()}};
}

TEST(ReadDb, AnalysisMatchesBruteForce) {
  std::mt19937 rng(12345);
  const uint32_t powers[] = {1, 2, 6, 7, 24, 72, 1000, 99999989, 1000000000};
  for (int round = 0; round < 40; ++round) {
    std::vector<Section> secs;
    for (int i = 0; i < kNumK; ++i) {
      const uint32_t g = powers[rng() % 9];
      const uint32_t e = rng() % g;
      const uint64_t tmax = (0xFFFFFFFFULL - e) / g;
      // n = e + g*t with t drawn from a few classes modulo q, so that some
      // multipliers leave few classes.
      const uint32_t q = 1 + rng() % 12;
      std::vector<uint32_t> allowed;
      for (uint32_t r = 0; r < q; ++r)
        if (rng() % 2) allowed.push_back(r);
      if (allowed.empty()) allowed.push_back(0);
      std::set<uint32_t> s;
      const int count = 2 + rng() % 200;
      const uint64_t span = std::min<uint64_t>(tmax / q, 1 + rng() % 5000);
      while (s.size() < size_t(count) && s.size() < span) {
        const uint64_t t = (rng() % span) * q + allowed[rng() % allowed.size()];
        if (t <= tmax) s.insert(uint32_t(e + g * t));
      }
      if (s.size() < 2) s = {e, uint32_t(e + g)};
      secs.push_back({int32_t(1 + rng() % 100000), {s.begin(), s.end()}});
    }
    ASSERT_TRUE(read_text(db_text(secs)));
    for (int i = 0; i < kNumK; ++i) {
      const std::set<uint32_t> s(secs[i].n.begin(), secs[i].n.end());
      const Expected want = oracle(s);
      ASSERT_EQ(aunfacset[i], s);
      EXPECT_EQ(akpower[i], want.power) << round << " " << i;
      EXPECT_EQ(akequiv[i], want.equiv) << round << " " << i;
      EXPECT_EQ(akmod[i], want.mod) << round << " " << i;
      EXPECT_EQ(std::vector<uint32_t>(akares[i], akares[i] + aknres[i]), want.res) << round << " " << i;
    }
  }
}

// Every malformed file: false, exactly one line that names the problem and
// where it is, and the state of the previous read left intact.
TEST(ReadDb, MalformedFilesAreRejected) {
  const std::string h = "12\n0\n1000\n";  // header, lines 1-3
  const std::string good2 = "k=5359\n6\n+8\n";
  std::string thirteen = h;
  for (int i = 0; i < 13; ++i) thirteen += "k=" + std::to_string(11 + 2 * i) + "\n1\n+2\n";
  struct Case {
    const char* name;
    std::string text;
    std::string want;  // substring of the message
  };
  const Case cases[] = {
      {"empty", "", "the file is empty"},
      {"only blanks", " \r\n\n\t ", "the file is empty"},
      {"header cut short", "12\n0\n", "line 3: expected the highest n (header), found end of file"},
      {"header not a number", "12\nzero\n1000\n", "line 2: expected the lowest n (header), found \"z\""},
      {"header only", h, "no sections after the header"},
      {"nhigh too large", "12\n0\n4294967296\n" + good2, "line 3: the highest n (header) is too large: 4294967296"},
      {"plus before first k", h + "+5\n" + good2, "line 4: \"+\" before the first k"},
      {"k at end of file", h + good2 + "k", "line 7: the file ends after \"k\""},
      {"k without number", h + good2 + "k=\n", "expected k, found end of file"},
      {"k not a number", h + "k=abc\n1\n+2\n", "line 4: expected k, found \"a\""},
      {"digit as separator", h + "k4847\n1\n+2\n", "line 4: expected a separator such as \"=\""},
      {"next k taken as n", h + "k=4847\nk=5359\n6\n+8\n",
       "line 5: expected the first n in section k=4847, found \"k\""},
      {"section without n at end", h + good2 + "k=4847\n", "line 8: expected the first n in section k=4847, found end of file"},
      {"single n", h + "k=4847\n15\n" + good2, "line 4: section k=4847 has fewer than two distinct n"},
      {"single n at end", h + good2 + "k=4847\n15\n", "line 7: section k=4847 has fewer than two distinct n"},
      {"one n repeated", h + "k=4847\n15\n+0\n+0\n" + good2,
       "line 4: section k=4847 has fewer than two distinct n"},
      {"thirteen sections", thirteen, "line 40: more than 12 sections"},
      {"difference missing", h + "k=4847\n15\n+\n" + good2, "line 7: expected a difference after \"+\" in section k=4847, found \"k\""},
      {"difference at end", h + "k=4847\n15\n+24\n+", "expected a difference after \"+\" in section k=4847, found end of file"},
      {"negative difference", h + "k=4847\n15\n+-5\n", "line 6: expected a difference after \"+\" in section k=4847, found \"-\""},
      {"first n too large", h + "k=4847\n4294967296\n+1\n", "line 5: the first n in section k=4847 is too large: 4294967296 (at most 4294967295)"},
      {"difference too large", h + "k=4847\n0\n+4294967296\n", "line 6: a difference after \"+\" in section k=4847 is too large: 4294967296"},
      {"running sum overflows", h + "k=4847\n4294967290\n+5\n+1\n",
       "line 7: n overflows 32 bits in section k=4847: 4294967295 + 1 is above 4294967295"},
      {"k of 2^31", h + "k=2147483648\n1\n+2\n", "line 4: k is too large: 2147483648 (at most 2147483647)"},
      {"k with forty digits", h + "k=" + std::string(40, '9') + "\n1\n+2\n", "k is too large: 999999999999999999999999..."},
      {"control character", h + "k=4847\n15\n+\x01\n", "found character 0x01"},
  };

  ASSERT_TRUE(read_text(db_text(twelve_sections({15, 39, 87}))));
  const DbState before = DbState::capture();
  for (const Case& c : cases) {
    std::string out;
    EXPECT_FALSE(read_text(c.text, &out)) << c.name;
    EXPECT_EQ(out.rfind("Error in ", 0), 0u) << c.name << ": " << out;
    EXPECT_NE(out.find(c.want), std::string::npos) << c.name << ": " << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << c.name << ": " << out;
    EXPECT_TRUE(DbState::capture() == before) << c.name;
  }
}

TEST(ReadDb, UnreadableFileIsReported) {
  TempDir dir;
  const std::string path = dir.file("Vex.dat");
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_db(path));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Error reading " + path + ": Is a directory\n");
}

}  // namespace
