// Factor reporting. Hits are rare, so each one is checked again with plain
// 128-bit arithmetic before anything is written, and each file line is
// appended whole (or not at all) before the search goes on; the program syncs
// the files to disk before each save point. A factor that cannot be stored
// stops the run: a factor lost while its n leaves the candidate set would
// never be found again.
#include "search/report.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "arith/numtheory.h"
#include "db/candidates.h"
#include "db/factor_files.h"
#include "db/settings.h"

void report_factor(uint64_t p, int i, uint32_t n, uint32_t xmod) {
  char line[96];
  std::snprintf(line, sizeof line, "%llu | %d*2^%u+1", static_cast<unsigned long long>(p),
                static_cast<int>(ak[i]), n);
  if (p < 3 || k2n1_mod(p, ak[i], n) != 0) {
    std::cout.flush();
    std::fprintf(stderr, "Internal error: the search reported %s, but it is not a factor\n", line);
    std::exit(1);
  }

  auto it = aunfacset[i].find(n);
  const bool candidate = it != aunfacset[i].end();
  if (!candidate && !outputdupes) return;

  const char* target = candidate ? kFactFile : kFactExclFile;
  if (!append_factor_line(target, line)) {
    std::cout.flush();
    std::fprintf(stderr, "Error: cannot append to %s, factor not saved: %s\n", target, line);
    std::exit(1);
  }

  if (progress_line_open) {
    std::cerr << '\n';
    progress_line_open = false;
  }
  const bool verbose_form = xmod != 0 && verbose != 0;
  std::cout << line;
  if (verbose_form) std::cout << "\t(xmod " << xmod;
  if (n > nhigh) {
    std::cout << (verbose_form ? ", outside range" : "\t(outside range)");
  } else if (!candidate) {
    std::cout << (verbose_form ? ", duplicate" : "\t(duplicate)");
  }
  if (verbose_form) std::cout << ")";
  std::cout << '\n';
  std::cout.flush();

  if (candidate) aunfacset[i].erase(it);
}
