// Status file pieces in process: the text parser (a table, any bytes, and
// random texts against a plain line-by-line reader, fed whole and in random
// pieces), appends that are on disk when they return (fsync and write are
// wrapped below to watch them and to cut writes short or interrupt them),
// and the [y/n] question reading whole lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/status.h"
#include "common/test_files.h"

// The test's own fsync and write stand in for the C library's in this
// program (the status code links against them), and pass every call on to
// the kernel unless a test asks otherwise.
namespace probe {
struct synced {
  int fd;
  ino_t inode;
  mode_t mode;
  off_t size;
};
std::vector<synced> fsyncs;   // every fsync, with what it synced
bool fail_fsync = false;      // fsync fails with EIO
bool choppy_writes = false;   // writes to regular files: EINTR, then one byte, in turn
int choppy_calls = 0;
}  // namespace probe

extern "C" int fsync(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0) probe::fsyncs.push_back({fd, st.st_ino, st.st_mode, st.st_size});
  if (probe::fail_fsync) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  struct stat st;
  if (probe::choppy_writes && n > 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (probe::choppy_calls++ % 2 == 0) {
      errno = EINTR;
      return -1;
    }
    n = 1;
  }
  return static_cast<ssize_t>(syscall(SYS_write, fd, buf, n));
}

namespace {

using namespace std::string_literals;

// The plain reader the parser must agree with: whole lines by getline.
status_summary reference_parse(const std::string& text) {
  status_summary s;
  s.found = true;
  std::istringstream in(text);
  std::string line;
  auto value_of = [](const std::string& l) -> std::optional<uint64_t> {
    if (l.size() < 6) return std::nullopt;
    size_t i = 5;
    while (i < l.size() && std::string(" \t\v\f\r").find(l[i]) != std::string::npos) ++i;
    if (i == l.size() || l[i] < '0' || l[i] > '9') return std::nullopt;
    unsigned __int128 v = 0;
    for (; i < l.size() && l[i] >= '0' && l[i] <= '9'; ++i) {
      v = v * 10 + static_cast<unsigned>(l[i] - '0');
      if (v > ~0ULL) v = ~0ULL;
    }
    return static_cast<uint64_t>(v);
  };
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "pmin") == 0) {
      if (const auto v = value_of(line)) {
        s.pmin = v;
        if (!s.first_pmin) s.first_pmin = v;
      }
    } else if (line.compare(0, 4, "pmax") == 0) {
      if (const auto v = value_of(line)) s.pmax = v;
    } else if (line == "Done") {
      s.finished = true;
      break;
    }
  }
  return s;
}

std::string show(const std::optional<uint64_t>& v) { return v ? std::to_string(*v) : "-"; }

std::string show(const status_summary& s) {
  return std::string(s.found ? "found" : "absent") + (s.finished ? " finished" : "") +
         " pmin " + show(s.pmin) + " pmax " + show(s.pmax) + " first " + show(s.first_pmin);
}

TEST(ParseStatusText, Table) {
  const uint64_t max = ~0ULL;
  struct Case {
    std::string text;
    bool finished;
    std::optional<uint64_t> pmin, pmax, first_pmin;
  };
  const std::optional<uint64_t> none;
  const Case cases[] = {
      {"", false, none, none, none},
      {"pmax=3000000000\npmin=2000000000\npmin=2000000011\n", false, 2000000011, 3000000000,
       2000000000},
      {"pmax=3000000000\npmin=2000000000\npmin=2000000011\nDone\n", true, 2000000011, 3000000000,
       2000000000},
      // Nothing after Done is read; Done without a newline still counts.
      {"pmax=3000000000\nDone\npmin=2000000000\npmax=4\n", true, none, 3000000000, none},
      {"pmin=5\nDone", true, 5, none, 5},
      {"pmin=5\nDone\r\npmin=6\n", false, 6, none, 5},
      {"pmin=5\nDone \nDon\nDone.\nXDone\n", false, 5, none, 5},
      // The fifth character is skipped whatever it is; blanks before digits.
      {"pmin#123\npmax \t 456x\n", false, 123, 456, 123},
      {"pmin=\r7\r\n", false, 7, none, 7},
      // Lines without a value are ignored, and so are other lines.
      {"pmin=9\npmin\npmin=\npmin=x\npmax\npmaxX\npm\npmax= \nPMIN=4\n pmin=4\n", false, 9, none,
       9},
      {"pmin=7\n\n\npmin=0008\n", false, 8, none, 7},
      // A last line without a newline counts.
      {"pmax=3000000000\npmin=2000000000", false, 2000000000, 3000000000, 2000000000},
      // Values saturate instead of wrapping around.
      {"pmin=18446744073709551616\npmax=36893488147419103232\n", false, max, max, max},
      // Any bytes: NUL, high bytes, lines of NUL.
      {"pmax=3000000000\n\0\0\0\npmin=2000000000\0junk\n\xff\xfe\npm\0n=5\n"s, false,
       2000000000, 3000000000, 2000000000},
      {"Done\0\n"s, false, none, none, none},
  };
  for (const Case& c : cases) {
    const status_summary s = parse_status_text(c.text);
    EXPECT_TRUE(s.found) << c.text;
    EXPECT_EQ(s.finished, c.finished) << c.text;
    EXPECT_EQ(s.pmin, c.pmin) << c.text;
    EXPECT_EQ(s.pmax, c.pmax) << c.text;
    EXPECT_EQ(s.first_pmin, c.first_pmin) << c.text;
    EXPECT_EQ(show(s), show(reference_parse(c.text))) << c.text;
  }
}

// Random texts built from the pieces that matter, parsed whole and fed in
// random pieces, against the line-by-line reader.
TEST(ParseStatusText, RandomAgainstLineReader) {
  const std::vector<std::string> pieces = {
      "pmin=", "pmax=", "pmin", "pmax", "Done", "Don", "e", "\n", "\n", "\r", " ", "\t", "=",
      "#",     "0",     "7",    "12345", "99999999999999999999", "x", std::string(1, '\0'),
      "\xff",  "p",     "m",    "i",    "n",    "a"};
  std::mt19937 rng(11);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int count = static_cast<int>(rng() % 30);
    for (int i = 0; i < count; ++i) text += pieces[rng() % pieces.size()];
    const std::string expected = show(reference_parse(text));
    ASSERT_EQ(show(parse_status_text(text)), expected) << text;
    status_parser parser;
    for (size_t at = 0; at < text.size();) {
      const size_t n = std::min<size_t>(text.size() - at, rng() % 5);
      parser.feed(text.data() + at, n);
      at += n;
    }
    ASSERT_EQ(show(parser.finish()), expected) << text;
  }
}

// Runs each test in a fresh directory, the way the program runs in its own.
class InDirectory : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(getcwd(old_, sizeof old_) != nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    probe::fsyncs.clear();
    probe::fail_fsync = false;
    probe::choppy_writes = false;
    probe::choppy_calls = 0;
  }
  void TearDown() override {
    probe::fail_fsync = false;
    probe::choppy_writes = false;
    ASSERT_EQ(chdir(old_), 0);
  }
  static ino_t inode(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_ino : 0;
  }

  testfiles::TempDir dir_{"brindle_status"};
  char old_[4096] = {};
};

// Every append is synced with the whole line in the file before it returns,
// and its descriptor is closed again.
TEST_F(InDirectory, AppendsAreSyncedWhole) {
  save_status_pmin(1000000007);
  ASSERT_EQ(probe::fsyncs.size(), 1u);
  EXPECT_EQ(probe::fsyncs[0].inode, inode("VexStatus.dat"));
  EXPECT_EQ(probe::fsyncs[0].size, 16);
  EXPECT_EQ(fcntl(probe::fsyncs[0].fd, F_GETFD), -1) << "descriptor left open";

  save_status_done();
  ASSERT_EQ(probe::fsyncs.size(), 2u);
  EXPECT_EQ(probe::fsyncs[1].inode, inode("VexStatus.dat"));
  EXPECT_EQ(probe::fsyncs[1].size, 21);
  EXPECT_EQ(testfiles::read_file("VexStatus.dat"), "pmin=1000000007\nDone\n");
}

// A new range is synced too, and so is the directory that now holds the file.
TEST_F(InDirectory, NewRangeIsSynced) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(new_status_range(1000000000, 2000000000, false));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testfiles::read_file("VexStatus.dat"), "pmax=2000000000\npmin=1000000000\n");
  ASSERT_EQ(probe::fsyncs.size(), 2u);
  EXPECT_EQ(probe::fsyncs[0].inode, inode("VexStatus.dat"));
  EXPECT_EQ(probe::fsyncs[0].size, 32);
  EXPECT_TRUE(S_ISDIR(probe::fsyncs[1].mode));
  EXPECT_EQ(probe::fsyncs[1].inode, inode("."));
}

// Interrupted and one-byte writes are carried on until the text is whole.
TEST_F(InDirectory, ShortAndInterruptedWritesAreResumed) {
  testfiles::write_file("VexStatus.dat", "pmax=3000000000\npmin=2000000000\n");
  probe::choppy_writes = true;
  save_status_pmin(2000000011);
  save_status_done();
  probe::choppy_writes = false;
  EXPECT_GE(probe::choppy_calls, 2 * 21);
  EXPECT_EQ(testfiles::read_file("VexStatus.dat"),
            "pmax=3000000000\npmin=2000000000\npmin=2000000011\nDone\n");
  ASSERT_EQ(probe::fsyncs.size(), 2u);
  EXPECT_EQ(probe::fsyncs[1].size, 53);
}

// A failed sync is a failed append: reported once on standard error, and
// the run goes on. (The warning is said once per process: only this test
// may make the status code warn.)
TEST_F(InDirectory, FailedSyncWarnsOnce) {
  EXPECT_TRUE(append_durably("other.txt", "x\n"));
  probe::fail_fsync = true;
  EXPECT_FALSE(append_durably("other.txt", "y\n"));
  testing::internal::CaptureStderr();
  save_status_pmin(1000000007);
  save_status_pmin(1000000009);
  save_status_done();
  const std::string err = testing::internal::GetCapturedStderr();
  probe::fail_fsync = false;
  EXPECT_EQ(err,
            "Warning: cannot write VexStatus.dat; the run goes on, but its progress is not saved\n");
  EXPECT_FALSE(append_durably(".", "x\n"));  // a directory cannot be appended to
}

// The [y/n] question reads whole lines; what the answer leaves of the input
// is there for the range questions.
TEST(ClearQuestion, ReadsWholeLines) {
  const std::string q = "Do you wish to clear VexStatus.dat and begin a new range? [y/n] : ";
  const std::string eof = "\nNo answer: standard input has ended. Exiting.\n";
  struct Case {
    std::string input;
    bool result;
    std::string printed;
    std::string rest;  // input left after the question
  };
  const Case cases[] = {
      {"y\n1\n2\n", true, q, "1\n2\n"},
      {"Y", true, q, ""},
      {"yes\n", true, q, ""},
      {"  YeS \t\r\n1\n", true, q, "1\n"},
      {"y" + std::string(100, ' ') + "\n", true, q, ""},
      {std::string(100, ' ') + "yes\n", true, q, ""},
      {"n\n", false, q + "Exiting.\n", ""},
      {" No\r\n1\n", false, q + "Exiting.\n", "1\n"},
      {"maybe\nokay\nsorry, no\nyy\nnope\n\n y e s\nn\n", false, q + q + q + q + q + q + q + q +
       "Exiting.\n", ""},
      {"maybe\n", false, q + q + eof, ""},
      {"", false, q + eof, ""},
      {"\0y\n\xff\x01\nyes\0\n"s, false, q + q + q + q + eof, ""},
      {"y" + std::string(100, ' ') + "x\ny\n", true, q + q, ""},
  };
  std::streambuf* const old = std::cin.rdbuf();
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    std::cin.rdbuf(in.rdbuf());
    std::cin.clear();
    testing::internal::CaptureStdout();
    const bool result = ask_clear_vexstatus_dat();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.input;
    EXPECT_EQ(result, c.result) << c.input;
    std::cin.clear();
    std::string rest;
    for (char ch; std::cin.get(ch);) rest += ch;
    EXPECT_EQ(rest, c.rest) << c.input;
  }
  std::cin.rdbuf(old);
  std::cin.clear();
}

}  // namespace
