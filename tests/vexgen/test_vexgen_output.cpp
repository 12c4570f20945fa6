// The vexgen output file: the target is checked and the temporary file
// "<target>.tmp" created before the sieve starts; a stale temporary file is
// taken over, a killed run leaves at most that one file, and a run that is
// interrupted by a signal or fails removes it.
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include "vexgen_test_util.h"

namespace {

namespace fs = std::filesystem;
using vxt::run;
using vxt::TempDir;

// A bound that keeps vexgen sieving for several seconds at least, so that a
// late check of the target would show as output before the error.
const std::string kSlowBound = "10000000";
// A bound that keeps vexgen sieving for many minutes.
const std::string kEndlessBound = "1000000000";

std::vector<std::string> dir_entries(const TempDir& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir.path())) v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  return v;
}

// The small file every successful run here writes, checked against brute force.
const std::vector<std::string> kSmall = {"-n", "3000", "-b", "5000"};
void expect_small_file(const std::string& path) {
  const std::vector<vxt::std_class> ks(std::begin(vxt::kStandard), std::end(vxt::kStandard));
  EXPECT_EQ(vxt::parse_strict(vxt::read_file(path)).n, vxt::brute_force(ks, 3000, 5000));
}

// A vexgen run in the background, with the default dispositions of the
// signals whatever the test runner set, its output captured in a directory
// of its own.
class BackgroundRun {
 public:
  BackgroundRun(const TempDir& dir, const std::vector<std::string>& args) {
    out_ = logs_.file("out");
    const std::string err = logs_.file("err");
    pid_ = testfiles::start_program(vxt::kVexgen, dir.path(), args, "/dev/null", out_, err, [] {
      for (int sig : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
    });
  }
  ~BackgroundRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits up to a minute for ready(); false when the run ended or time ran out.
  bool wait_until(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (ready()) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string out() const { return vxt::read_file(out_); }

  // Sends sig and returns the wait status (the run is killed after a minute).
  int stop(int sig) {
    kill(pid_, sig);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return status;
  }

 private:
  TempDir logs_;
  std::string out_;
  pid_t pid_ = -1;
};

// Starts a long run for Vex.dat in dir and waits until the sieve is under way
// with the temporary file in place.
::testing::AssertionResult start_sieving(BackgroundRun& r, const TempDir& dir) {
  const bool ok = r.wait_until([&] {
    return r.out().find("vexgen: 12 k") != std::string::npos && fs::exists(dir.file("Vex.dat.tmp"));
  });
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "no Vex.dat.tmp while sieving; entries: " << ::testing::PrintToString(dir_entries(dir))
         << ", output: " << r.out();
}

// Each unusable target ends the run before the sieve: exit status 1, one line
// on standard error, nothing on standard output, the directory as it was.
TEST(VexgenOutput, RefusesAnUnusableTargetBeforeTheSieve) {
  const struct {
    const char* what;
    std::function<void(const TempDir&)> setup;
    std::vector<std::string> args;
    std::string message;  // the start of the one line
  } cases[] = {
      {"a dangling symbolic link, without -f",
       [](const TempDir& d) { fs::create_symlink("missing/Vex.dat", d.file("Vex.dat")); },
       {},
       "vexgen: Vex.dat is a dangling symbolic link; use -f to replace it\n"},
      {"a symbolic link to a directory",
       [](const TempDir& d) {
         fs::create_directory(d.file("adir"));
         fs::create_directory_symlink("adir", d.file("Vex.dat"));
       },
       {"-f"},
       "vexgen: Vex.dat is a directory\n"},
      {"a missing directory",
       [](const TempDir&) {},
       {"-o", "missing/Vex.dat"},
       "vexgen: cannot create a file in missing: No such file or directory\n"},
      {"a file where the directory should be",
       [](const TempDir& d) { vxt::write_file(d.file("plain"), "x\n"); },
       {"-o", "plain/Vex.dat"},
       "vexgen: cannot create a file in plain: Not a directory\n"},
      {"a directory at the temporary name",
       [](const TempDir& d) { fs::create_directory(d.file("Vex.dat.tmp")); },
       {},
       "vexgen: Vex.dat.tmp is in the way (not a regular file)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.setup(dir);
    const std::vector<std::string> before = dir_entries(dir);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-b", kSlowBound});
    const vxt::Result r = run(vxt::kVexgen, dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir_entries(dir), before);
  }
}

// A second run for the same target while the first one holds the temporary
// file is refused at once and leaves the file alone.
TEST(VexgenOutput, RefusesATemporaryFileThatAnotherRunHolds) {
  TempDir dir;
  const int fd = open(dir.file("Vex.dat.tmp").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "busy\n", 5), 5);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const vxt::Result r = run(vxt::kVexgen, dir, {"-b", kSlowBound});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vexgen: Vex.dat.tmp is in use: another run is writing Vex.dat\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(vxt::read_file(dir.file("Vex.dat.tmp")), "busy\n");
  close(fd);

  // Once the holder is gone, its file is taken over.
  ASSERT_EQ(run(vxt::kVexgen, dir, kSmall).status, 0);
  expect_small_file(dir.file("Vex.dat"));
  EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat"});
}

// -f replaces the name: a symbolic link, dangling or not, becomes the new
// file, and the file a link pointed to is left as it was.
TEST(VexgenOutput, ForceReplacesASymbolicLinkItself) {
  TempDir dir;
  fs::create_symlink("missing/Vex.dat", dir.file("Vex.dat"));
  vxt::write_file(dir.file("real"), "keep\n");
  fs::create_symlink("real", dir.file("other"));
  for (const std::string target : {"Vex.dat", "other"}) {
    SCOPED_TRACE(target);
    std::vector<std::string> args = {"-f", "-o", target};
    args.insert(args.end(), kSmall.begin(), kSmall.end());
    const vxt::Result r = run(vxt::kVexgen, dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::is_symlink(dir.file(target)));
    expect_small_file(dir.file(target));
  }
  EXPECT_EQ(vxt::read_file(dir.file("real")), "keep\n");
  EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"Vex.dat", "other", "real"}));
}

// A temporary file left by an earlier run is emptied and reused, never
// appended to or written through; it is gone after the run.
TEST(VexgenOutput, TakesOverAStaleTemporaryFile) {
  const struct {
    const char* what;
    std::function<void(const TempDir&)> setup;
  } cases[] = {
      {"a partial file larger than the new one, mode 0600",
       [](const TempDir& d) {
         vxt::write_file(d.file("Vex.dat.tmp"), "12\n0\n3000\nk=4847\n" + std::string(300000, '7'));
         chmod(d.file("Vex.dat.tmp").c_str(), 0600);
       }},
      {"a symbolic link to another file",
       [](const TempDir& d) {
         vxt::write_file(d.file("victim"), "keep\n");
         fs::create_symlink("victim", d.file("Vex.dat.tmp"));
       }},
      {"a dangling symbolic link",
       [](const TempDir& d) { fs::create_symlink("missing/x", d.file("Vex.dat.tmp")); }},
  };
  const mode_t mask = umask(022);
  umask(mask);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.setup(dir);
    const bool victim = fs::exists(dir.file("victim"));
    const vxt::Result r = run(vxt::kVexgen, dir, kSmall);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_small_file(dir.file("Vex.dat"));
    struct stat st;
    ASSERT_EQ(stat(dir.file("Vex.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    if (victim) {
      EXPECT_EQ(vxt::read_file(dir.file("victim")), "keep\n");
      EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"Vex.dat", "victim"}));
    } else {
      EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat"});
    }
  }
}

// SIGKILL leaves the temporary file; a second killed run reuses it instead of
// adding another, and the next complete run removes it.
TEST(VexgenOutput, KilledRunsLeaveOneTemporaryFileThatTheNextRunRemoves) {
  TempDir dir;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    BackgroundRun r(dir, {"-b", kEndlessBound});
    ASSERT_TRUE(start_sieving(r, dir));
    const int status = r.stop(SIGKILL);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat.tmp"});
  }
  const vxt::Result r = run(vxt::kVexgen, dir, kSmall);
  ASSERT_EQ(r.status, 0) << r.err;
  expect_small_file(dir.file("Vex.dat"));
  EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat"});
}

// An interrupted run removes its temporary file and still ends by the signal.
TEST(VexgenOutput, InterruptedRunRemovesItsTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    BackgroundRun r(dir, {"-b", kEndlessBound});
    ASSERT_TRUE(start_sieving(r, dir));
    const int status = r.stop(sig);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(dir_entries(dir).empty()) << ::testing::PrintToString(dir_entries(dir));
  }
}

}  // namespace
