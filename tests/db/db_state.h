// A snapshot of everything the candidate reader fills, for comparing two
// reads; shared by the database tests and the reader's fuzz target.
#pragma once
#include <cstdint>
#include <set>
#include <vector>

#include "arith/limits.h"
#include "db/candidates.h"

namespace dbtest {

// Snapshot of everything the reader fills, for comparing two reads.
struct DbState {
  int32_t k[kNumK];
  std::set<uint32_t> sets[kNumK];
  uint32_t power[kNumK], equiv[kNumK], mod[kNumK], nres[kNumK];
  std::vector<uint32_t> res[kNumK];
  uint32_t high;

  static DbState capture() {
    DbState s;
    for (int i = 0; i < kNumK; ++i) {
      s.k[i] = ak[i];
      s.sets[i] = aunfacset[i];
      s.power[i] = akpower[i];
      s.equiv[i] = akequiv[i];
      s.mod[i] = akmod[i];
      s.nres[i] = aknres[i];
      s.res[i].assign(akares[i], akares[i] + aknres[i]);
    }
    s.high = nhigh;
    return s;
  }
  bool operator==(const DbState& o) const {
    for (int i = 0; i < kNumK; ++i)
      if (k[i] != o.k[i] || sets[i] != o.sets[i] || power[i] != o.power[i] || equiv[i] != o.equiv[i] ||
          mod[i] != o.mod[i] || nres[i] != o.nres[i] || res[i] != o.res[i])
        return false;
    return high == o.high;
  }
};

}  // namespace dbtest
