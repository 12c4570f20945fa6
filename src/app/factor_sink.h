// The program's factor sink: the one place where a hit becomes a line. It
// checks the hit again with 128-bit arithmetic independent of the search,
// decides new or excluded against the candidate sets, appends the line to
// "fact.txt" or "factexcl.txt", prints it, and erases n from its set. Hits
// must come in the order one thread would find them (the committer's job),
// so that a number hit twice is filed the same way with any thread count.
#pragma once
#include <cstddef>
#include <string>

#include "search/sink.h"

struct search_plan;

// Puts every factor line written so far on disk; a save point may only be
// written after that. On failure says so on standard error and returns
// false: the run then stops without the save point, so a resumed run tests
// those primes again.
bool sync_factors();

// The part of filing a hit that needs no order, done by the worker thread
// that found it so that the committer is spared it: checks the hit with
// 128-bit arithmetic and looks n up in the plan's start sets. A hit that
// fails the check is left unmarked, so the sink checks it again and stops
// the run.
void precheck_hit(const search_plan& plan, factor_hit& h);

class program_sink final : public factor_sink {
 public:
  // Unbatched, every line is appended and printed as its hit comes; batched,
  // the lines wait in memory for flush(), which writes each file's lines in
  // one append and the console's in one write. The committer batches a
  // block at a time and flushes before every save point: the lines are on
  // disk before the save point that covers them either way, and an n that
  // left its set in memory comes back with the candidate file if the run
  // dies before its line is written.
  explicit program_sink(bool batched = false) : batched_(batched) {}

  // Files one hit. A new factor (n in aunfacset[slot]) goes to "fact.txt",
  // any other hit to "factexcl.txt" unless outputdupes is false or the hit
  // is only_if_candidate (then nothing is written or printed). The console
  // line follows, with "\t(outside range)" / "\t(duplicate)" or, for a hit
  // with xmod at non-zero verbose, "\t(xmod M[, outside range|, duplicate])".
  // Finally n is erased. A prechecked hit is not checked again, and one
  // whose n was no candidate when the run began is excluded without a look
  // at the candidate sets. A hit that fails the check, or a line that cannot
  // be appended (the file is then cut back to its length before, so no
  // partial line stays), records the error; every later hit is ignored.
  void hit(const factor_hit& h) override;

  // Writes the lines waiting in a batched sink. Returns false when the sink
  // has failed (now or before).
  bool flush();

  bool failed() const { return !error_.empty(); }
  // The first error, one line without line end.
  const std::string& error() const { return error_; }

 private:
  // The lines waiting for one file, and the first of them for a message.
  struct pending {
    std::string text;
    std::string first;
    size_t lines = 0;
  };
  bool append(const char* file, pending& p);
  void print(const std::string& text);

  bool batched_;
  pending fact_, excl_;
  std::string console_;
  std::string error_;
};
