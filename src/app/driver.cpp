// The program's spine: usage text, command line, range settlement against
// the status file, range checks, start-up (candidate file, base primes,
// per-k constants, hash table, first sieve window), the main loop over the
// primes of the range with a save point every save interval of p, and the
// end of the run (optional rewrite of Vex.dat, status file marked done,
// statistics). The loop body outside test_idea is one subtraction and one
// comparison, and every few thousand primes a look at the stop flag (set
// by SIGINT, SIGTERM or SIGHUP) and the progress clock. Each save point, a
// stop and the end of the range first put the factor files on disk, so the
// status file never names a prime whose factors could still be lost.
#include "app/driver.h"

#include <iostream>
#include <string>

#include "app/cli.h"
#include "app/lock.h"
#include "app/progress.h"
#include "app/stats.h"
#include "app/status.h"
#include "app/stop.h"
#include "arith/limits.h"
#include "db/candidates.h"
#include "db/factor_files.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/hash.h"
#include "search/per_prime.h"

namespace {

// Primes between two looks at the stop flag and the progress clock.
constexpr uint32_t kPollEvery = 4096;

// Puts every factor line written so far on disk; a save point may only be
// written after that. On failure the run stops without the save point, so a
// resumed run tests those primes again.
bool sync_factors() {
  std::string error;
  if (sync_factor_files(error)) return true;
  std::cout.flush();
  std::cerr << "Error: " << error << "; no save point written" << std::endl;
  return false;
}

}  // namespace

int brindle_main(int argc, char** argv) {
  print_usage();

  run_settings s;
  if (const int status = parse_command_line(argc, argv, s)) return status;
  // Only one run per directory may touch its files: taken before any is
  // read or written, held until the process ends.
  if (const int status = lock_working_directory()) return status;

  // A new range (given here or answered at the questions) is checked before
  // the status file is cleared or written, so a refused one changes nothing.
  // A range resumed from the status file is checked below.
  if (s.range_given) {
    if (!new_status_range(s.pmin, s.pmax, s.force)) return 1;
    s.resumed = false;
    s.first_pmin = s.pmin;
  } else {
    if (!resume_status_range(s.pmin, s.pmax, s.force, s.resumed, s.first_pmin)) return 1;
  }

  uint64_t pmin = s.pmin;
  uint64_t pmax = s.pmax;
  if (const int status = check_range(pmin, pmax)) return status;

  // From here on Ctrl-C, SIGTERM and SIGHUP stop the run cleanly.
  install_stop_handlers();

  // The sieve starts at an even number and enumerates pmin+1, pmin+3, ...
  pmin &= ~1ULL;
  std::cout << "Not using cmov instructions\n";
  std::cout << "Initializing... " << std::flush;
  if (verbose >= 1) std::cout << "\n";
  if (!read_db("Vex.dat")) return 1;
  if (verbose == 0) std::cout << "Done.\n";
  // A factor file whose last line a crash or power cut tore gets its newline
  // before anything is appended, so the fragment cannot join a new line.
  for (const char* file : {kFactFile, kFactExclFile}) {
    std::string error;
    if (!end_torn_line(file, error)) {
      std::cout.flush();
      std::cerr << "Error: " << error << "\n";
      return 1;
    }
  }
  // A resumed range's factors stored before its save point left the
  // candidate sets when they were found; they leave again, so that a later
  // prime dividing the same number is filed as excluded, as in one run.
  if (s.resumed && s.first_pmin < s.pmin) forget_reported_factors(kFactFile, s.first_pmin, s.pmin);
  eratosthenes_base(static_cast<int32_t>(kBasePrimeLimit));
  std::cout << "Testing " << pmin << " <= p <= " << pmax << ", " << 0 << " <= n <= " << nhigh
            << std::endl;
  initialize();
  hash_init(nhigh);

  time_start(&timetot);
  sievewindowlow = pmin;
  sievewindowindex = ~0u;
  eratosthenes_window(pmin);

  if (const int signo = stop_requested()) {
    std::cout << "Stopped by " << signal_name(signo) << " before the first prime was tested."
              << std::endl;
    return 128 + signo;
  }
  progress_report progress(s.first_pmin, pmin, pmax, s.progress_interval);
  uint32_t countdown = kPollEvery;
  uint64_t lastsave = pmin;
  uint64_t p = next_sieved_p();
  while (p <= pmax) {
    test_idea(p);
    if (p - lastsave >= s.save_interval) {
      if (!sync_factors()) return 1;
      save_status_pmin(p);
      progress.end_line();
      std::cout << "p = " << p << std::endl;
      lastsave = p;
    }
    if (--countdown == 0) {
      countdown = kPollEvery;
      if (const int signo = stop_requested()) {
        // p is tested and its factors are written: it is the save point.
        if (!sync_factors()) return 1;
        save_status_pmin(p);
        progress.end_line();
        std::cout << "Stopped by " << signal_name(signo) << " at p = " << p
                  << "; run brindle again to continue from there." << std::endl;
        return 128 + signo;
      }
      progress.poll(p);
    }
    p = next_sieved_p();
  }
  progress.end_line();
  const uint64_t endp = p;

  time_stop(&timetot);
  timetot.millitm = static_cast<uint16_t>(timetot.millitm + 1);  // never a zero time

  std::cout << "Done" << std::endl;
  if (!sync_factors()) return 1;

  // The factors are on disk before Vex.dat loses their n, and the new
  // Vex.dat is in place before the range is marked done. The range is done
  // either way; a Vex.dat that could not be rewritten (dump_db leaves the old
  // file intact and says why) is reported in the exit status, after the
  // statistics.
  bool saved = true;
  if (s.update) {
    std::cout << "Saving Vex.dat..." << std::endl;
    saved = dump_db("Vex.dat");
    if (saved) std::cout << " Done." << std::endl;
  }
  save_status_done();
  report_statistics(pmin, pmax, endp);
  return saved ? 0 : 2;
}
