// A worker for the search tests: its plan is built from the candidate
// database globals as the test left them, and every hit it hands on is
// recorded in order, then, where a test asks for it, filed through the
// program's sink (factor files and console lines).
#pragma once
#include <vector>

#include "app/factor_sink.h"
#include "search/hash.h"
#include "search/plan.h"
#include "search/sink.h"
#include "search/worker.h"

namespace testrig {

// Keeps every hit; with filing on also hands it to the program's sink.
class recording_sink final : public factor_sink {
 public:
  void hit(const factor_hit& h) override {
    hits.push_back(h);
    if (filing) files.hit(h);
  }
  std::vector<factor_hit> hits;
  bool filing = false;
  program_sink files;
};

class worker_rig {
 public:
  worker_rig() : w(built(plan_), sink) {}
  worker_rig(const worker_rig&) = delete;
  worker_rig& operator=(const worker_rig&) = delete;

  // Builds the plan again from the globals as they are now and sizes the
  // hash table for their nhigh; the recorded hits are dropped, the counters
  // kept.
  void rebuild() {
    build_search_plan(plan_);
    hash_init(w.ps, plan_.nhigh);
    sink.hits.clear();
  }

  const search_plan& plan() const { return plan_; }

 private:
  static const search_plan& built(search_plan& plan) {
    build_search_plan(plan);
    return plan;
  }
  search_plan plan_{};

 public:
  recording_sink sink;
  worker w;
};

}  // namespace testrig
