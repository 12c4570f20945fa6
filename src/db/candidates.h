// The candidate database: per k, the ordered set of exponents n for which
// k*2^n+1 has no known factor, the upper bound nhigh, and the residue classes
// into which the remaining n fall (used by the searches to skip whole classes).
#pragma once
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "arith/limits.h"

extern int32_t ak[kNumK];                    // the k of each slot
extern std::set<uint32_t> aunfacset[kNumK];  // unfactored n per slot
extern uint32_t akpower[kNumK];   // gcd of the differences between consecutive n
extern uint32_t akequiv[kNumK];   // common residue of the n modulo akpower
extern uint32_t akmod[kNumK];     // akpower times the chosen multiplier (1..49)
extern uint32_t aknres[kNumK];    // number of valid entries in akares
extern uint32_t akares[kNumK][10];  // distinct n mod akmod, ascending
extern uint32_t nhigh;            // upper bound of n (default 20000000)

constexpr uint32_t kDefaultNhigh = 20000000;

// Reads the candidate file into ak, aunfacset, nhigh, akpower and akequiv,
// then chooses akmod and fills aknres/akares. A section with fewer than two
// distinct n (none, or one n) carries no class information: akpower and
// akequiv 0, akmod 0 and no residues, the state that slots beyond the file's
// last section also get (these keep their built-in k and an empty set). An n
// above nhigh is kept. At verbose >= 1 prints the per-section classes and
// the summary, at verbose >= 2 the analysis. Returns false, after one line
// on standard output naming the problem (and its line), when the file cannot
// be opened or read, is malformed (the grammar is described in
// candidates.cpp), holds a byte outside it (NUL included), or is larger than
// 1 GiB; the globals are then left unchanged.
bool read_db(const std::string& filename);

// The same for a stream already open, read from its current position up to
// its end; `filename` names it in the messages. The caller closes it.
bool read_db_stream(std::FILE* file, const std::string& filename);

// Prints the per-slot summary.
void print_stats();

// The candidate file's text, appended item by item to a string, one item per
// line: the header (number of sections, 0, nhigh), then per section "k=<k>",
// its first n and "+<difference>" for every further n. The n of a section
// must come in ascending order. format_db and vexgen write through it.
class db_formatter {
 public:
  explicit db_formatter(std::string& out) : out_(out) {}

  void header(uint64_t nsections, uint32_t nhigh) {
    line(nsections);
    line(0);
    line(nhigh);
  }
  // Opens the section of k; the next n is its first.
  void section(int32_t k) {
    out_ += "k=";
    append_decimal(k);
    out_ += '\n';
    first_ = true;
  }
  // The next n of the open section, above the one before.
  void add_n(uint32_t n) {
    if (first_) {
      line(n);
    } else {
      out_ += '+';
      line(n - prev_);
    }
    first_ = false;
    prev_ = n;
  }

 private:
  template <typename T>
  void append_decimal(T value) {
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, static_cast<size_t>(r.ptr - digits));
  }
  void line(uint64_t value) {
    append_decimal(value);
    out_ += '\n';
  }

  std::string& out_;
  bool first_ = true;
  uint32_t prev_ = 0;
};

// The candidate file's bytes for the current sets: header 12, 0, nhigh, then
// every slot's k and every n of its set (those above nhigh too), one item per
// line. read_db takes them back to the same k, sets and nhigh.
std::string format_db();

// Writes format_db() atomically through "<filename>.tmp" in the same
// directory. Returns false, leaving the old file untouched and after a
// message on standard error, when the new file cannot be written completely.
bool dump_db(const std::string& filename);

// Helpers of the two candidate-file writers (dump_db and vexgen's).
// The directory that holds path, for syncing it after a rename: "." for a
// bare file name, "/" for a file in the root.
std::string directory_of(const std::string& path);
// Puts the entries of the directory that holds path on disk, so that a file
// just renamed there keeps its new name after a crash (best effort: a
// directory that cannot be opened or synced is passed over).
void sync_directory_of(const std::string& path);
// Writes all of data to fd, retrying short writes and interruptions; returns
// false, with errno set, when a write fails.
bool write_all(int fd, const std::string& data);
