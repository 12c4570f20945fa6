// Fuzz target for the status file parser and the command line. The input is
// status file text: parsed whole, it must give the same summary as when fed
// in two pieces split anywhere, and the summary must hang together. The same
// bytes, split at NULs, are also an argument list for the command line
// parser, whose result must obey the grammar's limits.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/status.h"
#include "db/settings.h"

namespace {

bool same(const status_summary& a, const status_summary& b) {
  return a.found == b.found && a.finished == b.finished && a.pmin == b.pmin && a.pmax == b.pmax &&
         a.first_pmin == b.first_pmin;
}

void check_status_text(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const status_summary whole = parse_status_text(text);
  if (!whole.found) abort();
  if (whole.pmin.has_value() != whole.first_pmin.has_value()) abort();

  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  status_parser parser;
  parser.feed(text.data(), cut);
  parser.feed(text.data() + cut, size - cut);
  if (!same(parser.finish(), whole)) abort();
}

void check_command_line(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"brindle"};
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += static_cast<char>(data[i]);
    }
  }
  args.push_back(arg);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  verbose = 0;
  outputdupes = true;
  run_settings s;
  const int status = parse_command_line(static_cast<int>(argv.size()), argv.data(), s);
  if (status != 0 && status != 1) abort();
  if (verbose < 0 || verbose > 2) abort();
  if (status == 0) {
    if (s.save_interval < kMinSaveInterval) abort();
    if (!s.range_given && (s.pmin != 0 || s.pmax != 0)) abort();
    uint64_t pmax = s.pmax;
    const bool accepted = check_new_range(s.pmin, s.pmax);
    if (accepted != (check_range(s.pmin, pmax) == 0)) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parsers print their messages; nobody reads them here.
  static std::ostringstream sink;
  static std::streambuf* const quiet = [] {
    std::cout.rdbuf(sink.rdbuf());
    return sink.rdbuf();
  }();
  (void)quiet;
  sink.str("");
  check_status_text(data, size);
  check_command_line(data, size);
  return 0;
}
