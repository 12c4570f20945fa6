// Writing the candidate file safely: the lines go into the temporary file
// "<target>.tmp" next to the target (same directory, so the final rename
// stays on one file system), every write is checked, the data is flushed to
// disk with fsync, and only then does the file take its name. A crash at any
// point leaves either the old state or the complete new file, never a partial
// one under the target's name.
//
// The temporary file is created before the work starts, so that a path that
// cannot be written is reported at once and not after the sieve. Its name is
// fixed: a run that is killed leaves at most that one file, and the next run
// to the same target truncates and reuses it. A lock on it keeps two runs
// that write the same target from sharing it; a run that ends on an error or
// on SIGINT, SIGTERM, SIGHUP or SIGPIPE removes it.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db/candidates.h"
#include "vexgen/generate.h"

namespace {

// The temporary file that a fatal signal removes while g_signal_armed is set.
// A fixed buffer, because the handler may only read plain memory.
char g_signal_unlink[4096];
volatile sig_atomic_t g_signal_armed = 0;
constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM};

extern "C" void remove_temporary_and_die(int sig) {
  if (g_signal_armed) ::unlink(g_signal_unlink);
  // Die of the same signal, so the parent sees what ended the run.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void arm_signal_cleanup(const std::string& tmp) {
  if (tmp.size() >= sizeof g_signal_unlink) return;  // such a path is left to the next run
  std::memcpy(g_signal_unlink, tmp.c_str(), tmp.size() + 1);
  g_signal_armed = 1;
  for (int sig : kCleanupSignals) {
    struct sigaction old;
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = remove_temporary_and_die;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
  }
}

void disarm_signal_cleanup() { g_signal_armed = 0; }

std::string sys_error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// The file's lines, formatted by the program's own writer and written out in
// chunks of about 1 MiB; returns false (errno set) at the first failed write.
bool write_lines(const candidate_sieve& s, int fd) {
  constexpr size_t kChunk = 1 << 20;
  std::string buf;
  buf.reserve(kChunk + 64);
  db_formatter out(buf);
  out.header(s.ks.size(), s.nhigh);
  bool ok = true;
  int err = 0;
  const auto flush = [&]() {
    if (ok && !write_all(fd, buf)) {
      ok = false;
      err = errno;
    }
    buf.clear();
  };
  for (uint32_t i = 0; i < s.ks.size() && ok; ++i) {
    out.section(s.ks[i].k);
    for_each_candidate(s, i, [&](uint32_t n) {
      out.add_n(n);
      if (buf.size() >= kChunk) flush();
    });
  }
  flush();
  if (!ok) errno = err;
  return ok;
}

}  // namespace

candidate_output::~candidate_output() { discard(); }

void candidate_output::discard() {
  if (fd_ < 0) return;
  disarm_signal_cleanup();
  // Still under the lock, so no other run has taken the file over.
  ::unlink(tmp_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool candidate_output::open(const std::string& path, bool force, std::string& err) {
  discard();
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
  } else if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !force) {
    // The name is taken by a link that leads nowhere; -f replaces the link
    // itself, as it replaces a link to an existing file.
    err = path + " is a dangling symbolic link; use -f to replace it";
    return false;
  }

  // The final rename needs a writable directory even when a stale
  // temporary file is reused.
  if (::access(directory_of(path).c_str(), W_OK) != 0) {
    err = sys_error("cannot create a file in", directory_of(path));
    return false;
  }

  const std::string tmp = path + ".tmp";
  // A few rounds: the file found may be renamed or removed by another run
  // between the open and the lock.
  for (int attempt = 0; attempt < 8; ++attempt) {
    // O_NOFOLLOW: a link at the temporary name is removed, never written
    // through. O_NONBLOCK: a FIFO of that name fails instead of blocking.
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int open_errno = errno;
      struct stat tst;
      const bool exists = ::lstat(tmp.c_str(), &tst) == 0;
      if (exists && S_ISLNK(tst.st_mode)) {
        if (::unlink(tmp.c_str()) == 0 || errno == ENOENT) continue;
        err = sys_error("cannot remove the link", tmp);
        return false;
      }
      if (exists && !S_ISREG(tst.st_mode)) {
        err = tmp + " is in the way (not a regular file)";
        return false;
      }
      errno = open_errno;
      err = exists ? sys_error("cannot open", tmp)
                   : sys_error("cannot create a file in", directory_of(path));
      return false;
    }
    struct stat fst;
    if (::fstat(fd, &fst) != 0 || !S_ISREG(fst.st_mode)) {
      ::close(fd);
      err = tmp + " is in the way (not a regular file)";
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      err = tmp + " is in use: another run is writing " + path;
      return false;
    }
    // Other flock errors (file systems without locks) leave the file unlocked.
    struct stat nst;
    if (::lstat(tmp.c_str(), &nst) != 0 || nst.st_dev != fst.st_dev || nst.st_ino != fst.st_ino) {
      ::close(fd);  // the file was renamed or replaced meanwhile: open the new one
      continue;
    }
    if (::ftruncate(fd, 0) != 0) {
      err = sys_error("cannot truncate", tmp);
      ::unlink(tmp.c_str());
      ::close(fd);
      return false;
    }
    // A stale file keeps its old mode; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    path_ = path;
    tmp_ = tmp;
    force_ = force;
    fd_ = fd;
    arm_signal_cleanup(tmp_);
    return true;
  }
  err = tmp + " keeps changing: another run is writing " + path;
  return false;
}

bool candidate_output::commit(const candidate_sieve& s, std::string& err) {
  if (fd_ < 0) {
    err = "no output file is open";
    return false;
  }
  auto fail = [&](const std::string& why) {
    err = why;
    discard();
    return false;
  };
  if (!write_lines(s, fd_)) return fail(sys_error("cannot write", tmp_));
  if (::fsync(fd_) != 0) return fail(sys_error("cannot flush", tmp_));

  // The file takes its name while it is still open and locked, so that no
  // other run can truncate it in between. From here a signal leaves the
  // temporary file to the next run rather than remove a name that may
  // already belong to another run's new temporary file.
  disarm_signal_cleanup();
  if (force_) {
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) return fail(sys_error("cannot rename to", path_));
  } else if (::link(tmp_.c_str(), path_.c_str()) == 0) {
    // A hard link gives the file its name only if the name is still free.
    ::unlink(tmp_.c_str());
  } else {
    if (errno == EEXIST) return fail(path_ + " exists; use -f to overwrite it");
    // File systems without hard links: check, then rename.
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0) return fail(path_ + " exists; use -f to overwrite it");
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) return fail(sys_error("cannot rename to", path_));
  }
  // The data is on disk (fsync above); closing only drops the lock.
  ::close(fd_);
  fd_ = -1;

  // Make the new name durable too.
  sync_directory_of(path_);
  return true;
}
