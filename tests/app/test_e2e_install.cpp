// What `cmake --install` lays out (brindle and vexgen in bin/, a manual page
// each in share/man/man1), and the installed brindle's --help, -h and
// --version: the usage text or the version line on standard output, status
// 0, no file touched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/e2e_util.h"

namespace {

using e2e::TempDir;

TEST(Install, LayoutAndHelpAndVersion) {
  TempDir prefix;
  const std::string command = "cmake --install \"" BRINDLE_BINARY_DIR "\" --prefix \"" + prefix.path() +
                              "\" > \"" + prefix.file("install.log") + "\" 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << e2e::read_file(prefix.file("install.log"));
  for (const char* file : {"bin/brindle", "bin/vexgen", "share/man/man1/brindle.1", "share/man/man1/vexgen.1"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix.file(file))) << file;
  }
  EXPECT_EQ(e2e::read_file(prefix.file("share/man/man1/brindle.1")).rfind(".TH BRINDLE 1", 0), 0u);
  EXPECT_NE(e2e::read_file(prefix.file("share/man/man1/brindle.1")).find("2^62"), std::string::npos);

  const std::string installed = prefix.file("bin/brindle");
  struct Case {
    const char* arg;
    std::string out;
  };
  const Case cases[] = {{"--help", e2e::kUsage}, {"-h", e2e::kUsage}, {"--version", "brindle v" BRINDLE_VERSION "\n"}};
  for (const Case& c : cases) {
    TempDir dir;
    const testfiles::Result r = testfiles::finish_program(
        testfiles::start_program(installed, dir.path(), {c.arg}, "/dev/null", dir.file(".out"), dir.file(".err")),
        dir.file(".out"), dir.file(".err"));
    EXPECT_EQ(r.status, 0) << c.arg;
    EXPECT_EQ(r.out, c.out) << c.arg;
    EXPECT_EQ(r.err, "") << c.arg;
    EXPECT_FALSE(e2e::exists(dir.file("VexStatus.dat"))) << c.arg;
    EXPECT_FALSE(e2e::exists(dir.file("brindle.lock"))) << c.arg;
  }
  {
    TempDir dir;
    const testfiles::Result r = testfiles::finish_program(
        testfiles::start_program(prefix.file("bin/vexgen"), dir.path(), {"--version"}, "/dev/null", dir.file(".out"),
                                 dir.file(".err")),
        dir.file(".out"), dir.file(".err"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "vexgen v" BRINDLE_VERSION "\n");
  }
  // Anywhere else on the command line they are switches like any other.
  TempDir dir;
  const e2e::Result r = e2e::run(dir, {"-f", "--help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("unknown switch"), std::string::npos) << r.out;
}

}  // namespace
