// Writes the candidate sets back to the candidate file, in the format the
// reader in candidates.cpp accepts: header 12, 0, nhigh; per slot "k=<k>",
// the smallest n, then "+<diff>" for each further n, one item per line. Every
// n of the set is written, an n above nhigh too, and a slot with an empty
// set is a bare "k=<k>" line; the reader takes both back unchanged.
//
// The file is replaced atomically: the new content goes to "<file>.tmp" in
// the same directory (locked, as vexgen locks it), is written completely and
// flushed to disk, and only then renamed over the old file. Any failure
// removes the temporary (unless another program holds it), leaves the old
// file as it was and is reported on standard error.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "db/candidates.h"

std::string format_db() {
  std::string out;
  db_formatter f(out);
  f.header(kNumK, nhigh);
  for (int i = 0; i < kNumK; ++i) {
    f.section(ak[i]);
    for (uint32_t n : aunfacset[i]) f.add_n(n);
  }
  return out;
}

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void sync_directory_of(const std::string& path) {
  const int dfd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
}

bool write_all(int fd, const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  return true;
}

namespace {

bool report_failure(const std::string& filename, const std::string& what, int err) {
  std::cerr << "Cannot write " << filename << ": " << what << ": " << std::strerror(err);
  struct stat st;
  if (::stat(filename.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::cerr << "; the old file is unchanged";
  std::cerr << "\n";
  return false;
}

}  // namespace

bool dump_db(const std::string& filename) {
  const std::string tmpname = filename + ".tmp";
  const std::string content = format_db();

  // The temporary file is locked before it is emptied, and stays locked
  // through the rename: a vexgen writing the same target holds the same
  // lock, so neither can empty or rename the other's file.
  const int fd = ::open(tmpname.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return report_failure(filename, "cannot create " + tmpname, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return report_failure(filename, tmpname + " is in use by another program writing it", EWOULDBLOCK);
  }
  // Other flock errors (file systems without locks) leave the file unlocked.

  // Keep the permissions of the file being replaced.
  struct stat old_stat;
  if (::stat(filename.c_str(), &old_stat) == 0 && S_ISREG(old_stat.st_mode))
    (void)::fchmod(fd, old_stat.st_mode & 07777);

  const char* step = nullptr;
  if (::ftruncate(fd, 0) != 0)
    step = "emptying ";
  else if (!write_all(fd, content))
    step = "writing ";
  else if (::fsync(fd) != 0)
    step = "flushing ";
  int err = errno;
  if (step == nullptr && ::rename(tmpname.c_str(), filename.c_str()) != 0) {
    err = errno;
    ::unlink(tmpname.c_str());
    ::close(fd);
    return report_failure(filename, "cannot replace it with " + tmpname, err);
  }
  if (step != nullptr) {
    ::unlink(tmpname.c_str());
    ::close(fd);
    return report_failure(filename, std::string(step) + tmpname + " failed", err);
  }
  // The data is on disk (fsync); closing releases the lock.
  ::close(fd);

  // Make the rename itself durable; the new file is complete either way.
  sync_directory_of(filename);
  return true;
}
