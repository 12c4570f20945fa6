// The program's spine: usage text, command line, range settlement against
// the status file, range checks, start-up (candidate file, base primes and
// the search plan, once for all threads), the range itself (app/engine.h:
// the workers, the committer with the save points every save interval of
// p, the stop on SIGINT, SIGTERM or SIGHUP, the progress reports), and the
// end of the run (optional rewrite of Vex.dat, status file marked done,
// statistics). Each save point, a stop and the end of the range first put
// the factor files on disk, so the status file never names a prime whose
// factors could still be lost.
#include "app/driver.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/cli.h"
#include "app/engine.h"
#include "app/factor_sink.h"
#include "app/lock.h"
#include "app/progress.h"
#include "app/self_test.h"
#include "app/stats.h"
#include "app/status.h"
#include "app/stop.h"
#include "arith/limits.h"
#include "db/candidates.h"
#include "db/factor_files.h"
#include "db/file_names.h"
#include "db/settings.h"
#include "primes/sieve.h"
#include "search/plan.h"

int brindle_main(int argc, char** argv, run_host* host) {
  // Alone on the command line, -h or --help shows the usage and --version
  // the version; both end the program with status 0 and touch no file.
  if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
    print_usage();
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << kVersionLine << std::endl;
    return 0;
  }
  // --self-test, alone: the checks of this machine (app/self_test.h).
  if (argc == 2 && std::string(argv[1]) == "--self-test") return run_self_test();
  print_usage();

  run_settings s;
  if (const int status = parse_command_line(argc, argv, s)) return status;
  if (const int status = choose_arithmetic_path(std::getenv("BRINDLE_PATH"))) return status;
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
  if (!read_db(file_path("Vex.dat"))) return 1;
  if (verbose == 0) std::cout << "Done.\n";
  // A factor file whose last line a crash or power cut tore gets its newline
  // before anything is appended, so the fragment cannot join a new line.
  for (const char* file : {kFactFile, kFactExclFile}) {
    std::string error;
    if (!end_torn_line(file_path(file).c_str(), error)) {
      std::cout.flush();
      std::cerr << "Error: " << error << "\n";
      return 1;
    }
  }
  // A resumed range's factors stored before its save point left the
  // candidate sets when they were found; they leave again, so that a later
  // prime dividing the same number is filed as excluded, as in one run.
  if (s.resumed && s.first_pmin < s.pmin) forget_reported_factors(file_path(kFactFile).c_str(), s.first_pmin, s.pmin);
  eratosthenes_base(base_prime_limit_for(pmax));
  std::cout << "Testing " << pmin << " <= p <= " << pmax << ", " << 0 << " <= n <= " << nhigh
            << std::endl;
  // The plan is built once and shared, read-only, by every worker.
  const std::unique_ptr<search_plan> plan(new search_plan());
  build_search_plan(*plan);

  if (const int signo = stop_requested()) {
    std::cout << stopped_line(signo, 0) << std::endl;
    return 128 + signo;
  }
  time_start(&timetot);
  progress_report progress(s.first_pmin, pmin, pmax, s.progress_interval);
  engine_settings es;
  es.low = pmin;
  es.pmax = pmax;
  es.save_interval = s.save_interval;
  es.threads = s.threads == 0 ? online_cores() : s.threads;
  es.block_size = block_size_for(pmax);
  es.host = host;
  const engine_result run = run_engine(*plan, es, progress);
  progress.end_line();
  if (run.status != 0) return run.status;
  const uint64_t endp = run.endp;

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
    saved = dump_db(file_path("Vex.dat"));
    if (saved) std::cout << " Done." << std::endl;
  }
  save_status_done();
  report_statistics(pmin, pmax, endp, run.stats);
  return saved ? 0 : 2;
}
