// Progress status file "VexStatus.dat" and the console questions about the
// range. The file is only ever created, appended to or removed: "pmax=" and
// "pmin=" lines for a new range, a "pmin=" line per save point, and "Done"
// when the range is finished. When it is read, later lines override earlier
// ones, so a resumed run continues from the last save point.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The lock that makes a run the only writer of the status file; the run
// takes it before it settles the range here.
#include "app/lock.h"

// What a status file says, read up to its first "Done" line.
struct status_summary {
  bool found = false;                  // the file exists (parse_status_text: always)
  bool finished = false;               // a "Done" line: the range is complete
  std::optional<uint64_t> pmin;        // last "pmin" value: the last save point
  std::optional<uint64_t> pmax;        // last "pmax" value
  std::optional<uint64_t> first_pmin;  // first "pmin" value: where the range began
};

// Reads status file text, which may hold any bytes:
// - a line that is exactly "Done" marks the range finished; nothing after it
//   is read ("Done\r" or "Done " is not the marker);
// - a line that begins with "pmin" or "pmax" carries a value from its sixth
//   character on (the fifth, normally "=", is skipped whatever it is): after
//   white space, the leading decimal digits, saturating at 2^64-1 like toint;
// - every other line, and a pmin/pmax line without digits there, is ignored.
// A last line without a newline counts like any other.
status_summary parse_status_text(const std::string& text);

// parse_status_text on text that comes in pieces, split anywhere; it keeps
// a few bytes of state, never a whole line, so a file of any size or with
// endless lines is read in constant memory.
class status_parser {
 public:
  void feed(const char* data, size_t size);
  // True once "Done" has been read; nothing fed after it counts.
  bool done() const { return summary_.finished; }
  // Ends the text; a last line without a newline counts like any other.
  status_summary finish();

 private:
  enum class state { head, blank, digits, skip };
  void end_line();

  status_summary summary_;
  char head_[5] = {};      // the line's first five characters
  size_t length_ = 0;      // the line's length so far, counted up to 6
  state state_ = state::head;
  bool is_pmin_ = false;   // after the head: a pmin (else a pmax) line
  bool has_value_ = false;
  uint64_t value_ = 0;
};

// The status file as parse_status_text reads it, in blocks, up to its
// "Done" line; found is false when it cannot be opened. A read error ends
// the text there.
status_summary read_status_file();

// Range given on the command line: refuses a range the run would refuse
// (check_new_range, nothing touched); clears an existing file (asking first
// unless force) and writes the pmax and pmin lines. False when the range was
// refused, or the user declined or gave no usable answer; the run then ends
// with exit status 1.
bool new_status_range(uint64_t pmin, uint64_t pmax, bool force);

// No range given: continues an unfinished file, or (no file, or a finished
// one) asks for a range, checks it, and only then clears the finished file
// and writes the range. Values without a line in the file keep their value
// from entry. resumed tells whether the run continues the file's range;
// first_pmin is that range's first "pmin" value (pmin when the file has
// none), or the new range's pmin. False when the user declined, gave no
// usable answer, or the new range was refused (nothing is touched then).
bool resume_status_range(uint64_t& pmin, uint64_t& pmax, bool force, bool& resumed,
                         uint64_t& first_pmin);

// Append a save point / the end marker; the line is on disk (written and
// synced) when they return. A failure is reported once on standard error
// and the run goes on.
void save_status_pmin(uint64_t p);
void save_status_done();

// Appends text to the file at path (created when missing) and syncs it:
// every byte is written (short and interrupted writes are resumed) and the
// file is on disk when it returns true. False on any failure, with the file
// cut back to its length before, so a torn line never stays behind.
bool append_durably(const char* path, const std::string& text);

// "[y/n]" question, one line per answer: true for "y" or "yes", false after
// "Exiting." for "n" or "no" (any case, blanks around the word ignored), or
// after a message when standard input has ended. Any other line asks again,
// up to 100 questions; a line of 4096 characters or more, or the 100th
// answer that is neither, ends the run with a message (false).
bool ask_clear_vexstatus_dat();

// Asks for the range in billions ("Sieve to" again until above "Sieve from").
// False after a one-line message when an answer is not a whole number (an
// answer of 64 characters or more is cut there and refused), does not fit in
// 64 bits once multiplied by 10^9, or standard input has ended.
bool ask_pmin_pmax(uint64_t& pmin, uint64_t& pmax);
