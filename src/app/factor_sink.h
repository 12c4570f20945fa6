// The program's factor sink: the one place where a hit becomes a line. It
// checks the hit again with 128-bit arithmetic independent of the search,
// decides new or excluded against the candidate sets, appends the line to
// "fact.txt" or "factexcl.txt", prints it, and erases n from its set. Hits
// must come in the order one thread would find them (the committer's job),
// so that a number hit twice is filed the same way with any thread count.
#pragma once
#include <string>

#include "search/sink.h"

class program_sink final : public factor_sink {
 public:
  // Files one hit. A new factor (n in aunfacset[slot]) is appended to
  // "fact.txt", any other hit to "factexcl.txt" unless outputdupes is false
  // or the hit is only_if_candidate (then nothing is written or printed).
  // The console line follows, with "\t(outside range)" / "\t(duplicate)" or,
  // for a hit with xmod at non-zero verbose, "\t(xmod M[, outside range|,
  // duplicate])". Finally n is erased. A hit that fails the check, or a line
  // that cannot be appended (the file is then cut back to its length before,
  // so no partial line stays), leaves n in its set and records the error;
  // every later hit is then ignored.
  void hit(const factor_hit& h) override;

  bool failed() const { return !error_.empty(); }
  // The first error, one line without line end.
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};
