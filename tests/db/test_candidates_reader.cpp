// Candidate file reader: small files read exactly, layout independence, the
// residue-class analysis against a brute-force oracle, the verbose output
// line by line, sections with fewer than two distinct n, and one table of
// malformed files that must be rejected with a single message and no change
// of state.
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

// Twelve sections, slot 0 holding {15, 39, 87}: its class 15 (mod 24), and
// the multiplier and residues that three n give.
TEST(ReadDb, TwelveSectionsThreeN) {
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

// Line breaks, blanks, tabs, carriage returns, vertical tabs, form feeds
// and a missing final newline carry no meaning; blanks may stand around the
// "=" of "k=". (Another separator than "=" is refused, see the malformed
// files.)
TEST(ReadDb, LayoutDoesNotMatter) {
  const auto secs = twelve_sections({15, 39, 87});
  ASSERT_TRUE(read_text(db_text(secs)));
  const DbState base = DbState::capture();

  std::string no_final_newline = db_text(secs);
  no_final_newline.pop_back();
  std::string spaced_k = db_text(secs);
  for (size_t p = 0; (p = spaced_k.find("k=", p)) != std::string::npos; p += 4) spaced_k.replace(p, 2, "k = ");
  std::string broken_k = db_text(secs, 20000000, "\r\n");
  for (size_t p = 0; (p = broken_k.find("k=", p)) != std::string::npos; p += 7)
    broken_k.replace(p, 2, "k\r\n=\t\n");
  const std::string variants[] = {
      db_text(secs, 20000000, " "),     db_text(secs, 20000000, "\r\n"), db_text(secs, 20000000, "\t"),
      db_text(secs, 20000000, "\n\n  "), db_text(secs, 20000000, "\v\f"), no_final_newline,
      spaced_k,                         broken_k,                        " \n\t" + db_text(secs),
  };
  for (const std::string& text : variants) {
    ASSERT_TRUE(read_text(text)) << text.substr(0, 60);
    EXPECT_TRUE(DbState::capture() == base) << text.substr(0, 60);
  }
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
            "You need a Vex.dat file to run this program; vexgen writes a starter file.\n");
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
      {"digit as separator", h + "k4847\n1\n+2\n", "line 4: expected \"=\" between \"k\" and its value, found \"4\""},
      {"colon as separator", h + "k:4847\n1\n+2\n", "line 4: expected \"=\" between \"k\" and its value, found \":\""},
      {"thirteen sections", thirteen, "line 40: more than 12 sections"},
      {"difference missing", h + "k=4847\n15\n+\n" + good2,
       "line 6: expected a difference after \"+\" in section k=4847, found a line break"},
      {"difference at end", h + "k=4847\n15\n+24\n+", "expected a difference after \"+\" in section k=4847, found end of file"},
      {"negative difference", h + "k=4847\n15\n+-5\n", "line 6: expected a difference after \"+\" in section k=4847, found \"-\""},
      {"first n too large", h + "k=4847\n4294967296\n+1\n", "line 5: the first n in section k=4847 is too large: 4294967296 (at most 4294967295)"},
      {"difference too large", h + "k=4847\n0\n+4294967296\n", "line 6: a difference after \"+\" in section k=4847 is too large: 4294967296"},
      {"running sum overflows", h + "k=4847\n4294967290\n+5\n+1\n",
       "line 7: n overflows 32 bits in section k=4847: 4294967295 + 1 is above 4294967295"},
      {"k of 2^31", h + "k=2147483648\n1\n+2\n", "line 4: k is too large: 2147483648 (at most 2147483647)"},
      {"k with forty digits", h + "k=" + std::string(40, '9') + "\n1\n+2\n", "k is too large: 999999999999999999999999..."},
      {"control character", h + "k=4847\n15\n+\x01\n", "line 6: expected a difference after \"+\" in section k=4847, found character 0x01"},

      // A bare number where a "+<diff>" belongs: one "+" lost turns
      // 15 +24 +24 +24 into 15 +24 48 +24.
      {"plus lost", h + "k=4847\n15\n+24\n48\n+24\n" + good2,
       "line 7: expected \"+<difference>\" in section k=4847, found the number 48"},
      {"plus lost at end", h + good2 + "14\n", "line 7: expected \"+<difference>\" in section k=5359, found the number 14"},
      {"number after the header", h + "5\n" + good2, "line 4: expected \"k=<k>\" after the header, found the number 5"},
      {"plus with a blank", h + "k=4847\n15\n+ 24\n", "line 6: expected a difference after \"+\" in section k=4847, found a blank"},
      {"plus before the first n", h + "k=4847\n+24\n", "line 5: expected the first n in section k=4847, found \"+\""},
      // Text glued to a number.
      {"letters after nhigh", "12\n0\n1000001000e3\n" + good2,
       "line 3: text glued to the highest n (header): \"e\" after 1000001000"},
      {"comma between header numbers", "12,0,1000\n" + good2,
       "line 1: text glued to the number of sections (header): \",\" after 12"},
      {"letter after k", h + "k=4847x\n15\n", "line 4: text glued to k: \"x\" after 4847"},
      {"letter after first n", h + "k=4847\n15a\n+24\n", "line 5: text glued to the first n in section k=4847: \"a\" after 15"},
      {"two differences glued", h + "k=4847\n15\n+24+24\n",
       "line 6: text glued to a difference after \"+\" in section k=4847: \"+\" after 24"},
      {"k glued to a difference", h + "k=4847\n15\n+24k=5359\n6\n",
       "line 6: text glued to a difference after \"+\" in section k=4847: \"k\" after 24"},
      {"NUL glued to a number", h + "k=4847\n15\n+24" + std::string(1, '\0'),
       "line 6: text glued to a difference after \"+\" in section k=4847: character 0x00 after 24"},
      // Characters outside the grammar.
      {"comment after the header", h + "# list\n" + good2, "line 4: expected \"k=<k>\" after the header, found \"#\""},
      {"letter before the first n", h + "k=4847\nn=15\n", "line 5: expected the first n in section k=4847, found \"n\""},
      {"letter between items", h + good2 + "x\n", "line 7: expected \"+<difference>\" in section k=5359, found \"x\""},
      {"upper-case K", h + "K=4847\n15\n", "line 4: expected \"k=<k>\" after the header, found \"K\""},
      {"NUL padding", h + good2 + std::string(4, '\0'),
       "line 7: expected \"+<difference>\" in section k=5359, found character 0x00"},
      {"byte above 0x7f", h + good2 + "\xff", "line 7: expected \"+<difference>\" in section k=5359, found character 0xff"},
      {"byte order mark", "\xef\xbb\xbf" + h + good2, "line 1: expected the number of sections (header), found character 0xef"},
      {"DEL", h + "k=4847\n\x7f", "line 5: expected the first n in section k=4847, found character 0x7f"},
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

// A section with no n, or with one distinct n, is a k without class
// information: akpower, akequiv, akmod and aknres 0, like the empty slots
// after the file's last section. Factors can leave a k with one n (or none)
// in a long search, and the writer writes such sets this way.
TEST(ReadDb, SectionsWithFewerThanTwoDistinctN) {
  const std::string h = "12\n0\n1000\n";
  const std::string good2 = "k=5359\n6\n+8\n";
  struct Case {
    const char* name;
    std::string text;
    int slot;                // the short section
    int32_t k;               // its k
    std::set<uint32_t> set;  // its n
    int sections;            // sections in the file; slot 1 is {6, 14} when below it
  };
  const Case cases[] = {
      {"single n", h + "k=4847\n15\n" + good2, 0, 4847, {15}, 2},
      {"single n at end", h + good2 + "k=4847\n15\n", 1, 4847, {15}, 2},
      {"single n without final newline", h + good2 + "k=4847 15", 1, 4847, {15}, 2},
      {"one n repeated", h + "k=4847\n15\n+0\n+0\n" + good2, 0, 4847, {15}, 2},
      {"n = 0 alone", h + "k=4847\n0\n" + good2, 0, 4847, {0}, 2},
      {"largest n alone", h + "k=4847\n4294967295\n" + good2, 0, 4847, {4294967295u}, 2},
      {"single n above nhigh", h + "k=10223\n18540221\n" + good2, 0, 10223, {18540221}, 2},
      {"empty section", h + "k=4847\n" + good2, 0, 4847, {}, 2},
      {"empty section at end", h + good2 + "k=4847\n", 1, 4847, {}, 2},
      {"empty section without final newline", h + good2 + "k=4847", 1, 4847, {}, 2},
      {"empty section, blanks around =", h + "k = 4847 " + good2, 0, 4847, {}, 2},
      {"other k in empty section", h + "k=3\n" + good2, 0, 3, {}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Start from a state where every slot has a class, so that stale tables
    // would show.
    ASSERT_TRUE(read_text(db_text(twelve_sections({15, 39, 87}))));
    std::string out;
    ASSERT_TRUE(read_text(c.text, &out)) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(ak[c.slot], c.k);
    EXPECT_EQ(aunfacset[c.slot], c.set);
    EXPECT_EQ(akpower[c.slot], 0u);
    EXPECT_EQ(akequiv[c.slot], 0u);
    EXPECT_EQ(akmod[c.slot], 0u);
    EXPECT_EQ(aknres[c.slot], 0u);
    const int other = 1 - c.slot;  // the "k=5359 6 +8" section
    EXPECT_EQ(ak[other], 5359);
    EXPECT_EQ(aunfacset[other], (std::set<uint32_t>{6, 14}));
    EXPECT_EQ(akpower[other], 8u);
    EXPECT_EQ(akequiv[other], 6u);
    for (int i = c.sections; i < kNumK; ++i) {
      EXPECT_EQ(ak[i], kStandardK[i]) << i;
      EXPECT_TRUE(aunfacset[i].empty()) << i;
      EXPECT_EQ(akpower[i] | akequiv[i] | akmod[i] | aknres[i], 0u) << i;
    }
  }

  // At -v such a section says that it has no class.
  VerboseGuard v(1);
  std::string out;
  ASSERT_TRUE(read_text(h + "k=4847\n15\n" + good2 + "k=10223\n", &out));
  std::string want =
      "k: 4847. Fewer than two distinct n: no residue class.\n"
      "k: 5359. All remaining n = 6 (mod 8).\n"
      "k: 10223. Fewer than two distinct n: no residue class.\n"
      "4847 has 1 unfactored 0<=n<=1000\n"
      "5359 has 2 unfactored 0<=n<=1000\n"
      "10223 has 0 unfactored 0<=n<=1000\n";
  for (int i = 3; i < kNumK; ++i) want += std::to_string(kStandardK[i]) + " has 0 unfactored 0<=n<=1000\n";
  want += "Total: 3 unfactored\n\n";
  EXPECT_EQ(out, want);
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
