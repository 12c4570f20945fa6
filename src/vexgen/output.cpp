// Writing the candidate file safely: the lines go into a temporary file next
// to the target (same directory, so the final rename stays on one file
// system), every write is checked, the data is flushed to disk with fsync,
// and only then does the file take its name. A crash at any point leaves
// either the old state or the complete new file, never a partial one.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vexgen/generate.h"

namespace {

std::string sys_error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string directory_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Buffered writer on a file descriptor; the first failure sticks.
class fd_writer {
 public:
  explicit fd_writer(int fd) : fd_(fd) {}

  void put(char ch) {
    if (len_ == sizeof buf_) flush();
    buf_[len_++] = ch;
  }
  void put(const char* text) {
    while (*text) put(*text++);
  }
  void put_uint(uint64_t v) {
    char digits[20];
    int nd = 0;
    do {
      digits[nd++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (nd > 0) put(digits[--nd]);
  }
  void put_int(int64_t v) {
    if (v < 0) {
      put('-');
      put_uint(static_cast<uint64_t>(0) - static_cast<uint64_t>(v));
    } else {
      put_uint(static_cast<uint64_t>(v));
    }
  }
  // Writes out the buffer; returns false (errno set) once any write failed.
  bool flush() {
    size_t done = 0;
    while (ok_ && done < len_) {
      const ssize_t w = ::write(fd_, buf_ + done, len_ - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        ok_ = false;
        err_ = errno;
      } else {
        done += static_cast<size_t>(w);
      }
    }
    len_ = 0;
    if (!ok_) errno = err_;
    return ok_;
  }

 private:
  int fd_;
  char buf_[1 << 20];
  size_t len_ = 0;
  bool ok_ = true;
  int err_ = 0;
};

// The file's lines, in the format of the program's own writer.
bool write_lines(const candidate_sieve& s, fd_writer& out) {
  out.put_uint(s.ks.size());
  out.put("\n0\n");
  out.put_uint(s.nhigh);
  out.put('\n');
  std::vector<const candidate_sieve::cls*> byc(s.lcm);
  for (uint32_t i = 0; i < s.ks.size(); ++i) {
    const kclass& kc = s.ks[i];
    out.put("k=");
    out.put_int(kc.k);
    out.put('\n');
    for (const candidate_sieve::cls& cl : s.classes) {
      if (cl.kindex == i) byc[cl.c] = &cl;
    }
    // n = a, a+m, ...: the class c (mod L) advances by m and t grows by
    // one whenever c wraps past L.
    bool first = true;
    uint64_t prev = 0;
    uint32_t c = kc.a;
    uint64_t t = 0;
    for (uint64_t n = kc.a; n <= s.nhigh; n += kc.m) {
      const candidate_sieve::cls& cl = *byc[c];
      if (!((s.removed[cl.offset + (t >> 6)] >> (t & 63)) & 1)) {
        if (first) {
          out.put_uint(n);
          first = false;
        } else {
          out.put('+');
          out.put_uint(n - prev);
        }
        out.put('\n');
        prev = n;
      }
      c += kc.m;
      if (c >= s.lcm) {
        c -= s.lcm;
        ++t;
      }
    }
  }
  return out.flush();
}

}  // namespace

bool check_output_path(const std::string& path, bool force, std::string& err) {
  if (path.empty()) {
    err = "the output file name is empty";
    return false;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      err = path + " is a directory";
      return false;
    }
    if (!force) {
      err = path + " exists; use -f to overwrite it";
      return false;
    }
  }
  // Try the temporary file now, so that a long run does not end in an
  // unwritable directory.
  std::string tmp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(&tmp[0]);
  if (fd < 0) {
    err = sys_error("cannot create a file in", directory_of(path));
    return false;
  }
  ::close(fd);
  ::unlink(tmp.c_str());
  return true;
}

bool write_candidate_file(const candidate_sieve& s, const std::string& path, bool force,
                          std::string& err) {
  std::string tmp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(&tmp[0]);
  if (fd < 0) {
    err = sys_error("cannot create a file in", directory_of(path));
    return false;
  }
  // mkstemp creates mode 0600; give the file the mode a plain create would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);

  auto fail = [&](const std::string& why) {
    err = why;
    ::unlink(tmp.c_str());
    return false;
  };

  {
    std::unique_ptr<fd_writer> out(new fd_writer(fd));
    if (!write_lines(s, *out)) {
      const std::string why = sys_error("cannot write", tmp);
      ::close(fd);
      return fail(why);
    }
  }
  if (::fsync(fd) != 0) {
    const std::string why = sys_error("cannot flush", tmp);
    ::close(fd);
    return fail(why);
  }
  if (::close(fd) != 0) return fail(sys_error("cannot close", tmp));

  if (force) {
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(sys_error("cannot rename to", path));
  } else if (::link(tmp.c_str(), path.c_str()) == 0) {
    // A hard link gives the file its name only if the name is still free.
    ::unlink(tmp.c_str());
  } else {
    if (errno == EEXIST) return fail(path + " exists; use -f to overwrite it");
    // File systems without hard links: check, then rename.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return fail(path + " exists; use -f to overwrite it");
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(sys_error("cannot rename to", path));
  }

  // Make the new name durable too.
  const int dfd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}
