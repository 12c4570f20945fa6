// BRINDLE_PATH through the real binary: the scalar path and the widest path
// of this processor file the same lines, and a value the program does not
// know, or a path the processor lacks, is refused before any file is touched.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "arith/ifma.h"
#include "e2e_util.h"

namespace {

using e2e::Result;
using e2e::TempDir;

Result run_with_path(const TempDir& dir, const char* path, const std::vector<std::string>& args) {
  const std::string value = path;
  const pid_t pid = e2e::start(dir, args, "", [value] { setenv("BRINDLE_PATH", value.c_str(), 1); });
  return e2e::finish(dir, pid);
}

TEST(ArithmeticPath, EveryPathFilesTheSameLines) {
  std::string fact[3], excl[3];
  const char* const paths[3] = {"auto", "scalar", "ifma"};
  for (int i = 0; i < 3; ++i) {
    if (i == 2 && !cpu_has_ifma()) continue;
    SCOPED_TRACE(paths[i]);
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), e2e::double_hit_vex());
    const Result r = run_with_path(dir, paths[i], {"-f", "1008400000", "1013200000"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    fact[i] = e2e::read_file(dir.file("fact.txt"));
    excl[i] = e2e::read_file(dir.file("factexcl.txt"));
  }
  ASSERT_NE(fact[0].find("1008527033 | 27653*2^2966001+1\n"), std::string::npos);
  ASSERT_NE(excl[0].find("1013105953 | 27653*2^2966001+1\n"), std::string::npos);
  EXPECT_EQ(fact[1], fact[0]);
  EXPECT_EQ(excl[1], excl[0]);
  if (cpu_has_ifma()) {
    EXPECT_EQ(fact[2], fact[0]);
    EXPECT_EQ(excl[2], excl[0]);
  }
}

TEST(ArithmeticPath, UnknownOrMissingPathIsRefused) {
  struct Case {
    const char* value;
    const char* message;
  };
  std::vector<Case> cases = {{"avx2", "BRINDLE_PATH must be auto, scalar or ifma, not avx2\n"},
                             {"Scalar", "BRINDLE_PATH must be auto, scalar or ifma, not Scalar\n"}};
  if (!cpu_has_ifma()) cases.push_back({"ifma", "BRINDLE_PATH=ifma: this processor has no AVX-512 IFMA\n"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), e2e::double_hit_vex());
    const Result r = run_with_path(dir, c.value, {"-f", "1008400000", "1013200000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string(e2e::kUsage) + c.message);
    EXPECT_FALSE(e2e::exists(dir.file("VexStatus.dat")));
    EXPECT_FALSE(e2e::exists(dir.file("brindle.lock")));
  }
}

}  // namespace
