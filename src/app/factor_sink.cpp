// Filing the hits. Hits are rare next to primes, so each one is checked
// again with plain 128-bit arithmetic before anything is written, and lines
// are appended whole (or not at all); the program syncs the files to disk
// before each save point. A factor that cannot be stored stops the run: a
// factor lost while its n leaves the candidate set would never be found
// again.
#include "app/factor_sink.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "arith/numtheory.h"
#include "db/candidates.h"
#include "db/factor_files.h"
#include "db/file_names.h"
#include "db/settings.h"
#include "search/plan.h"

void program_sink::hit(const factor_hit& h) {
  if (failed()) return;
  const int i = h.slot;
  if (i >= kNumK) {
    error_ = "Internal error: the search reported a hit for slot " + std::to_string(i);
    return;
  }
  char line[96];
  std::snprintf(line, sizeof line, "%llu | %d*2^%u+1", static_cast<unsigned long long>(h.p),
                static_cast<int>(ak[i]), h.n);
  if (!h.prechecked && (h.p < 3 || k2n1_mod(h.p, ak[i], h.n) != 0)) {
    error_ = std::string("Internal error: the search reported ") + line + ", but it is not a factor";
    return;
  }

  // The sets only shrink during a run: an n that was no candidate at its
  // start is none now.
  const bool may_be_candidate = !h.prechecked || h.in_start_set;
  const auto it = may_be_candidate ? aunfacset[i].find(h.n) : aunfacset[i].end();
  const bool candidate = it != aunfacset[i].end();
  if (!candidate && (h.only_if_candidate || !outputdupes)) return;

  pending& target = candidate ? fact_ : excl_;
  if (target.lines++ == 0) target.first = line;
  target.text += line;
  target.text += '\n';

  std::string& out = console_;
  out += line;
  const bool verbose_form = h.xmod != 0 && verbose != 0;
  if (verbose_form) {
    char xmod[24];
    std::snprintf(xmod, sizeof xmod, "\t(xmod %u", h.xmod);
    out += xmod;
  }
  if (h.n > nhigh) {
    out += verbose_form ? ", outside range" : "\t(outside range)";
  } else if (!candidate) {
    out += verbose_form ? ", duplicate" : "\t(duplicate)";
  }
  if (verbose_form) out += ")";
  out += '\n';

  if (!batched_ && !flush()) return;
  if (candidate) aunfacset[i].erase(it);
}

bool program_sink::append(const char* file, pending& p) {
  if (p.lines == 0) return true;
  if (!append_factor_lines(file_path(file).c_str(), p.text)) {
    error_ = std::string("Error: cannot append to ") + file + ", factor not saved: " + p.first;
    if (p.lines > 1) error_ += " (and " + std::to_string(p.lines - 1) + " more)";
    return false;
  }
  p.text.clear();
  p.lines = 0;
  return true;
}

void program_sink::print(const std::string& text) {
  if (text.empty()) return;
  if (progress_line_open) {
    std::cerr << '\n';
    progress_line_open = false;
  }
  std::cout << text;
  std::cout.flush();
}

bool program_sink::flush() {
  if (failed()) return false;
  if (!append(kFactFile, fact_) || !append(kFactExclFile, excl_)) return false;
  print(console_);
  console_.clear();
  return true;
}

bool sync_factors() {
  std::string error;
  if (sync_factor_files(error)) return true;
  std::cout.flush();
  std::cerr << "Error: " << error << "; no save point written" << std::endl;
  return false;
}

void precheck_hit(const search_plan& plan, factor_hit& h) {
  if (h.slot >= kNumK || h.p < 3 || k2n1_mod(h.p, plan.ak[h.slot], h.n) != 0) return;
  const std::vector<uint32_t>& set = plan.start_set[h.slot];
  h.in_start_set = std::binary_search(set.begin(), set.end(), h.n);
  h.prechecked = true;
}
