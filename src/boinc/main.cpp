// brindle_boinc: brindle as a task of a volunteer-computing project run by
// the BOINC client. The client starts it in a slot directory with the range
// of the workunit on the command line,
//   brindle_boinc [--nthreads N | -t N] <p_min> <p_max>
// and the candidate file as the input "Vex.dat". The run is brindle's own
// (app/driver.h), with these differences:
//  - every file name goes through boinc_resolve_filename;
//  - the range is settled without any question (standard input is never
//    read): a status file for the same range, unfinished, is resumed from its
//    last save point; one for the same range, finished, only has its result
//    written again; anything else starts the range afresh;
//  - the client hears the fraction done (linear in p), gets a checkpoint
//    (factor files synced, save point written, inside a critical section)
//    whenever it asks, and its suspend, resume and quit requests are
//    honoured: the workers pause, or the run stops cleanly at a save point;
//  - at the end of the range the output "factors.txt" is written in one go:
//    the range's factor lines, each once, then "done <p_min> <p_max>"
//    (app/result_file.h); then boinc_finish(0). Any failure ends with its
//    message on standard error (the client's stderr.txt) and a non-zero
//    status through boinc_finish. The console lines go to "brindle.log".
#include <boinc_api.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/driver.h"
#include "app/host.h"
#include "app/result_file.h"
#include "app/status.h"
#include "arith/limits.h"
#include "db/decimal.h"
#include "db/factor_files.h"
#include "db/file_names.h"

namespace {

// The name of the output file in the result template.
constexpr const char* kResultFile = "factors.txt";
// The console output of the run, kept in the slot.
constexpr const char* kLogFile = "brindle.log";

// The last line of a text file that is not empty ("" when none).
std::string last_line_of(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

std::string resolve(const std::string& name) {
  std::string path;
  if (boinc_resolve_filename_s(name.c_str(), path) != 0) return name;
  return path;
}

class boinc_host final : public run_host {
 public:
  void report_fraction(double done) override { boinc_fraction_done(done); }
  bool checkpoint_wanted() override { return boinc_time_to_checkpoint() != 0; }
  void checkpoint_written() override { boinc_checkpoint_completed(); }
  void begin_writes() override { boinc_begin_critical_section(); }
  void end_writes() override { boinc_end_critical_section(); }
  bool stop_wanted() override {
    BOINC_STATUS st;
    boinc_get_status(&st);
    return st.quit_request != 0 || st.abort_request != 0 || st.no_heartbeat != 0;
  }
  bool pause_wanted() override {
    BOINC_STATUS st;
    boinc_get_status(&st);
    return st.suspended != 0;
  }
};

// Ends the task with status (non-zero: a failure, already reported).
int finish(int status) {
  std::cout.flush();
  std::cerr.flush();
  boinc_finish(status);  // does not return
  return status;
}

int fail(const std::string& message) {
  std::cerr << message << std::endl;
  return finish(1);
}

struct task {
  uint64_t pmin = 0;
  uint64_t pmax = 0;
  uint64_t threads = 1;
};

// The workunit's command line; false with the reason in error.
bool parse_task(int argc, char** argv, task& t, std::string& error) {
  std::vector<uint64_t> values;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--nthreads" || arg == "-t") {
      if (i + 1 >= argc) {
        error = arg + " needs a number of threads after it";
        return false;
      }
      const std::string value = argv[++i];
      if (parse_decimal(value, kMaxThreads, t.threads) != decimal_result::ok || t.threads == 0) {
        error = "not a thread count from 1 to " + std::to_string(kMaxThreads) + ": " + value;
        return false;
      }
      continue;
    }
    uint64_t v = 0;
    if (parse_decimal(arg, ~0ULL, v) != decimal_result::ok) {
      error = "not a number: " + arg;
      return false;
    }
    values.push_back(v);
  }
  if (values.size() != 2) {
    error = "usage: brindle_boinc [--nthreads N] <p_min> <p_max>";
    return false;
  }
  t.pmin = values[0];
  t.pmax = values[1];
  if (t.pmin < kPMinLimit || t.pmax <= t.pmin || t.pmax > kPLimit) {
    error = "the range must have 10^9 <= p_min < p_max <= 2^62, not " + std::to_string(t.pmin) + " to " +
            std::to_string(t.pmax);
    return false;
  }
  return true;
}

// The whole text of a file; empty when it does not exist.
bool read_whole(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) return true;  // no factor lines
    std::fclose(probe);
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  text = s.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  BOINC_OPTIONS options;
  boinc_options_defaults(options);
  // The program handles suspend, resume and quit itself (clean stops).
  options.direct_process_action = 0;
  if (const int rc = boinc_init_options(&options)) {
    std::cerr << "brindle_boinc: cannot start the BOINC runtime (error " << rc << ")" << std::endl;
    return 1;
  }
  // No question may ever wait for an answer.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::fclose(stdin);
  set_file_resolver(resolve);
  // The console lines go to a log in the slot, new at every start; a
  // failure's message, which the program prints there, is repeated on
  // standard error for the client.
  const std::string log = resolve(kLogFile);
  if (std::freopen(log.c_str(), "w", stdout) == nullptr) std::fclose(stdout);

  task t;
  std::string error;
  if (!parse_task(argc, argv, t, error)) return fail("brindle_boinc: " + error);

  const status_summary st = read_status_file();
  const bool same_range = st.found && st.pmax == t.pmax && st.first_pmin == t.pmin;
  const std::string threads = std::to_string(t.threads);
  int status = 0;
  if (!(same_range && st.finished)) {
    std::vector<std::string> args = {"brindle", "-t", threads};
    if (!same_range) {
      // A new task: the range afresh, whatever the slot held.
      args = {"brindle", "-f", "-t", threads, std::to_string(t.pmin), std::to_string(t.pmax)};
    }
    std::vector<char*> argv2;
    for (std::string& a : args) argv2.push_back(a.data());
    argv2.push_back(nullptr);
    boinc_host host;
    status = brindle_main(static_cast<int>(args.size()), argv2.data(), &host);
  }
  if (status == 128 + SIGTERM || status == 128 + SIGINT || status == 128 + SIGHUP) {
    // Stopped at a save point (the client's quit, or a signal): the client
    // starts the task again later, and it resumes there.
    std::cout.flush();
    boinc_end_critical_section();
    std::exit(0);
  }
  if (status != 0) {
    std::cout.flush();
    std::fflush(stdout);
    const std::string last = last_line_of(log);
    if (!last.empty()) std::cerr << last << std::endl;
    return finish(status);
  }

  std::string fact, excl;
  if (!read_whole(file_path(kFactFile), fact, error) || !read_whole(file_path(kFactExclFile), excl, error)) {
    return fail("Error: " + error);
  }
  boinc_begin_critical_section();
  const bool written =
      write_file_atomically(resolve(kResultFile), result_text(fact, excl, t.pmin, t.pmax), error);
  boinc_end_critical_section();
  if (!written) return fail("Error: " + error);
  boinc_fraction_done(1.0);
  return finish(0);
}
