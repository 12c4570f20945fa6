// Filing the hits (the program's factor sink): which file a hit goes to, the
// console line and its annotations (plain and "(xmod" forms at each
// verbosity), a slot's lone n filed only while it is a candidate, removal
// from the candidate set, appending to existing files, the line that ends an
// open progress line, the batched form that waits for flush(), and the
// failures: a factor file that cannot be written and a hit that is not a
// factor are recorded, leave n in its set, and stop all later filing.
#include "app/factor_sink.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "common/test_files.h"
#include "db/candidates.h"
#include "db/settings.h"
#include "search/plan.h"

namespace {

using u128 = unsigned __int128;

constexpr uint64_t kP = 1000000007;  // below 2^31, so every k < p is a valid k
constexpr int kSlot = 3;
constexpr uint32_t kNhigh = 1000;
const char* const kFact = "fact.txt";
const char* const kExcl = "factexcl.txt";

uint64_t pow_mod(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t r = 1;
  for (b %= p; e != 0; e >>= 1, b = static_cast<uint64_t>(static_cast<u128>(b) * b % p)) {
    if (e & 1) r = static_cast<uint64_t>(static_cast<u128>(r) * b % p);
  }
  return r;
}

// True when p divides k*2^n+1.
bool divides(uint64_t p, uint64_t k, uint64_t n) {
  return (static_cast<u128>(k % p) * pow_mod(2, n, p) + 1) % p == 0;
}

std::string factor_line(uint64_t p, int64_t k, uint32_t n) {
  return std::to_string(p) + " | " + std::to_string(k) + "*2^" + std::to_string(n) + "+1";
}

std::string regex_escape(const std::string& s) {
  return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

factor_hit make_hit(uint64_t p, uint32_t n, uint32_t xmod = 0, int slot = kSlot, bool only_if_candidate = false) {
  return factor_hit{p, n, xmod, static_cast<uint8_t>(slot), only_if_candidate};
}

// Each test works in a fresh directory, with the built-in k, empty sets,
// nhigh 1000, verbose 0 and excluded factors filed.
class FactorSinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    reset_db(kNhigh);
  }
  void TearDown() override {
    reset_db(kDefaultNhigh);
    progress_line_open = false;
    std::filesystem::current_path(old_);
  }

  static void reset_db(uint32_t nh) {
    for (int i = 0; i < kNumK; ++i) {
      ak[i] = kBuiltinK[i];
      aunfacset[i].clear();
    }
    nhigh = nh;
    verbose = 0;
    outputdupes = true;
  }

  static void remove_factor_files() {
    std::filesystem::remove_all(kFact);
    std::filesystem::remove_all(kExcl);
  }

  // Makes ak[kSlot]*2^n+1 divisible by kP (k = -(2^n)^-1 mod kP) and returns
  // the file line of the hit.
  static std::string prepare(uint32_t n) {
    const uint64_t k = kP - pow_mod(pow_mod(2, n, kP), kP - 2, kP);
    ak[kSlot] = static_cast<int32_t>(k);
    EXPECT_TRUE(divides(kP, k, n));
    return factor_line(kP, ak[kSlot], n);
  }

  // Files the hit and returns the console output.
  static std::string file(program_sink& sink, const factor_hit& h) {
    testing::internal::CaptureStdout();
    sink.hit(h);
    return testing::internal::GetCapturedStdout();
  }

  testfiles::TempDir dir_{"brindle_sink"};
  std::filesystem::path old_;
};

TEST_F(FactorSinkTest, FileConsoleAndSetForEachKindOfHit) {
  struct row {
    const char* what;
    bool in_set;
    uint32_t n;
    bool dupes;
    int verb;
    uint32_t xmod;
    bool only_if_candidate;
    const char* file;        // nullptr: nothing written, nothing printed
    const char* annotation;  // after "+1" on the console
  };
  const row rows[] = {
      {"new", true, 500, true, 0, 0, false, "fact.txt", ""},
      {"new with -d", true, 500, false, 0, 0, false, "fact.txt", ""},
      {"new at nhigh", true, kNhigh, true, 1, 0, false, "fact.txt", ""},
      {"duplicate", false, 500, true, 0, 0, false, "factexcl.txt", "\t(duplicate)"},
      {"duplicate with -d", false, 500, false, 0, 0, false, nullptr, ""},
      {"outside range", false, kNhigh + 1, true, 0, 0, false, "factexcl.txt", "\t(outside range)"},
      {"outside range with -d", false, kNhigh + 1, false, 0, 0, false, nullptr, ""},
      {"outside range, still a candidate", true, kNhigh + 1, false, 0, 0, false, "fact.txt",
       "\t(outside range)"},
      {"no xmod at verbose 1", false, 500, true, 1, 0, false, "factexcl.txt", "\t(duplicate)"},
      {"xmod at verbose 0, new", true, 500, true, 0, 6096, false, "fact.txt", ""},
      {"xmod at verbose 0, duplicate", false, 500, true, 0, 6096, false, "factexcl.txt", "\t(duplicate)"},
      {"xmod at verbose 0, outside", false, 4000, true, 0, 6096, false, "factexcl.txt",
       "\t(outside range)"},
      {"xmod at verbose 1, new", true, 500, true, 1, 6096, false, "fact.txt", "\t(xmod 6096)"},
      {"xmod at verbose 1, duplicate", false, 500, true, 1, 6096, false, "factexcl.txt",
       "\t(xmod 6096, duplicate)"},
      {"xmod at verbose 2, outside", false, 4000, true, 2, 226, false, "factexcl.txt",
       "\t(xmod 226, outside range)"},
      {"xmod at verbose 1, outside, candidate", true, 4000, true, 1, 226, false, "fact.txt",
       "\t(xmod 226, outside range)"},
      {"xmod at verbose 1 with -d, duplicate", false, 500, false, 1, 226, false, nullptr, ""},
      // A slot's lone n, tested directly: filed only while it is a candidate.
      {"lone n, a candidate", true, 500, true, 0, 0, true, "fact.txt", ""},
      {"lone n, a candidate, verbose 1", true, 500, true, 1, 0, true, "fact.txt", ""},
      {"lone n, no longer a candidate", false, 500, true, 0, 0, true, nullptr, ""},
      {"lone n, no longer a candidate, with -d", false, 500, false, 0, 0, true, nullptr, ""},
  };
  // Each hit as the search hands it over, and checked beforehand by a
  // worker thread (precheck_hit against the plan's start sets): both must
  // be filed the same way.
  for (const bool prechecked : {false, true})
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.what) + (prechecked ? ", prechecked" : ""));
    remove_factor_files();
    reset_db(kNhigh);
    outputdupes = r.dupes;
    verbose = r.verb;
    const std::string line = prepare(r.n);
    aunfacset[kSlot] = {7, r.n - 1, r.n + 1};
    if (r.in_set) aunfacset[kSlot].insert(r.n);

    factor_hit h = make_hit(kP, r.n, r.xmod, kSlot, r.only_if_candidate);
    if (prechecked) {
      const std::unique_ptr<search_plan> plan(new search_plan());
      build_search_plan(*plan);
      precheck_hit(*plan, h);
      EXPECT_TRUE(h.prechecked);
      EXPECT_EQ(h.in_start_set, r.in_set);
    }
    program_sink sink;
    const std::string console = file(sink, h);
    EXPECT_FALSE(sink.failed()) << sink.error();

    if (r.file == nullptr) {
      EXPECT_EQ(console, "");
      EXPECT_FALSE(testfiles::file_exists(kFact));
      EXPECT_FALSE(testfiles::file_exists(kExcl));
    } else {
      EXPECT_EQ(console, line + r.annotation + "\n");
      EXPECT_EQ(testfiles::read_file(r.file), line + "\n");
      const std::string other = std::string(r.file) == kFact ? kExcl : kFact;
      EXPECT_FALSE(testfiles::file_exists(other));
    }
    EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{7, r.n - 1, r.n + 1}));
  }
}

// A factor, 12598339027 | 10223*2^41+1, then the same hit again from a later
// search: the second goes to "factexcl.txt" as a duplicate; files that exist
// keep their content.
TEST_F(FactorSinkTest, RepeatedHitIsADuplicateAndFilesAreAppended) {
  const uint64_t p = 12598339027ULL;
  ASSERT_TRUE(divides(p, 10223, 41));
  ASSERT_EQ(ak[2], 10223);
  aunfacset[2] = {5, 41, 77};
  testfiles::write_file(kFact, "1 | 3*2^1+1\n");
  testfiles::write_file(kExcl, "2 | 3*2^2+1\n");
  program_sink sink;
  testing::internal::CaptureStdout();
  sink.hit(make_hit(p, 41, 0, 2));
  sink.hit(make_hit(p, 41, 0, 2));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(sink.failed()) << sink.error();
  EXPECT_EQ(console, "12598339027 | 10223*2^41+1\n12598339027 | 10223*2^41+1\t(duplicate)\n");
  EXPECT_EQ(testfiles::read_file(kFact), "1 | 3*2^1+1\n12598339027 | 10223*2^41+1\n");
  EXPECT_EQ(testfiles::read_file(kExcl), "2 | 3*2^2+1\n12598339027 | 10223*2^41+1\n");
  EXPECT_EQ(aunfacset[2], (std::set<uint32_t>{5, 77}));
}

// A progress line left open on standard error is ended before the first
// factor line, once.
TEST_F(FactorSinkTest, OpenProgressLineIsEndedFirst) {
  const std::string line = prepare(500);
  program_sink sink;
  progress_line_open = true;
  testing::internal::CaptureStderr();
  std::string console = file(sink, make_hit(kP, 500));
  console += file(sink, make_hit(kP, 500));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n");
  EXPECT_FALSE(progress_line_open);
  EXPECT_EQ(console, line + "\t(duplicate)\n" + line + "\t(duplicate)\n");
}

// A factor line that cannot be stored must not vanish: the sink records an
// error naming the file and the factor, prints nothing, leaves n in its set
// and files nothing after it. A directory of the file's name makes the
// append fail even for root.
TEST_F(FactorSinkTest, UnwritableFactorFileFailsTheSink) {
  ASSERT_EQ(mkdir(kFact, 0755), 0);
  const std::string line = prepare(500);
  aunfacset[kSlot] = {500};
  program_sink sink;
  EXPECT_EQ(file(sink, make_hit(kP, 500)), "");
  ASSERT_TRUE(sink.failed());
  EXPECT_TRUE(std::regex_search(sink.error(), std::regex("fact\\.txt.*" + regex_escape(line)))) << sink.error();
  EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{500}));
  // Every later hit is ignored, even one that could be filed.
  const std::string first_error = sink.error();
  aunfacset[kSlot].clear();
  EXPECT_EQ(file(sink, make_hit(kP, 500)), "");
  EXPECT_FALSE(testfiles::file_exists(kExcl));
  EXPECT_EQ(sink.error(), first_error);

  // An excluded hit does not need "fact.txt" and is stored as usual.
  program_sink fresh;
  EXPECT_EQ(file(fresh, make_hit(kP, 500)), line + "\t(duplicate)\n");
  EXPECT_FALSE(fresh.failed()) << fresh.error();
  EXPECT_EQ(testfiles::read_file(kExcl), line + "\n");
}

TEST_F(FactorSinkTest, UnwritableExclusionFileFailsTheSink) {
  ASSERT_EQ(mkdir(kExcl, 0755), 0);
  const std::string line = prepare(kNhigh + 5);
  program_sink sink;
  EXPECT_EQ(file(sink, make_hit(kP, kNhigh + 5, 6096)), "");
  ASSERT_TRUE(sink.failed());
  EXPECT_TRUE(std::regex_search(sink.error(), std::regex("factexcl\\.txt.*" + regex_escape(line))))
      << sink.error();
  // With -d the excluded hit is not written anywhere, so nothing fails.
  outputdupes = false;
  program_sink quiet;
  EXPECT_EQ(file(quiet, make_hit(kP, kNhigh + 5, 6096)), "");
  EXPECT_FALSE(quiet.failed()) << quiet.error();
}

// A hit that is not a factor, or names no slot, is an internal error: nothing
// is written or printed and n stays in its set.
TEST_F(FactorSinkTest, HitThatIsNotAFactorIsAnInternalError) {
  prepare(500);
  aunfacset[kSlot] = {500, 501};
  ASSERT_FALSE(divides(kP, static_cast<uint64_t>(ak[kSlot]), 501));
  ASSERT_FALSE(divides(kP + 2, static_cast<uint64_t>(ak[kSlot]), 500));
  struct row {
    const char* what;
    factor_hit h;
    const char* error;
  };
  const row rows[] = {
      {"wrong n", make_hit(kP, 501), "not a factor"},
      {"wrong p", make_hit(kP + 2, 500), "not a factor"},
      {"p below 3", make_hit(1, 500), "not a factor"},
      {"no such slot", make_hit(kP, 500, 0, kNumK), "slot 12"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    program_sink sink;
    EXPECT_EQ(file(sink, r.h), "");
    ASSERT_TRUE(sink.failed());
    EXPECT_NE(sink.error().find("Internal error"), std::string::npos) << sink.error();
    EXPECT_NE(sink.error().find(r.error), std::string::npos) << sink.error();
    // The real factor after it is not filed either.
    EXPECT_EQ(file(sink, make_hit(kP, 500)), "");
  }
  EXPECT_FALSE(testfiles::file_exists(kFact));
  EXPECT_FALSE(testfiles::file_exists(kExcl));
  EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{500, 501}));
}

// Batched, the lines wait for flush(): then each file gets its lines and the
// console its lines, in the order of the hits, as an unbatched sink would
// have written them. n leaves its set when the hit comes, so that a repeat
// before the flush is a duplicate.
TEST_F(FactorSinkTest, BatchedLinesWaitForFlush) {
  const std::string line = prepare(500);
  const std::string outside = factor_line(kP, ak[kSlot], 500 + 2 * (kP - 1));
  aunfacset[kSlot] = {500, 600};
  program_sink sink(true);
  std::string console = file(sink, make_hit(kP, 500));
  console += file(sink, make_hit(kP, 500));
  console += file(sink, make_hit(kP, 500 + 2 * static_cast<uint32_t>(kP - 1)));
  EXPECT_EQ(console, "");
  EXPECT_FALSE(testfiles::file_exists(kFact));
  EXPECT_FALSE(testfiles::file_exists(kExcl));
  EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{600}));

  testing::internal::CaptureStdout();
  EXPECT_TRUE(sink.flush()) << sink.error();
  console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, line + "\n" + line + "\t(duplicate)\n" + outside + "\t(outside range)\n");
  EXPECT_EQ(testfiles::read_file(kFact), line + "\n");
  EXPECT_EQ(testfiles::read_file(kExcl), line + "\n" + outside + "\n");

  // Nothing waits after a flush.
  testing::internal::CaptureStdout();
  EXPECT_TRUE(sink.flush());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testfiles::read_file(kFact), line + "\n");
}

// A batched flush that cannot append fails, naming the file and its first
// waiting line, and prints nothing; the sink stays failed.
TEST_F(FactorSinkTest, BatchedFlushThatCannotAppendFails) {
  ASSERT_EQ(mkdir(kFact, 0755), 0);
  const std::string line = prepare(500);
  aunfacset[kSlot] = {500};
  program_sink sink(true);
  testing::internal::CaptureStdout();
  sink.hit(make_hit(kP, 500));
  sink.hit(make_hit(kP, 500));
  EXPECT_FALSE(sink.flush());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(sink.failed());
  EXPECT_TRUE(std::regex_search(sink.error(), std::regex("fact\\.txt.*" + regex_escape(line)))) << sink.error();
  EXPECT_FALSE(sink.flush());
}

// A hit that is not a factor is left unmarked by the worker thread's check,
// so the sink checks it again and fails, filing nothing.
TEST_F(FactorSinkTest, PrecheckLeavesAFalseHitToTheSink) {
  prepare(500);
  aunfacset[kSlot] = {499, 500};
  const std::unique_ptr<search_plan> plan(new search_plan());
  build_search_plan(*plan);
  factor_hit h = make_hit(kP, 499);
  precheck_hit(*plan, h);
  EXPECT_FALSE(h.prechecked);
  program_sink sink;
  EXPECT_EQ(file(sink, h), "");
  EXPECT_TRUE(sink.failed());
  EXPECT_NE(sink.error().find("but it is not a factor"), std::string::npos) << sink.error();
  EXPECT_FALSE(testfiles::file_exists(kFact));
  EXPECT_EQ(aunfacset[kSlot], (std::set<uint32_t>{499, 500}));
}

}  // namespace
