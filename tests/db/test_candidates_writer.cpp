// Candidate file writer: the exact bytes written, a read/write round trip,
// and failures that must leave an existing file byte-identical, remove the
// temporary and report one line on standard error.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "db/candidates.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

void set_state(const std::vector<std::set<uint32_t>>& sets, uint32_t high) {
  for (int i = 0; i < kNumK; ++i) {
    ak[i] = kStandardK[i];
    aunfacset[i] = i < int(sets.size()) ? sets[i] : std::set<uint32_t>();
  }
  nhigh = high;
}

bool dump_quietly(const std::string& path, std::string* err = nullptr) {
  testing::internal::CaptureStderr();
  const bool ok = dump_db(path);
  const std::string printed = testing::internal::GetCapturedStderr();
  if (err) *err = printed;
  return ok;
}

// The exact bytes: a set starting at 0, an empty slot, one n, n = 2^32-1,
// and n above nhigh, which are written like any other n. Sets without an n
// above nhigh give the same bytes as ever.
TEST(DumpDb, ExactBytes) {
  std::string rest;  // slots 4..11, empty
  for (int i = 4; i < kNumK; ++i) rest += "k=" + std::to_string(kStandardK[i]) + "\n";
  struct Case {
    const char* name;
    std::vector<std::set<uint32_t>> sets;
    uint32_t high;
    std::string want;
  };
  const Case cases[] = {
      {"nothing above nhigh", {{15, 39, 87}, {0, 5, 20}, {}, {1000}}, 1000,
       "12\n0\n1000\nk=4847\n15\n+24\n+48\nk=5359\n0\n+5\n+15\nk=10223\nk=19249\n1000\n" + rest},
      {"largest n", {{0, 4294967295u}, {4294967295u}, {}, {7}}, 4294967295u,
       "12\n0\n4294967295\nk=4847\n0\n+4294967295\nk=5359\n4294967295\nk=10223\nk=19249\n7\n" + rest},
      {"n above nhigh", {{15, 39, 87}, {0, 5, 20, 1001}, {}, {5000}}, 1000,
       "12\n0\n1000\nk=4847\n15\n+24\n+48\nk=5359\n0\n+5\n+15\n+981\nk=10223\nk=19249\n5000\n" + rest},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("Vex.dat");
    set_state(c.sets, c.high);
    std::string err;
    ASSERT_TRUE(dump_quietly(path, &err)) << c.name;
    EXPECT_EQ(err, "") << c.name;
    EXPECT_EQ(read_file(path), c.want) << c.name;
    EXPECT_EQ(format_db(), c.want) << c.name;
    EXPECT_FALSE(file_exists(path + ".tmp")) << c.name;
  }
}

// The directory that the writers sync after their rename.
TEST(DumpDb, DirectoryOf) {
  const std::pair<const char*, const char*> cases[] = {
      {"Vex.dat", "."}, {"./Vex.dat", "."}, {"/Vex.dat", "/"}, {"/tmp/Vex.dat", "/tmp"},
      {"a/b/Vex.dat", "a/b"}, {"dir/", "dir"}, {"", "."},
  };
  for (const auto& c : cases) EXPECT_EQ(directory_of(c.first), c.second) << c.first;
}

TEST(DumpDb, RoundTrip) {
  std::mt19937 rng(7);
  TempDir dir;
  const std::string path = dir.file("Vex.dat");
  const uint32_t high = 20000000;
  std::vector<std::set<uint32_t>> sets(kNumK);
  for (int i = 0; i < kNumK; ++i) {
    const uint32_t g = 1 + rng() % 72, e = rng() % g;
    while (sets[i].size() < 300) {
      const uint32_t n = e + g * (rng() % (high / g));
      if (n <= high) sets[i].insert(n);
    }
    if (i % 2 == 0) sets[i].insert(high + g);  // above nhigh, kept too
  }
  set_state(sets, high);
  ak[3] = 3;  // k need not be the built-in one
  ASSERT_TRUE(dump_quietly(path));
  const std::string first = read_file(path);

  // Independently formatted text of the same content.
  std::vector<Section> secs;
  for (int i = 0; i < kNumK; ++i) secs.push_back({i == 3 ? 3 : kStandardK[i], {sets[i].begin(), sets[i].end()}});
  EXPECT_EQ(first, db_text(secs, high));

  testing::internal::CaptureStdout();
  ASSERT_TRUE(read_db(path));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(nhigh, high);
  EXPECT_EQ(ak[3], 3);
  for (int i = 0; i < kNumK; ++i) EXPECT_EQ(aunfacset[i], sets[i]) << i;

  ASSERT_TRUE(dump_quietly(path));
  EXPECT_EQ(read_file(path), first);
}

TEST(DumpDb, KeepsPermissionsOfReplacedFile) {
  TempDir dir;
  const std::string path = dir.file("Vex.dat");
  write_file(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  set_state({{1, 2}}, 100);
  ASSERT_TRUE(dump_quietly(path));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Sets large enough that the file exceeds the size limit of the write test.
std::vector<std::set<uint32_t>> big_sets() {
  std::vector<std::set<uint32_t>> sets(kNumK);
  for (int i = 0; i < kNumK; ++i)
    for (uint32_t n = 1; n < 1000; ++n) sets[i].insert(n * 24 + 15);
  return sets;
}

// Runs dump_db with the file size limited to `limit` bytes, so that writing
// the temporary fails part way through.
bool dump_with_size_limit(const std::string& path, rlim_t limit, std::string* err) {
  struct rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct rlimit small = old_limit;
  small.rlim_cur = limit;
  const sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const bool ok = dump_quietly(path, err);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  return ok;
}

// Each failure: false, one line on standard error naming the target file
// and the cause, the existing content (if any) unchanged, no temporary left.
TEST(DumpDb, FailuresLeaveOldFileUntouched) {
  const std::string old_content = "12\n0\n1000\nk=4847\n15\n+24\n";
  struct Case {
    const char* name;
    std::string target;  // relative to the temporary directory
    const char* cause;   // part of the message
  };
  const Case cases[] = {
      {"parent is a regular file", "plain/Vex.dat", "Not a directory"},
      {"target is a directory", "dir", "Is a directory"},
      {"temporary name is taken by a directory", "Vex.dat", "Is a directory"},
      {"write fails part way", "Vex.dat", "File too large"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    write_file(dir.file("plain"), "plain file\n");
    ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0755), 0);
    const std::string target = dir.file(c.target);
    const std::string name = c.name;
    if (name == "temporary name is taken by a directory") {
      write_file(target, old_content);
      ASSERT_EQ(mkdir((target + ".tmp").c_str(), 0755), 0);
    }
    if (name == "write fails part way") write_file(target, old_content);

    set_state(big_sets(), 100000);
    std::string err;
    const bool ok = name == "write fails part way" ? dump_with_size_limit(target, 4096, &err)
                                                    : dump_quietly(target, &err);
    EXPECT_FALSE(ok) << name;
    EXPECT_EQ(err.rfind("Cannot write " + target + ": ", 0), 0u) << name << ": " << err;
    EXPECT_NE(err.find(c.cause), std::string::npos) << name << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << name << ": " << err;

    EXPECT_EQ(read_file(dir.file("plain")), "plain file\n") << name;
    struct stat st;
    ASSERT_EQ(stat(dir.file("dir").c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << name;
    if (name == "temporary name is taken by a directory" || name == "write fails part way") {
      EXPECT_EQ(read_file(target), old_content) << name;
    }
    if (name != "temporary name is taken by a directory") {
      EXPECT_FALSE(file_exists(target + ".tmp")) << name;
    }
  }
}

// A vexgen writing the same target holds a lock on "<target>.tmp": the
// writer neither empties nor renames nor removes that file, and the old
// target stays as it was. Once the lock is gone, the write goes through.
TEST(DumpDb, TemporaryFileLockedByAnotherWriterIsLeftAlone) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string target = dir.file("Vex.dat");
  const std::string old_content = "12\n0\n1000\nk=4847\n15\n+24\n";
  write_file(target, old_content);
  write_file(target + ".tmp", "12\n0\n2000\nk=4847\n");  // the other writer's half
  const int held = open((target + ".tmp").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

  set_state(big_sets(), 100000);
  std::string err;
  EXPECT_FALSE(dump_quietly(target, &err));
  EXPECT_NE(err.find("Vex.dat.tmp is in use by another program writing it"), std::string::npos) << err;
  EXPECT_NE(err.find("the old file is unchanged"), std::string::npos) << err;
  EXPECT_EQ(read_file(target), old_content);
  EXPECT_EQ(read_file(target + ".tmp"), "12\n0\n2000\nk=4847\n");

  close(held);
  EXPECT_TRUE(dump_quietly(target, &err)) << err;
  EXPECT_EQ(read_file(target), format_db());
  EXPECT_FALSE(file_exists(target + ".tmp"));
}

}  // namespace
