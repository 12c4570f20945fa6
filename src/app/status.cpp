// Progress status file "VexStatus.dat" and the range questions. The file is
// opened for one read pass or one append and closed again at once, so each
// save point is on disk before the main loop goes on. Failures to write it
// cost no data (a resumed run only repeats work), so the run goes on; the
// first one is reported once on standard error.
#include "app/status.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "app/cli.h"

namespace {

const char* const kStatusFile = "VexStatus.dat";

void warn_status_write_failed() {
  static bool warned = false;
  if (warned) return;
  warned = true;
  std::cerr << "Warning: cannot write " << kStatusFile
            << "; the run goes on, but its progress is not saved" << std::endl;
}

// Appends text to the status file and closes it; warns once on failure.
void append_status(const std::string& text) {
  std::ofstream f(kStatusFile, std::ios::app);
  if (f) f << text;
  if (f) f.close();
  if (!f) warn_status_write_failed();
}

void write_range(uint64_t pmin, uint64_t pmax) {
  append_status("pmax=" + std::to_string(pmax) + "\npmin=" + std::to_string(pmin) + "\n");
}

void remove_status() {
  if (std::remove(kStatusFile) != 0) warn_status_write_failed();
}

bool status_exists() {
  std::ifstream f(kStatusFile);
  return static_cast<bool>(f);
}

void say_end_of_input() {
  std::cout << "\nNo answer: standard input has ended. Exiting." << std::endl;
}

// Reads one answer in billions into value. False after a message when the
// answer is missing, not a whole number, or too large for 64 bits.
bool ask_billions(const char* question, uint64_t& value) {
  std::cout << question << std::flush;
  std::string answer;
  if (!(std::cin >> answer)) {
    say_end_of_input();
    return false;
  }
  for (char c : answer) {
    if (c < '0' || c > '9') {
      std::cout << "Not a number: " << answer << ". Exiting." << std::endl;
      return false;
    }
  }
  const uint64_t billions = toint(answer);
  const uint64_t billion = 1000000000;
  if (billions > ~0ULL / billion) {
    std::cout << "Too large: " << answer << " billion does not fit in 64 bits. Exiting."
              << std::endl;
    return false;
  }
  value = billions * billion;
  return true;
}

// A "pmin"/"pmax" line carries its value from the sixth character on; the
// fifth (normally "=") is skipped whatever it is. False for a line too short
// to hold a value or without digits there: such a line is ignored.
bool line_value(const std::string& line, uint64_t& value) {
  if (line.size() < 6) return false;
  const std::string rest = line.substr(5);
  if (!starts_with_digit(rest)) return false;
  value = toint(rest);
  return true;
}

}  // namespace

bool new_status_range(uint64_t pmin, uint64_t pmax, bool force) {
  if (status_exists()) {
    if (!force && !ask_clear_vexstatus_dat()) return false;
    remove_status();
  }
  write_range(pmin, pmax);
  return true;
}

bool resume_status_range(uint64_t& pmin, uint64_t& pmax, bool force) {
  bool found = false;
  bool finished = false;
  {
    std::ifstream f(kStatusFile);
    found = static_cast<bool>(f);
    std::string line;
    while (found && std::getline(f, line)) {
      uint64_t value = 0;
      if (line.compare(0, 4, "pmin") == 0) {
        if (line_value(line, value)) pmin = value;
      } else if (line.compare(0, 4, "pmax") == 0) {
        if (line_value(line, value)) pmax = value;
      } else if (line == "Done") {
        finished = true;
        break;
      }
    }
  }
  if (found && !finished) {
    if (pmin < pmax) {
      std::cout << "Found VexStatus.dat with unfinished work. Continuing from last save point."
                << std::endl;
    }
    return true;
  }
  if (finished) {
    std::cout << "Found VexStatus.dat with completed work." << std::endl;
    if (!force && !ask_clear_vexstatus_dat()) return false;
    remove_status();
  }
  if (!ask_pmin_pmax(pmin, pmax)) return false;
  write_range(pmin, pmax);
  return true;
}

void save_status_pmin(uint64_t p) { append_status("pmin=" + std::to_string(p) + "\n"); }

void save_status_done() { append_status("Done\n"); }

bool ask_clear_vexstatus_dat() {
  for (;;) {
    std::cout << "Do you wish to clear VexStatus.dat and begin a new range? [y/n] : "
              << std::flush;
    char c = 0;
    if (!(std::cin >> c)) {
      say_end_of_input();
      return false;
    }
    if (c == 'y' || c == 'Y') return true;
    if (c == 'n' || c == 'N') {
      std::cout << "Exiting." << std::endl;
      return false;
    }
  }
}

bool ask_pmin_pmax(uint64_t& pmin, uint64_t& pmax) {
  if (!ask_billions("Sieve from (in billions) : ", pmin)) return false;
  do {
    if (!ask_billions("Sieve to (in billions) : ", pmax)) return false;
  } while (pmax <= pmin);
  return true;
}
