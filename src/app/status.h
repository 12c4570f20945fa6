// Progress status file "VexStatus.dat" and the console questions about the
// range. The file is only ever created, appended to or removed: "pmax=" and
// "pmin=" lines for a new range, a "pmin=" line per save point, and "Done"
// when the range is finished. When it is read, later lines override earlier
// ones, so a resumed run continues from the last save point.
#pragma once
#include <cstdint>

// Range given on the command line: clears an existing file (asking first
// unless force) and writes the pmax and pmin lines. False when the user
// declined or gave no usable answer; the run then ends with exit status 1.
bool new_status_range(uint64_t pmin, uint64_t pmax, bool force);

// No range given: continues an unfinished file, or (no file, or a finished
// one that is cleared) asks for a range and writes it. Values without a line
// in the file keep their value from entry. False when the user declined or
// gave no usable answer.
bool resume_status_range(uint64_t& pmin, uint64_t& pmax, bool force);

// Append a save point / the end marker; the line is on disk when they return.
void save_status_pmin(uint64_t p);
void save_status_done();

// "[y/n]" question: true for y/Y; false after "Exiting." for n/N, or after a
// message when standard input has ended. Any other character asks again.
bool ask_clear_vexstatus_dat();

// Asks for the range in billions ("Sieve to" again until above "Sieve from").
// False after a one-line message when an answer is not a whole number, does
// not fit in 64 bits once multiplied by 10^9, or standard input has ended.
bool ask_pmin_pmax(uint64_t& pmin, uint64_t& pmax);
