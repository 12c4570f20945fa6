// Whatever the writer writes, the reader takes back to the same k, sets and
// nhigh: a table of set shapes through dump_db and read_db, files with fewer
// than twelve sections read, written and read again, and the program itself
// rereading the file it wrote after a run that left a k with one n.
#include <gtest/gtest.h>

#include <numeric>

#include "common/run_program.h"
#include "db/candidates.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

struct Shape {
  const char* name;
  std::vector<std::set<uint32_t>> sets;  // slots beyond the list are empty
  uint32_t high;
  std::vector<int32_t> k = {};  // slots beyond the list keep the built-in k
};

bool quiet_read(const std::string& path) {
  testing::internal::CaptureStdout();
  const bool ok = read_db(path);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  return ok;
}

bool quiet_dump(const std::string& path) {
  testing::internal::CaptureStderr();
  const bool ok = dump_db(path);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  return ok;
}

TEST(CandidatesRoundTrip, SetShapes) {
  std::set<uint32_t> many;
  for (uint32_t n = 7; n < 100000; n += 24) many.insert(n);
  const uint32_t top = 4294967295u;
  const Shape shapes[] = {
      {"every slot empty", {}, 20000000},
      {"one n per slot", {{5}, {0}, {top}, {20000000}, {20000001}, {1}, {2}, {3}, {4}, {6}, {7}, {8}}, 20000000},
      {"two n", {{15, 39}, {0, top}, {5, 5 + 18540216}, {top - 1, top}}, 20000000},
      {"one slot filled, the rest empty", {many}, 100000},
      {"empty slots between filled ones", {{}, many, {}, {}, {9, 33}, {}}, 100000},
      {"n above nhigh", {{15, 39, 1527}, {10, 2000, 3000}, {5000}, {999, 1000, 1001}}, 1000},
      {"only n above nhigh", {{1001, 1025}, {top}}, 1000},
      {"n = 0 and n = 2^32-1", {{0, top}, {0}, {top}, {0, 1, top - 1, top}}, top},
      {"nhigh 0", {{0, 3, 6}, {}, {12}}, 0},
      {"other k, k = 0 and 2^31-1", {{1, 2}, {}, {4}}, 100, {0, 2147483647, 3, 3}},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    for (int i = 0; i < kNumK; ++i) {
      ak[i] = i < int(shape.k.size()) ? shape.k[i] : kStandardK[i];
      aunfacset[i] = i < int(shape.sets.size()) ? shape.sets[i] : std::set<uint32_t>();
    }
    nhigh = shape.high;
    const std::vector<int32_t> k(ak, ak + kNumK);
    const std::vector<std::set<uint32_t>> sets(aunfacset, aunfacset + kNumK);

    TempDir dir;
    const std::string path = dir.file("Vex.dat");
    ASSERT_TRUE(quiet_dump(path));
    const std::string written = read_file(path);
    ASSERT_TRUE(quiet_read(path)) << written;
    EXPECT_EQ(nhigh, shape.high);
    for (int i = 0; i < kNumK; ++i) {
      EXPECT_EQ(ak[i], k[i]) << i;
      EXPECT_EQ(aunfacset[i], sets[i]) << i;
      // The class: gcd of the differences, or none below two distinct n.
      uint32_t g = 0;
      for (uint32_t n : sets[i]) g = std::gcd(g, n - *sets[i].begin());
      EXPECT_EQ(akpower[i], g) << i;
      EXPECT_EQ(akequiv[i], g == 0 ? 0 : *sets[i].begin() % g) << i;
      if (g == 0) {
        EXPECT_EQ(akmod[i] | aknres[i], 0u) << i;
      }
    }
    // Writing what was read gives the same bytes.
    ASSERT_TRUE(quiet_dump(path));
    EXPECT_EQ(read_file(path), written);
  }
}

// A file with fewer than twelve sections: the writer adds the remaining
// slots as bare "k=<k>" lines, and the reader takes those back as the same
// empty slots.
TEST(CandidatesRoundTrip, FewerSectionsInTheSourceFile) {
  const std::vector<Section> sections = {
      {3, {1, 5}}, {5, {2, 8, 14}}, {7, {9}}, {9, {}}, {11, {4, 4294967295u}}};
  for (size_t count = 1; count <= sections.size(); ++count) {
    SCOPED_TRACE(count);
    TempDir dir;
    const std::string path = dir.file("Vex.dat");
    write_file(path, db_text({sections.begin(), sections.begin() + count}, 777));
    ASSERT_TRUE(quiet_read(path));
    const DbState first = DbState::capture();
    ASSERT_TRUE(quiet_dump(dir.file("out.dat")));
    ASSERT_TRUE(quiet_read(dir.file("out.dat")));
    EXPECT_TRUE(DbState::capture() == first);
    for (int i = int(count); i < kNumK; ++i) {
      EXPECT_EQ(ak[i], kStandardK[i]) << i;
      EXPECT_TRUE(aunfacset[i].empty()) << i;
    }
  }
}

// The program: a run with -u factors one of the two n of the only section,
// and the next run reads the file it wrote.
TEST(CandidatesRoundTrip, ProgramRereadsTheFileItWrote) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  write_file(dir.file("Vex.dat"), "12\n0\n20000000\nk=10223\n5\n+18540216\n");
  const std::string brindle = BRINDLE_BINARY_DIR "/brindle";
  auto run = [&](const std::vector<std::string>& args) {
    const std::string out = dir.file("out.txt"), err = dir.file("err.txt");
    return testfiles::finish_program(
        testfiles::start_program(brindle, dir.path(), args, "/dev/null", out, err), out, err);
  };

  const testfiles::Result first = run({"-f", "-u", "1000000000", "1000001000"});
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  // 1000000033 divides 10223*2^18540221+1, so n = 5 is all that is left.
  EXPECT_NE(read_file(dir.file("fact.txt")).find("1000000033 | 10223*2^18540221+1\n"), std::string::npos);
  std::string want = "12\n0\n20000000\nk=10223\n5\n";
  for (int i = 1; i < kNumK; ++i) want += "k=" + std::to_string(kStandardK[i]) + "\n";
  EXPECT_EQ(read_file(dir.file("Vex.dat")), want);

  const testfiles::Result second = run({"-f", "1000001000", "1000002000"});
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(second.out.find("Error"), std::string::npos) << second.out;
}

}  // namespace
