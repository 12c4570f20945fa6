// libFuzzer entry point for the candidate file reader. Each input is read
// through read_db_stream; the reader must refuse it with exactly one line or
// accept it. A refused input must leave the previous state untouched; an
// accepted one must come back unchanged through the writer: format_db (the
// bytes dump_db writes) read again gives the same k, sets, nhigh and
// residue tables, and formatting those gives the same bytes. Any difference
// aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <streambuf>
#include <string>
#include <vector>

#include "arith/limits.h"
#include "db/candidates.h"
#include "../tests/db/db_state.h"

namespace {

// Swallows the reader's messages and counts their lines.
class counting_sink : public std::streambuf {
 public:
  size_t lines = 0;

 protected:
  int overflow(int c) override {
    if (c == '\n') ++lines;
    return c == traits_type::eof() ? 0 : c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i)
      if (s[i] == '\n') ++lines;
    return n;
  }
};

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_candidates: %s\n", what);
  std::abort();
}

// Reads `size` bytes at `data` as a candidate file; the number of message
// lines goes to *lines.
bool read_bytes(const void* data, size_t size, size_t* lines) {
  // fmemopen needs a non-empty buffer; an empty input is a stream at its end.
  static char empty = 0;
  std::FILE* f = size > 0 ? fmemopen(const_cast<void*>(data), size, "rb") : fmemopen(&empty, 1, "rb");
  check(f != nullptr, "fmemopen failed");
  if (size == 0) std::fgetc(f);
  counting_sink sink;
  std::streambuf* old = std::cout.rdbuf(&sink);
  const bool ok = read_db_stream(f, "Vex.dat");
  std::cout.rdbuf(old);
  std::fclose(f);
  *lines = sink.lines;
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const dbtest::DbState before = dbtest::DbState::capture();
  size_t lines = 0;
  if (!read_bytes(data, size, &lines)) {
    check(lines == 1, "a refused file did not give exactly one message line");
    check(dbtest::DbState::capture() == before, "a refused file changed the state");
    return 0;
  }
  check(lines == 0, "an accepted file printed a message");
  const dbtest::DbState first = dbtest::DbState::capture();
  const std::string text = format_db();
  check(read_bytes(text.data(), text.size(), &lines), "the written file was refused");
  check(dbtest::DbState::capture() == first, "the written file read back to different sets");
  check(format_db() == text, "writing the read-back sets gave different bytes");
  return 0;
}
