// Factor reporting: which file a hit goes to, the console line and its
// annotations (plain and "(xmod" forms at each verbosity), removal from the
// candidate set, appending to existing files, and the fatal cases: a factor
// file that cannot be written and a hit that is not a factor.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "search/report.h"
#include "search_test_util.h"

namespace {

using namespace search_test;

constexpr uint64_t kP = 1000000007;  // below 2^31, so every k < p is a valid k
constexpr int kSlot = 3;
constexpr uint32_t kNhigh = 1000;

std::string factor_line(uint64_t p, int64_t k, uint32_t n) {
  return std::to_string(p) + " | " + std::to_string(k) + "*2^" + std::to_string(n) + "+1";
}

std::string regex_escape(const std::string& s) {
  return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

class ReportTest : public testing::Test {
 protected:
  void SetUp() override { reset_db(kNhigh); }
  void TearDown() override { reset_db(kDefaultNhigh); }

  // Makes ak[kSlot]*2^n+1 divisible by kP and returns the file line of the hit.
  std::string prepare(uint32_t n) {
    ak[kSlot] = static_cast<int32_t>(k_with_factor(kP, n));
    return factor_line(kP, ak[kSlot], n);
  }

  // Reports the hit and returns the console output.
  std::string report(uint32_t n, uint32_t xmod) {
    testing::internal::CaptureStdout();
    report_factor(kP, kSlot, n, xmod);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(ReportTest, FileConsoleAndSetForEachKindOfHit) {
  struct row {
    const char* what;
    bool in_set;
    uint32_t n;
    bool dupes;
    int verb;
    uint32_t xmod;
    const char* file;        // nullptr: nothing written, nothing printed
    const char* annotation;  // after "+1" on the console
  };
  const row rows[] = {
      {"new", true, 500, true, 0, 0, "fact.txt", ""},
      {"new with -d", true, 500, false, 0, 0, "fact.txt", ""},
      {"new at nhigh", true, kNhigh, true, 1, 0, "fact.txt", ""},
      {"duplicate", false, 500, true, 0, 0, "factexcl.txt", "\t(duplicate)"},
      {"duplicate with -d", false, 500, false, 0, 0, nullptr, ""},
      {"outside range", false, kNhigh + 1, true, 0, 0, "factexcl.txt", "\t(outside range)"},
      {"outside range with -d", false, kNhigh + 1, false, 0, 0, nullptr, ""},
      {"outside range, still a candidate", true, kNhigh + 1, false, 0, 0, "fact.txt",
       "\t(outside range)"},
      {"no xmod at verbose 1", false, 500, true, 1, 0, "factexcl.txt", "\t(duplicate)"},
      {"xmod at verbose 0, new", true, 500, true, 0, 6096, "fact.txt", ""},
      {"xmod at verbose 0, duplicate", false, 500, true, 0, 6096, "factexcl.txt", "\t(duplicate)"},
      {"xmod at verbose 0, outside", false, 4000, true, 0, 6096, "factexcl.txt",
       "\t(outside range)"},
      {"xmod at verbose 1, new", true, 500, true, 1, 6096, "fact.txt", "\t(xmod 6096)"},
      {"xmod at verbose 1, duplicate", false, 500, true, 1, 6096, "factexcl.txt",
       "\t(xmod 6096, duplicate)"},
      {"xmod at verbose 2, outside", false, 4000, true, 2, 226, "factexcl.txt",
       "\t(xmod 226, outside range)"},
      {"xmod at verbose 1, outside, candidate", true, 4000, true, 1, 226, "fact.txt",
       "\t(xmod 226, outside range)"},
      {"xmod at verbose 1 with -d, duplicate", false, 500, false, 1, 226, nullptr, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    reset_db(kNhigh);
    outputdupes = r.dupes;
    verbose = r.verb;
    const std::string line = prepare(r.n);
    aunfacset[kSlot] = {7, r.n - 1, r.n + 1};
    if (r.in_set) aunfacset[kSlot].insert(r.n);

    const std::string console = report(r.n, r.xmod);

    if (r.file == nullptr) {
      EXPECT_EQ(console, "");
      EXPECT_FALSE(file_exists("fact.txt"));
      EXPECT_FALSE(file_exists("factexcl.txt"));
    } else {
      EXPECT_EQ(console, line + r.annotation + "\n");
      EXPECT_EQ(read_file(r.file), line + "\n");
      const std::string other = std::string(r.file) == "fact.txt" ? "factexcl.txt" : "fact.txt";
      EXPECT_FALSE(file_exists(other));
    }
    EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{7, r.n - 1, r.n + 1}));
  }
}

// A factor, 12598339027 | 10223*2^41+1, then the same hit again from a later
// search: the second goes to "factexcl.txt" as a duplicate; files that exist
// keep their content.
TEST_F(ReportTest, RepeatedHitIsADuplicateAndFilesAreAppended) {
  TempDir dir;
  const uint64_t p = 12598339027ULL;
  ASSERT_TRUE(ref_divides(p, 10223, 41));
  ASSERT_EQ(ak[2], 10223);
  aunfacset[2] = {5, 41, 77};
  {
    std::ofstream("fact.txt") << "1 | 3*2^1+1\n";
    std::ofstream("factexcl.txt") << "2 | 3*2^2+1\n";
  }
  testing::internal::CaptureStdout();
  report_factor(p, 2, 41);
  report_factor(p, 2, 41);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, "12598339027 | 10223*2^41+1\n12598339027 | 10223*2^41+1\t(duplicate)\n");
  EXPECT_EQ(read_file("fact.txt"), "1 | 3*2^1+1\n12598339027 | 10223*2^41+1\n");
  EXPECT_EQ(read_file("factexcl.txt"), "2 | 3*2^2+1\n12598339027 | 10223*2^41+1\n");
  EXPECT_EQ(aunfacset[2], (std::set<uint32_t>{5, 77}));
}

// A factor line that cannot be stored must not vanish: the run ends with
// exit status 1 and a message naming the file and the factor. A directory of
// the file's name makes the append fail even for root.
TEST_F(ReportTest, UnwritableFactorFileEndsTheRun) {
  TempDir dir;
  ASSERT_EQ(mkdir("fact.txt", 0755), 0);
  const std::string line = prepare(500);
  aunfacset[kSlot] = {500};
  EXPECT_EXIT(report_factor(kP, kSlot, 500), testing::ExitedWithCode(1),
              "fact\\.txt.*" + regex_escape(line));
  // An excluded hit does not need "fact.txt" and is stored as usual.
  aunfacset[kSlot].clear();
  testing::internal::CaptureStdout();
  report_factor(kP, kSlot, 500);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line + "\t(duplicate)\n");
  EXPECT_EQ(read_file("factexcl.txt"), line + "\n");
}

TEST_F(ReportTest, UnwritableExclusionFileEndsTheRun) {
  TempDir dir;
  ASSERT_EQ(mkdir("factexcl.txt", 0755), 0);
  const std::string line = prepare(kNhigh + 5);
  EXPECT_EXIT(report_factor(kP, kSlot, kNhigh + 5, 6096), testing::ExitedWithCode(1),
              "factexcl\\.txt.*" + regex_escape(line));
  // With -d the excluded hit is not written anywhere, so nothing fails.
  outputdupes = false;
  testing::internal::CaptureStdout();
  report_factor(kP, kSlot, kNhigh + 5, 6096);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ReportTest, HitThatIsNotAFactorIsAnInternalError) {
  TempDir dir;
  prepare(500);
  aunfacset[kSlot] = {500, 501};
  EXPECT_EXIT(report_factor(kP, kSlot, 501), testing::ExitedWithCode(1), "not a factor");
  ASSERT_FALSE(ref_divides(kP + 2, ak[kSlot], 500));
  EXPECT_EXIT(report_factor(kP + 2, kSlot, 500), testing::ExitedWithCode(1), "not a factor");
  EXPECT_FALSE(file_exists("fact.txt"));
}

}  // namespace
