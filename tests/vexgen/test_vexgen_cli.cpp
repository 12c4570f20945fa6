// The vexgen program: its file against brute force and against the program's
// own reader and writer, option errors, and the rules for the output path.
#include <filesystem>

#include "db/candidates.h"
#include "vexgen_test_util.h"

namespace {

namespace fs = std::filesystem;
using vxt::run;
using vxt::TempDir;

std::vector<std::string> dir_entries(const TempDir& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir.path())) v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  return v;
}

// The written file, item by item, against brute force over every prime below
// the bound; header and section order as the program's writer has them.
TEST(VexgenCli, WritesTheBruteForceCandidatesInTheWriterFormat) {
  TempDir dir;
  const vxt::Result r = run(vxt::kVexgen, dir, {"-n", "3000", "-b", "5000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const vxt::Vex v = vxt::parse_strict(vxt::read_file(dir.file("Vex.dat")));
  EXPECT_EQ(v.header, (std::vector<uint64_t>{12, 0, 3000}));
  const std::vector<vxt::std_class> ks(std::begin(vxt::kStandard), std::end(vxt::kStandard));
  ASSERT_EQ(v.k.size(), 12u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(v.k[i], ks[i].k);
  EXPECT_EQ(v.n, vxt::brute_force(ks, 3000, 5000));
  EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat"});  // no temporary left
  EXPECT_NE(r.out.find("Total: "), std::string::npos) << r.out;
}

// read_db takes the file back to the same sets, and dump_db writes the same
// bytes for them; a second run with the same options gives the same bytes.
TEST(VexgenCli, ReadsBackAndMatchesTheProgramWriterByteForByte) {
  TempDir dir;
  ASSERT_EQ(run(vxt::kVexgen, dir, {"-n", "100000", "-b", "100000"}).status, 0);
  const std::string written = vxt::read_file(dir.file("Vex.dat"));
  const vxt::Vex v = vxt::parse_strict(written);

  ASSERT_TRUE(read_db(dir.file("Vex.dat")));
  EXPECT_EQ(nhigh, 100000u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(ak[i], vxt::kStandard[i].k);
    EXPECT_EQ(std::vector<uint64_t>(aunfacset[i].begin(), aunfacset[i].end()), v.n[i]) << i;
  }
  ASSERT_TRUE(dump_db(dir.file("dumped.dat")));
  EXPECT_EQ(vxt::read_file(dir.file("dumped.dat")), written);

  ASSERT_EQ(run(vxt::kVexgen, dir, {"-o", "again.dat", "-n", "100000", "-b", "100000"}).status, 0);
  EXPECT_EQ(vxt::read_file(dir.file("again.dat")), written);
}

// Each bad command line ends with one line on standard error naming the
// problem, exit status 1, and no file.
TEST(VexgenCli, RefusesBadOptionsWithOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-n"}, "-n needs a value"},
      {{"-b"}, "-b needs a value"},
      {{"-o"}, "-o needs a value"},
      {{"-o", ""}, "-o needs a file name"},
      {{"-n", "abc"}, "-n expects a plain decimal number, got 'abc'"},
      {{"-n", "-5"}, "-n expects a plain decimal number, got '-5'"},
      {{"-n", "12x"}, "-n expects a plain decimal number, got '12x'"},
      {{"-b", "1e6"}, "-b expects a plain decimal number, got '1e6'"},
      {{"-b", " 7"}, "-b expects a plain decimal number"},
      // Digits stand for a number however many there are: too large, not malformed.
      {{"-n", "99999999999999999999"}, "nhigh must be at most 2147483647, got 99999999999999999999"},
      {{"-b", "000000000000000000001000000001"}, "the bound must be at most 1000000000"},
      {{"-n", "2147483648"}, "nhigh must be at most 2147483647, got 2147483648"},
      {{"-b", "1000000001"}, "the bound must be at most 1000000000, got 1000000001"},
      {{"-x"}, "unknown option -x"},
      {{"-nf"}, "unknown option -nf"},
      {{"20000"}, "unexpected argument '20000'"},
      // Too small an nhigh leaves a k with fewer than two n, which the reader refuses.
      {{"-n", "100", "-b", "0"}, "k=22699 keeps 1 n up to 100"},
      {{"-n", "100"}, "k=4847 keeps 0 n up to 100"},
      {{"-n", "0", "-b", "0"}, "keeps 0 n up to 0"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const vxt::Result r = run(vxt::kVexgen, dir, c.args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("vexgen: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(vxt::lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(dir_entries(dir).empty());
  }
}

TEST(VexgenCli, HelpShowsTheOptionsAndWritesNothing) {
  TempDir dir;
  const vxt::Result r = run(vxt::kVexgen, dir, {"-h"});
  EXPECT_EQ(r.status, 0);
  for (const char* option : {"-o", "-n", "-b", "-f", "--version", "Vex.dat", "20000000", "1000000"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(dir_entries(dir).empty());
}

TEST(VexgenCli, VersionPrintsOneLineAndWritesNothing) {
  TempDir dir;
  const vxt::Result r = run(vxt::kVexgen, dir, {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vexgen v" BRINDLE_VERSION "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(dir_entries(dir).empty());
}

// An existing file is kept unless -f; -f replaces it. A directory of that name,
// or a missing directory, is refused before any work.
TEST(VexgenCli, OverwritesOnlyWhenForced) {
  TempDir dir;
  vxt::write_file(dir.file("Vex.dat"), "precious\n");
  const vxt::Result refused = run(vxt::kVexgen, dir, {"-n", "2000", "-b", "1000"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "vexgen: Vex.dat exists; use -f to overwrite it\n");
  EXPECT_EQ(refused.out, "");  // refused before the work starts
  EXPECT_EQ(vxt::read_file(dir.file("Vex.dat")), "precious\n");

  const vxt::Result forced = run(vxt::kVexgen, dir, {"-f", "-n", "2000", "-b", "1000"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(vxt::parse_strict(vxt::read_file(dir.file("Vex.dat"))).header[2], 2000u);
  EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"Vex.dat"});

  fs::create_directory(dir.file("adir"));
  const vxt::Result isdir = run(vxt::kVexgen, dir, {"-f", "-o", "adir", "-n", "2000"});
  EXPECT_EQ(isdir.status, 1);
  EXPECT_EQ(isdir.err, "vexgen: adir is a directory\n");
  EXPECT_TRUE(fs::is_directory(dir.file("adir")));
  EXPECT_TRUE(fs::is_empty(dir.file("adir")));

  const vxt::Result nodir = run(vxt::kVexgen, dir, {"-o", "missing/Vex.dat", "-n", "2000"});
  EXPECT_EQ(nodir.status, 1);
  EXPECT_NE(nodir.err.find("cannot create a file in missing"), std::string::npos) << nodir.err;
  EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"Vex.dat", "adir"}));
}

}  // namespace
