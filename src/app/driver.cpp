// The program's spine: usage text, command line, range settlement against
// the status file, range checks, start-up (candidate file, base primes,
// per-k constants, hash table, first sieve window), the main loop over the
// primes of the range with a save point every save interval of p, and the
// end of the run (status file marked done, optional rewrite of Vex.dat,
// statistics). The loop body outside test_idea is one subtraction and one
// comparison; files are touched only at save points.
#include "app/driver.h"

#include <iostream>

#include "app/cli.h"
#include "app/stats.h"
#include "app/status.h"
#include "arith/limits.h"
#include "db/candidates.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/hash.h"
#include "search/per_prime.h"

int brindle_main(int argc, char** argv) {
  print_usage();

  run_settings s;
  if (const int status = parse_command_line(argc, argv, s)) return status;

  // Whatever is settled here is in the status file before the checks below,
  // so a refused range is remembered (and resumed) like any other.
  if (s.range_given) {
    if (!new_status_range(s.pmin, s.pmax, s.force)) return 1;
  } else {
    if (!resume_status_range(s.pmin, s.pmax, s.force)) return 1;
  }

  uint64_t pmin = s.pmin;
  uint64_t pmax = s.pmax;
  if (pmax > kPLimit) {
    std::cout << "This program only supports p up to " << kPLimit << "\n";
    pmax = kPLimit;
  }
  if (pmax <= pmin) return refuse("pmax <= pmin");
  if (pmin < kPMinLimit) {
    return refuse("Sorry, pmin has to be at least 10^9 (1G) for this program to work.");
  }

  // The sieve starts at an even number and enumerates pmin+1, pmin+3, ...
  pmin &= ~1ULL;
  std::cout << "Not using cmov instructions\n";
  std::cout << "Initializing... " << std::flush;
  if (verbose >= 1) std::cout << "\n";
  if (!read_db("Vex.dat")) return 1;
  if (verbose == 0) std::cout << "Done.\n";
  eratosthenes_base(static_cast<int32_t>(kBasePrimeLimit));
  std::cout << "Testing " << pmin << " <= p <= " << pmax << ", " << 0 << " <= n <= " << nhigh
            << std::endl;
  initialize();
  hash_init(nhigh);

  time_start(&timetot);
  sievewindowlow = pmin;
  sievewindowindex = ~0u;
  eratosthenes_window(pmin);

  uint64_t lastsave = pmin;
  uint64_t p = next_sieved_p();
  while (p <= pmax) {
    test_idea(p);
    if (p - lastsave >= s.save_interval) {
      save_status_pmin(p);
      std::cout << "p = " << p << std::endl;
      lastsave = p;
    }
    p = next_sieved_p();
  }
  const uint64_t endp = p;

  time_stop(&timetot);
  timetot.millitm = static_cast<uint16_t>(timetot.millitm + 1);  // never a zero time

  std::cout << "Done" << std::endl;
  save_status_done();

  // The range is done either way; a Vex.dat that could not be rewritten
  // (dump_db leaves the old file intact and says why) is reported in the
  // exit status, after the statistics.
  bool saved = true;
  if (s.update) {
    std::cout << "Saving Vex.dat..." << std::endl;
    saved = dump_db("Vex.dat");
    if (saved) std::cout << " Done." << std::endl;
  }
  report_statistics(pmin, pmax, endp);
  return saved ? 0 : 2;
}
