// A clean stop on SIGINT, SIGTERM or SIGHUP: the signal only raises a flag,
// and the committer, which looks at it at least ten times a second, ends the
// run with every factor on disk and a save point at the last prime before
// which every prime is tested.
#pragma once
#include <cstdint>
#include <string>

// Installs the handlers (with SA_RESTART, so no system call fails with
// EINTR because of them). Before this, the signals keep their default
// action.
void install_stop_handlers();

// The signal that asked the run to stop, or 0.
int stop_requested();

// "SIGINT", "SIGTERM", "SIGHUP", or "signal <n>".
const char* signal_name(int signo);

// The line that says where a run stopped by signo ended: at the save point
// p, or, for p = 0, before the first prime was tested.
std::string stopped_line(int signo, uint64_t p);
