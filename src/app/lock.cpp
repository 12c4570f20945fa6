// The working directory's lock: flock on "brindle.lock". Two runs in one
// directory would append their save points to one status file and rewrite
// one candidate file, each losing the other's work.
#include "app/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/cli.h"

namespace {

// The lock's descriptor, open until the process ends.
int lock_fd = -1;

std::string reason(int error) { return std::strerror(error); }

}  // namespace

int lock_working_directory() {
  // Never waits on a FIFO of that name. A lock file that cannot be opened
  // for writing (another user's, or a read-only directory) still locks when
  // it can be read.
  const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(kLockFile, O_RDWR | O_CREAT | flags, 0644);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    const int error = errno;
    fd = open(kLockFile, O_RDONLY | flags);
    if (fd < 0) errno = error;
  }
  if (fd < 0) {
    return refuse("Cannot open " + std::string(kLockFile) + ": " + reason(errno) + ". Exiting.");
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return refuse("Cannot use " + std::string(kLockFile) + ": not a regular file. Exiting.");
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
      return refuse("Another brindle is running in this directory (" + std::string(kLockFile) +
                    " is locked). Exiting.");
    }
    return refuse("Cannot lock " + std::string(kLockFile) + ": " + reason(error) + ". Exiting.");
  }
  lock_fd = fd;
  return 0;
}
