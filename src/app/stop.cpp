// Stop requests. The handler stores the signal number and nothing else; all
// the work of stopping happens in the main loop.
#include "app/stop.h"

#include <signal.h>

#include <cstdio>
#include <initializer_list>
#include <string>

namespace {

volatile sig_atomic_t requested = 0;

void on_stop_signal(int signo) { requested = signo; }

}  // namespace

void install_stop_handlers() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &sa, nullptr);
}

int stop_requested() { return requested; }

const char* signal_name(int signo) {
  switch (signo) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default: {
      static char buf[32];
      std::snprintf(buf, sizeof buf, "signal %d", signo);
      return buf;
    }
  }
}

std::string stopped_line(int signo, uint64_t p) {
  const std::string by = std::string("Stopped by ") + signal_name(signo);
  if (p == 0) return by + " before the first prime was tested.";
  return by + " at p = " + std::to_string(p) + "; run brindle again to continue from there.";
}
