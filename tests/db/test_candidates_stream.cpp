// The reader streams the file through a fixed buffer: it stops at the first
// byte that does not fit (NUL padding, an endless stream of zeros), refuses
// files above 1 GiB, reports a read error in the middle of the file, and
// reads items that straddle the buffer's chunk boundaries like any other.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "db/candidates.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

constexpr size_t kChunk = 65536;            // the reader's chunk size
constexpr uint64_t kLimit = 1ULL << 30;     // the largest file accepted

// A stream that serves `prefix`, then `fill_count` copies of `fill`, then
// either its end or, with `fail`, the read error EIO. `served` counts the
// bytes handed out.
struct Source {
  std::string prefix;
  char fill = 0;
  uint64_t fill_count = 0;
  bool fail = false;
  uint64_t served = 0;
};

ssize_t source_read(void* cookie, char* buf, size_t size) {
  Source& s = *static_cast<Source*>(cookie);
  const uint64_t total = s.prefix.size() + s.fill_count;
  if (s.served >= total) {
    if (s.fail) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, total - s.served));
  const size_t from_prefix =
      s.served < s.prefix.size() ? std::min<size_t>(n, s.prefix.size() - static_cast<size_t>(s.served)) : 0;
  std::memcpy(buf, s.prefix.data() + (from_prefix > 0 ? s.served : 0), from_prefix);
  std::memset(buf + from_prefix, s.fill, n - from_prefix);
  s.served += n;
  return static_cast<ssize_t>(n);
}

// Reads the source through read_db_stream; the message goes to *out.
bool read_source(Source& source, std::string* out) {
  cookie_io_functions_t io = {source_read, nullptr, nullptr, nullptr};
  std::FILE* f = fopencookie(&source, "r", io);
  EXPECT_NE(f, nullptr);
  if (!f) return false;
  testing::internal::CaptureStdout();
  const bool ok = read_db_stream(f, "stream");
  *out = testing::internal::GetCapturedStdout();
  std::fclose(f);
  return ok;
}

bool read_path(const std::string& path, std::string* out) {
  testing::internal::CaptureStdout();
  const bool ok = read_db(path);
  *out = testing::internal::GetCapturedStdout();
  return ok;
}

const std::string kHeader = "12\n0\n1000\n";

// Valid text of exactly `size` bytes (at least 40): one section of many n,
// padded with blanks.
std::string filler(size_t size) {
  std::string s = kHeader + "k=4847\n15\n";
  while (s.size() + 4 <= size) s += "+24\n";
  s.append(size - s.size(), ' ');
  return s;
}

unsigned line_at(const std::string& text, size_t offset) {
  return 1 + static_cast<unsigned>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// A valid file followed by NUL bytes was accepted, the NULs skipped; now
// the first NUL is refused with its line, also several chunks into the file.
TEST(ReadDbStream, NulBytesAfterValidTextAreRefused) {
  const std::string small = kHeader + "k=4847\n15\n+24\n";
  const std::string big = filler(3 * kChunk + 123) + "\n";
  struct Case {
    const char* name;
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"one NUL", small + std::string(1, '\0'), "line 7: expected \"+<difference>\" in section k=4847, found character 0x00"},
      {"a MiB of NULs", small + std::string(1 << 20, '\0'), "line 7: expected \"+<difference>\" in section k=4847, found character 0x00"},
      {"NUL after three chunks", big + std::string(1000, '\0'),
       "line " + std::to_string(line_at(big, big.size())) + ": expected \"+<difference>\" in section k=4847, found character 0x00"},
      {"NUL in the header", std::string("12\n0\0\n1000\n", 11) + small.substr(kHeader.size()),
       "line 2: text glued to the lowest n (header): character 0x00 after 0"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("Vex.dat");
    write_file(path, c.text);
    std::string out;
    EXPECT_FALSE(read_path(path, &out)) << c.name;
    EXPECT_EQ(out, "Error in " + path + ", " + c.want + "\n") << c.name;
  }
}

// An endless stream of zeros is refused at its first byte instead of being
// read into memory until the machine gives up.
TEST(ReadDbStream, DevZeroIsRefusedAtOnce) {
  std::string out;
  EXPECT_FALSE(read_path("/dev/zero", &out));
  EXPECT_EQ(out, "Error in /dev/zero, line 1: expected the number of sections (header), found character 0x00\n");
}

// The reader takes no more than the chunk holding the bad byte (and the
// stream's own read-ahead) from a stream that would go on for gigabytes.
TEST(ReadDbStream, StopsReadingAtTheFirstBadByte) {
  struct Case {
    const char* name;
    std::string prefix;
    char fill;
    std::string want;
  };
  const Case cases[] = {
      {"zeros after a section", kHeader + "k=4847\n15\n", '\0',
       "line 6: expected \"+<difference>\" in section k=4847, found character 0x00"},
      {"letters after the header", kHeader, 'x', "line 4: expected \"k=<k>\" after the header, found \"x\""},
      {"endless digits", kHeader + "k=4847\n", '7', "line 5: the first n in section k=4847 is too large: 777777777777777777777777... (at most 4294967295)"},
      {"endless plus signs", kHeader + "k=4847\n15\n", '+',
       "line 6: expected a difference after \"+\" in section k=4847, found \"+\""},
  };
  for (const Case& c : cases) {
    Source source{c.prefix, c.fill, uint64_t(1) << 40};
    std::string out;
    EXPECT_FALSE(read_source(source, &out)) << c.name;
    EXPECT_EQ(out, "Error in stream, " + c.want + "\n") << c.name;
    EXPECT_LE(source.served, 2 * kChunk) << c.name;
  }
}

// A regular file above 1 GiB is refused before its first byte is read (a
// sparse file of that size takes no room); at exactly 1 GiB it is read, and
// here refused for the first NUL of its hole.
TEST(ReadDbStream, FilesAboveOneGibAreRefused) {
  const std::string text = kHeader + "k=4847\n15\n+24\n";
  struct Case {
    uint64_t size;
    std::string want;
  };
  const Case cases[] = {
      {kLimit + 1, ": the file is too large: 1073741825 bytes (at most 1073741824)"},
      {uint64_t(1) << 31, ": the file is too large: 2147483648 bytes (at most 1073741824)"},
      {kLimit, ", line 7: expected \"+<difference>\" in section k=4847, found character 0x00"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("Vex.dat");
    write_file(path, text);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0) << std::strerror(errno);
    std::string out;
    EXPECT_FALSE(read_path(path, &out)) << c.size;
    EXPECT_EQ(out, "Error in " + path + c.want + "\n") << c.size;
  }
}

// A stream whose size is not known in advance is cut off once it passes
// 1 GiB, here a valid file followed by endless blanks.
TEST(ReadDbStream, StreamsAboveOneGibAreRefused) {
  Source source{kHeader + "k=4847\n15\n+24\n", ' ', kLimit};
  std::string out;
  EXPECT_FALSE(read_source(source, &out));
  EXPECT_EQ(out, "Error in stream: the file is too large: more than 1073741824 bytes\n");
  EXPECT_LE(source.served, kLimit + 2 * kChunk);
}

// A read error is reported as such, also when the bytes before it would make
// a valid file, and the previous state stays.
TEST(ReadDbStream, ReadErrorInTheMiddleIsReported) {
  {
    TempDir dir;
    write_file(dir.file("Vex.dat"), db_text(twelve_sections({15, 39, 87})));
    std::string out;
    ASSERT_TRUE(read_path(dir.file("Vex.dat"), &out));
  }
  const DbState before = DbState::capture();
  const std::string prefixes[] = {
      kHeader + "k=4847\n15\n+24\n",  // a valid file so far
      kHeader + "k=4847\n15\n+2",     // in the middle of a number
      filler(2 * kChunk + 17),        // after a few chunks
  };
  for (const std::string& prefix : prefixes) {
    Source source{prefix, 0, 0, true};
    std::string out;
    EXPECT_FALSE(read_source(source, &out)) << prefix.size();
    EXPECT_EQ(out, "Error reading stream: " + std::string(std::strerror(EIO)) + "\n") << prefix.size();
    EXPECT_TRUE(DbState::capture() == before) << prefix.size();
  }
}

// Items cut by a chunk boundary: the same part of a file is read with the
// boundary moved across it byte by byte (blanks in front shift the text).
// Valid items give the same sets; each kind of error is found with its line.
TEST(ReadDbStream, ItemsAcrossChunkBoundaries) {
  const size_t start = kChunk - 40;  // where the part under test begins
  const std::string base = filler(start);
  std::set<uint32_t> slot0;
  for (uint32_t i = 0; i <= (start - 20) / 4; ++i) slot0.insert(15 + 24 * i);  // see filler()

  const std::string valid = "k = 5359\r\n6\r\n+8\r\n+16\tk=\n10223 4294967295 k=19249\n\n0\n+4294967295\r\n";
  for (size_t pad = 0; pad <= 80; ++pad) {
    const std::string text = std::string(pad, ' ') + base + valid;
    Source source{text};
    std::string out;
    ASSERT_TRUE(read_source(source, &out)) << pad << ": " << out;
    EXPECT_EQ(aunfacset[0], slot0) << pad;
    EXPECT_EQ(ak[1], 5359) << pad;
    EXPECT_EQ(aunfacset[1], (std::set<uint32_t>{6, 14, 30})) << pad;
    EXPECT_EQ(ak[2], 10223) << pad;
    EXPECT_EQ(aunfacset[2], (std::set<uint32_t>{4294967295u})) << pad;
    EXPECT_EQ(ak[3], 19249) << pad;
    EXPECT_EQ(aunfacset[3], (std::set<uint32_t>{0, 4294967295u})) << pad;
  }

  struct Case {
    std::string part;   // follows the valid beginning
    std::string error;  // the message after the line number
    char at;            // the error's line is the line of this character's first occurrence in part
  };
  const Case cases[] = {
      {"+24\n+24\n+123456x\n", "text glued to a difference after \"+\" in section k=4847: \"x\" after 123456", 'x'},
      {"+24\n+24\n+\n+24\n", "expected a difference after \"+\" in section k=4847, found a line break", '\n'},
      {"+24\n+24\n24\n+24\n", "expected \"+<difference>\" in section k=4847, found the number 24", '2'},
      {"+24\n+24\n\n" + std::string(1, '\0') + "\n", "expected \"+<difference>\" in section k=4847, found character 0x00", '\0'},
      {"+24\n+24\n+99999999999\n", "a difference after \"+\" in section k=4847 is too large: 99999999999 (at most 4294967295)", '9'},
      {"k\n\n:\n5\n", "expected \"=\" between \"k\" and its value, found \":\"", ':'},
  };
  for (const Case& c : cases) {
    for (size_t pad = 0; pad <= 40; ++pad) {
      const std::string text = std::string(pad, ' ') + base + c.part;
      // The line of the error: the part's own lines before `at`, except for
      // a line break, which is reported on the line it ends.
      const size_t at = c.part.find(c.at, c.at == '\n' || c.at == '2' ? 8 : 0);
      const unsigned line = line_at(base, base.size()) + line_at(c.part, at) - 1;
      Source source{text};
      std::string out;
      EXPECT_FALSE(read_source(source, &out)) << pad;
      EXPECT_EQ(out, "Error in stream, line " + std::to_string(line) + ": " + c.error + "\n") << pad;
    }
  }
}

}  // namespace
