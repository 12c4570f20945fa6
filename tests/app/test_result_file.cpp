// The uploaded result of a range: the factor lines of fact.txt, then those of
// factexcl.txt, with p in the range, each once at its first place, then the
// done line; and its atomic write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/result_file.h"
#include "common/test_files.h"

namespace {

TEST(ResultFile, LinesOfTheRangeOnceThenDone) {
  struct Case {
    const char* name;
    std::string fact, excl;
    std::string want;
  };
  const Case cases[] = {
      {"empty files", "", "", "done 1000000000 2000000000\n"},
      {"new then excluded",
       "1000000007 | 4847*2^15+1\n", "1000000009 | 5359*2^6+1\n",
       "1000000007 | 4847*2^15+1\n1000000009 | 5359*2^6+1\ndone 1000000000 2000000000\n"},
      {"repeats after a resumption keep their first place",
       "1100000001 | 4847*2^39+1\n1200000003 | 10223*2^5+1\n1100000001 | 4847*2^39+1\n"
       "1200000003 | 10223*2^5+1\n1300000001 | 67607*2^3+1\n",
       "1200000003 | 10223*2^5+1\n",
       "1100000001 | 4847*2^39+1\n1200000003 | 10223*2^5+1\n1300000001 | 67607*2^3+1\n"
       "done 1000000000 2000000000\n"},
      {"lines of another range (an earlier task in the slot)",
       "999999937 | 4847*2^15+1\n2000000011 | 4847*2^15+1\n1000000000 | 4847*2^1+1\n"
       "2000000000 | 4847*2^2+1\n",
       "",
       "1000000000 | 4847*2^1+1\n2000000000 | 4847*2^2+1\ndone 1000000000 2000000000\n"},
      {"torn and foreign lines",
       "1500000001 | 4847*2^1", "1500000001 | 4847*2^15+1 \nnoise\n\n1500000001 |  4847*2^15+1\n"
       "99999999999999999999 | 4847*2^15+1\n1500000003 | 4847*2^15+1",
       "1500000003 | 4847*2^15+1\ndone 1000000000 2000000000\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(result_text(c.fact, c.excl, 1000000000, 2000000000), c.want) << c.name;
  }
}

TEST(ResultFile, WrittenWholeOrNotAtAll) {
  testfiles::TempDir dir;
  const std::string path = dir.file("factors.txt");
  std::string error;
  ASSERT_TRUE(write_file_atomically(path, "a\nb\n", error)) << error;
  EXPECT_EQ(testfiles::read_file(path), "a\nb\n");
  ASSERT_TRUE(write_file_atomically(path, "c\n", error)) << error;
  EXPECT_EQ(testfiles::read_file(path), "c\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  // A directory in the way of the rename: refused, with the reason, and the
  // temporary file gone.
  const std::string blocked = dir.file("blocked");
  std::filesystem::create_directory(blocked);
  std::filesystem::create_directory(blocked + "/inside");
  EXPECT_FALSE(write_file_atomically(blocked, "x\n", error));
  EXPECT_NE(error.find("blocked"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(blocked + ".tmp"));
  // No directory to create the file in.
  EXPECT_FALSE(write_file_atomically(dir.file("missing/factors.txt"), "x\n", error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
