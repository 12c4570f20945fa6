// Progress status file "VexStatus.dat" and the range questions. The file is
// opened for one read pass or one append and closed again at once; each
// append is written whole and synced before it returns, so a save point is
// on disk before the main loop goes on. Failures to write it cost no data (a
// resumed run only repeats work), so the run goes on; the first one is
// reported once on standard error.
#include "app/status.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/cli.h"
#include "db/decimal.h"
#include "db/factor_files.h"
#include "db/file_names.h"

namespace {

const char* const kStatusFile = "VexStatus.dat";

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void warn_status_write_failed() {
  static bool warned = false;
  if (warned) return;
  warned = true;
  std::cerr << "Warning: cannot write " << kStatusFile
            << "; the run goes on, but its progress is not saved" << std::endl;
}

// Appends text to the status file, on disk when it returns; warns once on
// failure.
void append_status(const std::string& text) {
  if (!append_durably(file_path(kStatusFile).c_str(), text)) warn_status_write_failed();
}

// Puts the working directory's entries on disk, so a status file just
// created (or removed) stays so after a power cut. Best effort: some file
// systems cannot sync a directory, and a lost entry only means repeated work.
void sync_working_directory() {
  const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

void write_range(uint64_t pmin, uint64_t pmax) {
  append_status("pmax=" + std::to_string(pmax) + "\npmin=" + std::to_string(pmin) + "\n");
  sync_working_directory();
}

void remove_status() {
  if (std::remove(file_path(kStatusFile).c_str()) != 0) warn_status_write_failed();
}

// Opens the status file for reading; -1 when it cannot be opened. Never
// waits: a FIFO of that name without a writer reads as empty.
int open_status() { return open(file_path(kStatusFile).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

bool status_exists() {
  const int fd = open_status();
  if (fd < 0) return false;
  close(fd);
  return true;
}

void say_end_of_input() {
  std::cout << "\nNo answer: standard input has ended. Exiting." << std::endl;
}

// Reads one answer in billions into value. False after a message when the
// answer is missing, not a whole number, or too large for 64 bits.
bool ask_billions(const char* question, uint64_t& value) {
  std::cout << question << std::flush;
  // One word of at most kMaxWord characters: a longer one (endless input
  // such as /dev/zero) is cut there and refused below, never read whole.
  const size_t kMaxWord = 64;
  std::string answer;
  std::istream::int_type c = std::cin.get();
  while (c != std::istream::traits_type::eof() && is_space(static_cast<char>(c))) c = std::cin.get();
  while (c != std::istream::traits_type::eof() && !is_space(static_cast<char>(c)) &&
         answer.size() < kMaxWord) {
    answer += static_cast<char>(c);
    if (answer.size() < kMaxWord) c = std::cin.get();
  }
  if (answer.empty()) {
    say_end_of_input();
    return false;
  }
  if (answer.size() == kMaxWord) {
    std::cout << "Not a number: " << answer << "... Exiting." << std::endl;
    return false;
  }
  const uint64_t billion = 1000000000;
  uint64_t billions = 0;
  switch (parse_decimal(answer, ~0ULL / billion, billions)) {
    case decimal_result::not_decimal:
      std::cout << "Not a number: " << answer << ". Exiting." << std::endl;
      return false;
    case decimal_result::too_large:
      std::cout << "Too large: " << answer << " billion does not fit in 64 bits. Exiting."
                << std::endl;
      return false;
    case decimal_result::ok:
      break;
  }
  value = billions * billion;
  return true;
}

enum class answer { yes, no, other, end, too_long };

// Reads one line of standard input as an answer to a [y/n] question: end
// when the input has ended before any character. Leading blanks are skipped
// and the rest is kept up to kMaxAnswer characters; a line that goes on past
// that with anything but blanks is neither yes nor no.
answer read_yes_no() {
  const size_t kMaxAnswer = 64;
  const size_t kMaxLine = 4096;  // longer is no answer (endless input)
  std::string line;
  bool any = false;
  bool overlong = false;
  for (size_t read = 0;; ++read) {
    if (read == kMaxLine) return answer::too_long;
    const std::istream::int_type c = std::cin.get();
    if (c == std::istream::traits_type::eof()) break;
    any = true;
    if (c == '\n') break;
    const char ch = static_cast<char>(c);
    if (line.empty() && is_space(ch)) continue;
    if (line.size() < kMaxAnswer) {
      line += ch;
    } else if (!is_space(ch)) {
      overlong = true;
    }
  }
  if (!any) return answer::end;
  if (overlong) return answer::other;
  size_t end = line.size();
  while (end > 0 && is_space(line[end - 1])) --end;
  std::string word = line.substr(0, end);
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (word == "y" || word == "yes") return answer::yes;
  if (word == "n" || word == "no") return answer::no;
  return answer::other;
}

}  // namespace

status_summary read_status_file() {
  const int fd = open_status();
  if (fd < 0) return status_summary{};
  status_parser parser;
  char block[65536];
  while (!parser.done()) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    parser.feed(block, static_cast<size_t>(n));
  }
  close(fd);
  return parser.finish();
}

void status_parser::feed(const char* data, size_t size) {
  const uint64_t max = ~0ULL;
  for (size_t i = 0; i < size && !summary_.finished; ++i) {
    const char c = data[i];
    if (c == '\n') {
      end_line();
      continue;
    }
    if (length_ < 6) ++length_;
    switch (state_) {
      case state::head:
        head_[length_ - 1] = c;
        if (length_ == 5) {
          const bool pmin = std::memcmp(head_, "pmin", 4) == 0;
          const bool pmax = std::memcmp(head_, "pmax", 4) == 0;
          is_pmin_ = pmin;
          state_ = pmin || pmax ? state::blank : state::skip;
        }
        break;
      case state::blank:
        if (is_space(c)) break;
        if (!is_digit(c)) {
          state_ = state::skip;
          break;
        }
        has_value_ = true;
        value_ = static_cast<uint64_t>(c - '0');
        state_ = state::digits;
        break;
      case state::digits: {
        if (!is_digit(c)) {
          state_ = state::skip;
          break;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        value_ = value_ > (max - digit) / 10 ? max : value_ * 10 + digit;
        break;
      }
      case state::skip:
        break;
    }
  }
}

void status_parser::end_line() {
  if (length_ == 4 && std::memcmp(head_, "Done", 4) == 0) {
    summary_.finished = true;
  } else if (has_value_) {
    if (is_pmin_) {
      summary_.pmin = value_;
      if (!summary_.first_pmin) summary_.first_pmin = value_;
    } else {
      summary_.pmax = value_;
    }
  }
  length_ = 0;
  state_ = state::head;
  has_value_ = false;
  value_ = 0;
}

status_summary status_parser::finish() {
  if (!summary_.finished) end_line();
  summary_.found = true;
  return summary_;
}

status_summary parse_status_text(const std::string& text) {
  status_parser parser;
  parser.feed(text.data(), text.size());
  return parser.finish();
}

bool new_status_range(uint64_t pmin, uint64_t pmax, bool force) {
  if (!check_new_range(pmin, pmax)) return false;
  if (status_exists()) {
    if (!force && !ask_clear_vexstatus_dat()) return false;
    remove_status();
  }
  write_range(pmin, pmax);
  return true;
}

bool resume_status_range(uint64_t& pmin, uint64_t& pmax, bool force, bool& resumed,
                         uint64_t& first_pmin) {
  const status_summary file = read_status_file();
  if (file.pmin) pmin = *file.pmin;
  if (file.pmax) pmax = *file.pmax;
  resumed = file.found && !file.finished;
  if (resumed) {
    first_pmin = file.first_pmin ? *file.first_pmin : pmin;
    if (pmin < pmax) {
      std::cout << "Found VexStatus.dat with unfinished work. Continuing from last save point."
                << std::endl;
    }
    return true;
  }
  if (file.finished) {
    std::cout << "Found VexStatus.dat with completed work." << std::endl;
    if (!force && !ask_clear_vexstatus_dat()) return false;
  }
  // The finished file stays until the new range is known to be usable.
  if (!ask_pmin_pmax(pmin, pmax)) return false;
  if (!check_new_range(pmin, pmax)) return false;
  if (file.finished) remove_status();
  write_range(pmin, pmax);
  first_pmin = pmin;
  return true;
}

void save_status_pmin(uint64_t p) { append_status("pmin=" + std::to_string(p) + "\n"); }

void save_status_done() { append_status("Done\n"); }

bool append_durably(const char* path, const std::string& text) {
  return append_whole(path, text.data(), text.size(), true);
}

bool ask_clear_vexstatus_dat() {
  // Asked again after each answer that is neither yes nor no, but not
  // forever: input that never says either ends the run.
  const int kMaxQuestions = 100;
  for (int asked = 1;; ++asked) {
    std::cout << "Do you wish to clear VexStatus.dat and begin a new range? [y/n] : "
              << std::flush;
    switch (read_yes_no()) {
      case answer::yes:
        return true;
      case answer::no:
        std::cout << "Exiting." << std::endl;
        return false;
      case answer::end:
        say_end_of_input();
        return false;
      case answer::too_long:
        std::cout << "\nNo answer: the line is too long. Exiting." << std::endl;
        return false;
      case answer::other:
        if (asked == kMaxQuestions) {
          std::cout << "\nNo answer after " << kMaxQuestions << " questions. Exiting." << std::endl;
          return false;
        }
        break;
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
