// One run per directory through the binary: while "brindle.lock" is locked
// (here by the test itself, as a running brindle would hold it) every run is
// refused before it reads or writes anything; once the lock is free, runs go
// on; a killed run leaves no lock behind; a lock file that cannot be used is
// refused too.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kLocked =
    "Another brindle is running in this directory (brindle.lock is locked). Exiting.\n";
const char* const kInProgress = "pmax=1000002000\npmin=1000000000\npmin=1000001001\n";

// Holds an exclusive flock on dir/brindle.lock until destroyed.
class HeldLock {
 public:
  explicit HeldLock(const TempDir& dir)
      : fd_(open(dir.file("brindle.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}
  ~HeldLock() { release(); }
  bool lock() { return fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST(Lock, SecondRunRefusedUntilReleased) {
  TempDir dir;
  const std::string vex = e2e::standard_vex(1000);
  e2e::write_file(dir.file("Vex.dat"), vex);
  e2e::write_file(dir.file("VexStatus.dat"), kInProgress);
  HeldLock held(dir);
  ASSERT_TRUE(held.lock());

  // Each of these would otherwise read, clear or write the files.
  const std::vector<std::vector<std::string>> runs = {
      {},                                          // resume the range in progress
      {"-f", "1000000000", "1000001000"},          // overwrite it
      {"-u", "-f", "1000000000", "1000001000"},    // and rewrite Vex.dat
      {"1000000000", "1000001000"},                // ask first
  };
  for (const std::vector<std::string>& args : runs) {
    std::string joined;
    for (const std::string& a : args) joined += " [" + a + "]";
    const Result r = e2e::run(dir, args, "y\n1\n2\n");
    EXPECT_EQ(r.status, 1) << joined;
    EXPECT_EQ(r.out, std::string(e2e::kUsage) + kLocked) << joined;
    EXPECT_EQ(r.err, "") << joined;
    EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), kInProgress) << joined;
    EXPECT_EQ(e2e::read_file(dir.file("Vex.dat")), vex) << joined;
    EXPECT_FALSE(e2e::exists(dir.file("fact.txt"))) << joined;
    EXPECT_FALSE(e2e::exists(dir.file("stat.txt"))) << joined;
  }

  held.release();
  const Result r = e2e::run(dir, {});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), std::string(kInProgress) + "Done\n");
  EXPECT_TRUE(e2e::exists(dir.file("brindle.lock"))) << "the lock file is never removed";

  // The run is over, so its lock is free again.
  HeldLock again(dir);
  EXPECT_TRUE(again.lock());
}

// A run killed outright leaves the lock free: the kernel drops it with the
// process.
TEST(Lock, KilledRunLeavesNoLock) {
  TempDir dir;
  e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(100000));
  const pid_t pid = e2e::start(dir, {"-i", "10000", "1000000000", "1100000000"});
  // The range is written only after the lock is taken.
  for (int tries = 0; tries < 20000; ++tries) {
    if (e2e::lines(e2e::read_file(dir.file("VexStatus.dat"))).size() >= 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  {
    HeldLock probe(dir);
    EXPECT_FALSE(probe.lock()) << "the run does not hold the lock";
  }
  kill(pid, SIGKILL);
  const Result killed = e2e::finish(dir, pid);
  ASSERT_EQ(killed.status, -1) << "the run ended before it was killed; widen the range";

  const Result r = e2e::run(dir, {"-f", "1000000000", "1000001000"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find(kLocked), std::string::npos) << r.out;
}

// A lock file that cannot be opened or is no regular file refuses the run,
// with the reason, before anything is touched.
TEST(Lock, UnusableLockFileRefused) {
  struct Case {
    const char* what;
    void (*make)(const TempDir&);
    std::string printed;
  };
  const Case cases[] = {
      {"a directory", [](const TempDir& d) { std::filesystem::create_directory(d.file("brindle.lock")); },
       "Cannot open brindle.lock: Is a directory. Exiting.\n"},
      {"a FIFO", [](const TempDir& d) { mkfifo(d.file("brindle.lock").c_str(), 0644); },
       "Cannot use brindle.lock: not a regular file. Exiting.\n"},
      {"a dangling link into a missing directory",
       [](const TempDir& d) { symlink("missing/brindle.lock", d.file("brindle.lock").c_str()); },
       "Cannot open brindle.lock: No such file or directory. Exiting.\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    e2e::write_file(dir.file("VexStatus.dat"), kInProgress);
    c.make(dir);
    const Result r = e2e::run(dir, {"-f", "1000000000", "1000001000"});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, std::string(e2e::kUsage) + c.printed) << c.what;
    EXPECT_EQ(e2e::read_file(dir.file("VexStatus.dat")), kInProgress) << c.what;
  }
}

}  // namespace
