// The factor files. Each line goes out with one open, write and close, and is
// cut off again when the write does not complete, so a failed append leaves
// the file as it was. Durability comes from sync_factor_files, which the
// program calls before every save point: the status file never names a
// prime whose factors are not on disk.
#include "db/factor_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <vector>

#include "db/candidates.h"

namespace {

// Files appended to since the last sync.
std::vector<std::string> unsynced;

void note_unsynced(const char* file) {
  for (const std::string& name : unsynced) {
    if (name == file) return;
  }
  unsynced.emplace_back(file);
}

// Writes all of buf to fd, retrying short writes and interruptions; done
// counts the bytes that reached the file, also when it fails part way.
bool write_all(int fd, const char* buf, size_t len, size_t& done) {
  for (done = 0; done < len;) {
    const ssize_t w = ::write(fd, buf + done, len - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      if (w == 0) errno = EIO;
      return false;
    }
  }
  return true;
}

bool fsync_file(const std::string& name, std::string& error) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    error = "cannot sync " + name + " to disk: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

// Reads the decimal number at text[i..] into value (at most max); false when
// there is no digit or the value is larger.
bool read_number(const std::string& text, size_t& i, uint64_t max, uint64_t& value) {
  const size_t start = i;
  value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return i > start;
}

bool read_literal(const std::string& text, size_t& i, const char* literal) {
  const size_t len = std::strlen(literal);
  if (text.compare(i, len, literal) != 0) return false;
  i += len;
  return true;
}

// Parses "p | k*2^n+1" (a CR before the line end allowed).
bool parse_factor_line(const std::string& line, uint64_t& p, uint64_t& k, uint64_t& n) {
  size_t i = 0;
  if (!read_number(line, i, ~0ULL, p) || !read_literal(line, i, " | ") ||
      !read_number(line, i, 0x7FFFFFFFULL, k) || !read_literal(line, i, "*2^") ||
      !read_number(line, i, 0xFFFFFFFFULL, n) || !read_literal(line, i, "+1")) {
    return false;
  }
  return i == line.size() || (i + 1 == line.size() && line[i] == '\r');
}

}  // namespace

bool append_whole(const char* file, const char* text, size_t len, bool sync) {
  const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = write_all(fd, text, len, done);
  if (ok && sync) {
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ok = rc == 0;
  }
  int err = errno;
  if (!ok && done > 0) {
    // The part that reached the file goes again. The run holds the
    // directory's lock, so nobody else appended after it.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end >= static_cast<off_t>(done)) {
      while (::ftruncate(fd, end - static_cast<off_t>(done)) != 0 && errno == EINTR) {
      }
    }
  }
  // Linux releases the descriptor even when close is interrupted.
  if (::close(fd) != 0 && errno != EINTR && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) errno = err;
  return ok;
}

bool append_factor_lines(const char* file, const std::string& lines) {
  note_unsynced(file);
  return append_whole(file, lines.data(), lines.size(), false);
}

bool sync_factor_files(std::string& error) {
  while (!unsynced.empty()) {
    if (!fsync_file(unsynced.back(), error)) return false;
    unsynced.pop_back();
  }
  return true;
}

bool end_torn_line(const char* file, std::string& error) {
  const int fd = ::open(file, O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    error = std::string("cannot open ") + file + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  struct stat st;
  char last = '\n';
  if (::fstat(fd, &st) != 0 || (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)) {
    error = std::string("cannot read ") + file + ": " + std::strerror(errno);
    ok = false;
  } else if (last != '\n') {
    size_t done = 0;
    if (!write_all(fd, "\n", 1, done) || ::fsync(fd) != 0) {
      error = std::string("cannot end the torn last line of ") + file + ": " + std::strerror(errno);
      ok = false;
    }
  }
  ::close(fd);
  return ok;
}

size_t forget_reported_factors(const char* file, uint64_t pfrom, uint64_t pto) {
  FILE* in = std::fopen(file, "rb");
  if (in == nullptr) return 0;
  // Lines are read into a bounded buffer: a line longer than any factor line
  // (a damaged file) is passed over without being held in memory.
  const size_t kMaxLine = 128;
  size_t taken = 0;
  std::string line;
  bool overlong = false;
  for (int c = std::getc(in);; c = std::getc(in)) {
    if (c != EOF && c != '\n') {
      if (line.size() < kMaxLine) {
        line += static_cast<char>(c);
      } else {
        overlong = true;
      }
      continue;
    }
    uint64_t p = 0, k = 0, n = 0;
    if (!overlong && parse_factor_line(line, p, k, n) && p >= pfrom && p < pto) {
      for (int i = 0; i < kNumK; ++i) {
        if (static_cast<uint64_t>(ak[i]) == k) taken += aunfacset[i].erase(static_cast<uint32_t>(n));
      }
    }
    if (c == EOF) break;
    line.clear();
    overlong = false;
  }
  std::fclose(in);
  return taken;
}
