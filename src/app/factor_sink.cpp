// Filing the hits. Hits are rare, so each one is checked again with plain
// 128-bit arithmetic before anything is written, and each file line is
// appended whole (or not at all) before the next hit; the program syncs the
// files to disk before each save point. A factor that cannot be stored
// stops the run: a factor lost while its n leaves the candidate set would
// never be found again.
#include "app/factor_sink.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "arith/numtheory.h"
#include "db/candidates.h"
#include "db/factor_files.h"
#include "db/settings.h"

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
  if (h.p < 3 || k2n1_mod(h.p, ak[i], h.n) != 0) {
    error_ = std::string("Internal error: the search reported ") + line + ", but it is not a factor";
    return;
  }

  auto it = aunfacset[i].find(h.n);
  const bool candidate = it != aunfacset[i].end();
  if (!candidate && (h.only_if_candidate || !outputdupes)) return;

  const char* target = candidate ? kFactFile : kFactExclFile;
  if (!append_factor_line(target, line)) {
    error_ = std::string("Error: cannot append to ") + target + ", factor not saved: " + line;
    return;
  }

  if (progress_line_open) {
    std::cerr << '\n';
    progress_line_open = false;
  }
  const bool verbose_form = h.xmod != 0 && verbose != 0;
  std::cout << line;
  if (verbose_form) std::cout << "\t(xmod " << h.xmod;
  if (h.n > nhigh) {
    std::cout << (verbose_form ? ", outside range" : "\t(outside range)");
  } else if (!candidate) {
    std::cout << (verbose_form ? ", duplicate" : "\t(duplicate)");
  }
  if (verbose_form) std::cout << ")";
  std::cout << '\n';
  std::cout.flush();

  if (candidate) aunfacset[i].erase(it);
}
