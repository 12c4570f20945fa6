// Where the search hands its hits. The search itself never opens a file,
// prints or decides whether a hit is new: it passes each one, in the order
// found, to a sink. The program's sink (app/factor_sink.h) files it; a worker
// thread's sink buffers it for the committer; tests record it.
#pragma once
#include <cstdint>
#include <vector>

struct factor_hit {
  uint64_t p;          // the prime, dividing ak[slot]*2^n+1
  uint32_t n;
  uint32_t xmod;       // class modulus of the residue-class search, else 0
  uint8_t slot;        // index of k in the candidate file's slots
  // Filed only when n is still a candidate when the hit is filed (a slot's
  // lone last n, tested directly); dropped without a trace otherwise.
  bool only_if_candidate;
  // Set when the hit was checked before it reached the program's sink (in
  // a worker thread, side by side with the search): it is a true factor,
  // and in_start_set tells whether n was a candidate when the run began.
  bool prechecked = false;
  bool in_start_set = false;
};

class factor_sink {
 public:
  virtual void hit(const factor_hit& h) = 0;

 protected:
  ~factor_sink() = default;
};

// Keeps the hits in the order they came.
class hit_buffer final : public factor_sink {
 public:
  void hit(const factor_hit& h) override { hits.push_back(h); }
  std::vector<factor_hit> hits;
};
