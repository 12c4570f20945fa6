// One run per working directory: an exclusive lock on "brindle.lock", held
// from just after the command line is parsed until the process ends.
#pragma once

// Name of the lock file in the working directory.
constexpr const char* kLockFile = "brindle.lock";

// Takes the lock, creating the file when missing. The file is never removed
// and its descriptor stays open (not inherited by programs this one might
// start); the kernel drops the lock when the process ends, however it ends,
// so a killed run leaves no stale lock. Returns 0, or exit status 1 after a
// one-line message: another process holds the lock, or the file cannot be
// opened or locked.
int lock_working_directory();
