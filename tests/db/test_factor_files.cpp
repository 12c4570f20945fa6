// The factor files: a failed append leaves no partial line, a torn last line
// is ended before new lines follow, and a resumed run's reading of the
// factors already stored.
#include "db/factor_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "common/test_files.h"
#include "db/candidates.h"

namespace {

using testfiles::read_file;
using testfiles::write_file;

// Runs append_factor_lines in a child whose files may not grow beyond limit
// bytes (SIGXFSZ ignored, so the write fails with EFBIG instead); returns
// the child's exit code: 0 appended, 1 refused with EFBIG, 2 anything else.
// With whole, the line and its newline go through append_whole with a sync
// instead (the way status lines are appended).
int append_with_size_limit(const std::string& file, const std::string& line, rlim_t limit,
                           bool whole = false) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    const std::string text = line + "\n";
    if (whole ? append_whole(file.c_str(), text.data(), text.size(), true)
              : append_factor_lines(file.c_str(), text))
      _exit(0);
    _exit(errno == EFBIG ? 1 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A disk that fills up in the middle of a line: whatever part of the line was
// written is cut off again, so the file ends with its last whole line and a
// later append cannot glue a new line to a fragment.
TEST(FactorFiles, FailedAppendLeavesNoPartialLine) {
  testfiles::TempDir dir("brindle_factor_files");
  const std::string file = dir.file("fact.txt");
  const std::string before = "1000000007 | 4847*2^15+1\n";
  const std::string line = "100162021001601943 | 28433*2^1536937+1";
  // Room for none, one, most, and all but the newline of the line.
  for (bool whole : {false, true}) {
    for (rlim_t extra : {rlim_t{0}, rlim_t{1}, rlim_t{20}, rlim_t{line.size()}}) {
      SCOPED_TRACE("room for " + std::to_string(extra) + " bytes" + (whole ? ", append_whole" : ""));
      write_file(file, before);
      EXPECT_EQ(append_with_size_limit(file, line, before.size() + extra, whole), 1);
      EXPECT_EQ(read_file(file), before);
    }
  }
  // A batch of lines is appended whole or not at all: room for its first
  // line only leaves the file as it was.
  const std::string two = line + "\n" + "1000000009 | 5359*2^100+1";
  write_file(file, before);
  EXPECT_EQ(append_with_size_limit(file, two, before.size() + line.size() + 1), 1);
  EXPECT_EQ(read_file(file), before);
  // With room for the whole line it is appended.
  EXPECT_EQ(append_with_size_limit(file, line, before.size() + line.size() + 1), 0);
  EXPECT_EQ(read_file(file), before + line + "\n");
  // A file that cannot be opened (a directory of its name) is refused.
  EXPECT_FALSE(append_factor_lines(dir.path().c_str(), line + "\n"));
}

TEST(FactorFiles, TornLastLineIsEnded) {
  testfiles::TempDir dir("brindle_factor_files");
  const std::string file = dir.file("fact.txt");
  struct Case {
    const char* content;  // nullptr: no file
    const char* after;
  };
  const Case cases[] = {
      {nullptr, nullptr},
      {"", ""},
      {"1000000007 | 4847*2^15+1\n", "1000000007 | 4847*2^15+1\n"},
      {"1000000007 | 4847*2^15+1\n10000000", "1000000007 | 4847*2^15+1\n10000000\n"},
      {"1000000007 | 4847*2^15+1", "1000000007 | 4847*2^15+1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content ? c.content : "(no file)");
    std::remove(file.c_str());
    if (c.content) write_file(file, c.content);
    std::string error;
    ASSERT_TRUE(end_torn_line(file.c_str(), error)) << error;
    if (c.after) {
      EXPECT_EQ(read_file(file), c.after);
    } else {
      EXPECT_FALSE(testfiles::file_exists(file));
    }
  }
  // A file that cannot be opened for writing is an error, not passed over.
  std::string error;
  EXPECT_FALSE(end_torn_line(dir.path().c_str(), error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

// The factors stored earlier in a range leave the candidate sets; lines out
// of the range, of other k, torn or malformed change nothing.
TEST(FactorFiles, ForgetReportedFactorsInTheRange) {
  testfiles::TempDir dir("brindle_factor_files");
  const std::string file = dir.file("fact.txt");
  const std::string head =
      "999999999 | 4847*2^15+1\n"           // below the range
      "1000000007 | 4847*2^39+1\n"          // taken
      "1000000009 | 10223*2^5+1\r\n"        // taken (CR LF)
      "1000000021 | 12345*2^63+1\n"         // a k of no slot
      "1000000033 | 4847*2^4294967295+1\n"  // taken: the largest n
      "1000000087 | 4847*2^63+1 x\n"        // malformed
      "1000000093 | 4847*2^87+1\n";         // at the end of the range: kept
  // A damaged line of one endless number, then a torn last line.
  write_file(file, head + std::string(100000, '7') + "\n" + "1000000097 | 4847*2^111");
  for (int i = 0; i < kNumK; ++i) aunfacset[i].clear();
  ak[0] = 4847;
  ak[2] = 10223;
  aunfacset[0] = {15, 39, 63, 87, 111, 4294967295u};
  aunfacset[2] = {5, 17};
  EXPECT_EQ(forget_reported_factors(file.c_str(), 1000000000, 1000000093), 3u);
  EXPECT_EQ(aunfacset[0], (std::set<uint32_t>{15, 63, 87, 111}));
  EXPECT_EQ(aunfacset[2], (std::set<uint32_t>{17}));
  EXPECT_EQ(forget_reported_factors(dir.file("missing.txt").c_str(), 0, ~0ULL), 0u);
  for (int i = 0; i < kNumK; ++i) aunfacset[i].clear();
}

}  // namespace
