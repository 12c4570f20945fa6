// A clean stop on SIGINT, SIGTERM or SIGHUP: the signal only raises a flag,
// and the main loop, which looks at it every few thousand primes, ends the
// run with every factor on disk and a save point at the last prime tested.
#pragma once

// Installs the handlers (with SA_RESTART, so no system call fails with
// EINTR because of them). Before this, the signals keep their default
// action.
void install_stop_handlers();

// The signal that asked the run to stop, or 0.
int stop_requested();

// "SIGINT", "SIGTERM", "SIGHUP", or "signal <n>".
const char* signal_name(int signo);
