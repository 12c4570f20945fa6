// The engine. Blocks are numbered from 0; block b is [low + b*size,
// low + (b+1)*size), size one sieve window of 2^23 or 64 of them
// (block_size_for) unless a test asks for less. A worker thread claims the next block
// under the lock, tests it without the lock into its own hit buffer, and
// parks the result in the block's slot of a small ring; it never runs more
// than the ring's size ahead of the committer, which bounds the memory held
// in buffered hits. The committer waits for block after block in order, so
// every hit is filed, and every save point written, exactly where one thread
// would have done it. A stop cancels the workers (each looks at the flag
// every few thousand primes); the committer then files the blocks that end
// before the first gap and writes its save point at the last prime of them.
#include "app/engine.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/factor_sink.h"
#include "app/host.h"
#include "app/progress.h"
#include "app/status.h"
#include "app/stop.h"
#include "arith/numtheory.h"
#include "primes/sieve.h"

namespace {

// How often the waiting committer looks at the stop flag and the clock.
constexpr std::chrono::milliseconds kCommitterWake{100};

// No more save points.
constexpr uint64_t kNoSave = ~0ULL;

struct block_slot {
  bool ready = false;
  block_result result;
  std::vector<factor_hit> hits;
};

class engine {
 public:
  engine(const search_plan& plan, const engine_settings& s, progress_report& progress)
      : plan_(plan),
        s_(s),
        progress_(progress),
        nblocks_((s.pmax - s.low) / s.block_size + 1),
        threads_wanted_(static_cast<uint32_t>(std::min<uint64_t>(s.threads, nblocks_))),
        ring_(2 * static_cast<uint64_t>(threads_wanted_) + 1),
        slots_(ring_),
        stats_(threads_wanted_) {}

  engine_result run();

 private:
  void work(uint32_t t);
  void work_blocks(uint32_t t);
  void cancel();
  bool wait_for_block(uint64_t b, block_slot& taken);
  void look_at_stop_and_clock();
  bool flush_sink();
  bool save_point(uint64_t p);
  bool checkpoint_if_wanted();
  bool next_save_point();
  uint64_t next_save_after(uint64_t p) const;
  engine_result finish(int status);

  const search_plan& plan_;
  const engine_settings s_;
  progress_report& progress_;
  const uint64_t nblocks_;
  const uint32_t threads_wanted_;  // no more than there are blocks
  const uint64_t ring_;

  std::mutex m_;
  std::condition_variable done_;   // a block was parked
  std::condition_variable space_;  // a slot was freed, or cancel
  std::atomic<bool> cancel_{false};
  std::atomic<bool> pause_{false};  // the host suspended the run
  uint64_t next_ = 0;       // the next block to claim
  uint64_t committed_ = 0;  // blocks taken back by the committer
  std::vector<block_slot> slots_;
  std::vector<search_counters> stats_;
  std::vector<std::thread> threads_;
  std::string thread_error_;  // what ended a worker thread by an exception
  program_sink sink_{true};

  // The committer's own state.
  int signo_ = 0;
  uint64_t frontier_ = 0;  // the last prime of the blocks filed so far
  uint64_t save_at_ = kNoSave;
  uint64_t last_saved_ = 0;
};

// A worker thread. An exception (memory running out) ends it and, through
// thread_error_, the run: its block would otherwise never be parked.
void engine::work(uint32_t t) {
  try {
    work_blocks(t);
  } catch (const std::exception& e) {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (thread_error_.empty()) thread_error_ = e.what();
      cancel_.store(true);
    }
    space_.notify_all();
    done_.notify_all();
  }
}

void engine::work_blocks(uint32_t t) {
  hit_buffer buffer;
  worker w(plan_, buffer);
  for (;;) {
    uint64_t b;
    {
      std::unique_lock<std::mutex> lock(m_);
      space_.wait(lock, [&] { return cancel_.load() || next_ >= nblocks_ || next_ < committed_ + ring_; });
      if (cancel_.load() || next_ >= nblocks_) break;
      b = next_++;
    }
    buffer.hits.clear();
    const uint64_t from = s_.low + b * s_.block_size;
    const uint64_t window = s_.low + (b * s_.block_size) / kSieveWindowSize * kSieveWindowSize;
    const block_result r = w.run_block(window, from, from + s_.block_size, s_.pmax, &cancel_, &pause_);
    for (factor_hit& h : buffer.hits) precheck_hit(plan_, h);
    {
      std::lock_guard<std::mutex> lock(m_);
      block_slot& slot = slots_[b % ring_];
      slot.result = r;
      slot.hits.swap(buffer.hits);
      slot.ready = true;
    }
    done_.notify_all();
    if (!r.complete) break;
  }
  std::lock_guard<std::mutex> lock(m_);
  stats_[t] = w.stats;
}

void engine::cancel() {
  {
    std::lock_guard<std::mutex> lock(m_);
    cancel_.store(true);
  }
  space_.notify_all();
}

void engine::look_at_stop_and_clock() {
  run_host* const host = s_.host;
  if (signo_ == 0) {
    signo_ = stop_requested();
    if (signo_ == 0 && host != nullptr && host->stop_wanted()) signo_ = SIGTERM;
    if (signo_ != 0) cancel();
  }
  if (host != nullptr) {
    pause_.store(signo_ == 0 && host->pause_wanted());
    if (frontier_ != 0) {
      host->report_fraction(static_cast<double>(frontier_ - s_.low) / static_cast<double>(s_.pmax - s_.low));
    }
  }
  if (frontier_ != 0) progress_.poll(frontier_);
}

// A checkpoint the host asked for: a save point at the last prime filed.
bool engine::checkpoint_if_wanted() {
  run_host* const host = s_.host;
  if (host == nullptr || signo_ != 0 || frontier_ == 0 || !host->checkpoint_wanted()) return true;
  if (frontier_ != last_saved_) {
    if (!save_point(frontier_)) return false;
    last_saved_ = frontier_;
  }
  host->checkpoint_written();
  return true;
}

// Takes block b back into `taken` once it is parked; false when it never
// will be (the workers were cancelled before one claimed it).
bool engine::wait_for_block(uint64_t b, block_slot& taken) {
  std::unique_lock<std::mutex> lock(m_);
  block_slot& slot = slots_[b % ring_];
  while (!slot.ready) {
    if (!thread_error_.empty()) return false;
    if (cancel_.load() && b >= next_) return false;
    done_.wait_for(lock, kCommitterWake);
    lock.unlock();
    look_at_stop_and_clock();
    lock.lock();
  }
  taken.result = slot.result;
  taken.hits.swap(slot.hits);
  slot.hits.clear();
  slot.ready = false;
  committed_ = b + 1;
  lock.unlock();
  space_.notify_all();
  return true;
}

uint64_t engine::next_save_after(uint64_t p) const {
  if (s_.save_interval > s_.pmax - std::min(p, s_.pmax)) return kNoSave;
  const uint64_t q = next_prime_from(p + s_.save_interval);
  return q <= s_.pmax ? q : kNoSave;
}

// Writes the factor lines waiting in the sink; on failure the run stops with
// the sink's message.
bool engine::flush_sink() {
  if (sink_.flush()) return true;
  std::cout.flush();
  std::cerr << sink_.error() << std::endl;
  return false;
}

// Writes and syncs the factor lines, then appends the save point p; on a
// failure the run stops without it, so a resumed run tests those primes
// again.
bool engine::save_point(uint64_t p) {
  if (s_.host != nullptr) s_.host->begin_writes();
  const bool saved = flush_sink() && sync_factors();
  if (saved) save_status_pmin(p);
  if (s_.host != nullptr) s_.host->end_writes();
  return saved;
}

engine_result engine::finish(int status) {
  cancel();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  engine_result r;
  r.status = status;
  for (const search_counters& c : stats_) r.stats.add(c);
  if (status == 0) r.endp = next_prime_from(s_.pmax + 1);
  return r;
}

// Writes the save point due and prints it, then looks at the stop flag.
// Once a stop is known the save points in between are passed over: the
// committer only files the blocks that are done, and the stop's own save
// point, at their end, covers them.
bool engine::next_save_point() {
  if (signo_ == 0) {
    if (!save_point(save_at_)) return false;
    progress_.end_line();
    std::cout << "p = " << save_at_ << std::endl;
    last_saved_ = save_at_;
    look_at_stop_and_clock();
  }
  save_at_ = next_save_after(save_at_);
  return true;
}

engine_result engine::run() {
  try {
    for (uint32_t t = 0; t < threads_wanted_; ++t) threads_.emplace_back(&engine::work, this, t);
  } catch (const std::system_error& e) {
    std::cout.flush();
    std::cerr << "Error: cannot start worker thread " << threads_.size() + 1 << ": " << e.what()
              << std::endl;
    return finish(1);
  }

  save_at_ = next_save_after(s_.low);
  block_slot taken;
  bool whole = true;  // every block so far was filed to its end
  for (uint64_t b = 0; b < nblocks_ && whole; ++b) {
    if (!wait_for_block(b, taken)) break;
    for (const factor_hit& h : taken.hits) {
      // A save point comes after the hits of its own prime.
      while (save_at_ < h.p) {
        if (!next_save_point()) return finish(1);
      }
      sink_.hit(h);
      if (sink_.failed()) {
        std::cout.flush();
        std::cerr << sink_.error() << std::endl;
        return finish(1);
      }
    }
    const uint64_t last = taken.result.last_tested;
    while (last != 0 && save_at_ <= last) {
      if (!next_save_point()) return finish(1);
    }
    if (!flush_sink()) return finish(1);
    if (taken.result.failed) {
      std::cout.flush();
      std::cerr << "Internal error: residue hash table full" << std::endl;
      return finish(1);
    }
    if (last != 0) frontier_ = last;
    whole = taken.result.complete;
    look_at_stop_and_clock();
    if (!checkpoint_if_wanted()) return finish(1);
  }
  if (whole && committed_ == nblocks_) return finish(0);
  std::string thread_error;
  {
    std::lock_guard<std::mutex> lock(m_);
    thread_error = thread_error_;
  }
  if (!thread_error.empty()) {
    // The factor lines so far are written; the last save point stands.
    std::cout.flush();
    std::cerr << "Error: a worker thread failed: " << thread_error << std::endl;
    return finish(1);
  }

  // Stopped: every prime up to the frontier is tested and filed.
  const int signo = signo_;
  engine_result r = finish(128 + signo);
  if (frontier_ == 0) {
    progress_.end_line();
    std::cout << stopped_line(signo, 0) << std::endl;
    return r;
  }
  if (last_saved_ != frontier_ && !save_point(frontier_)) {
    r.status = 1;
    return r;
  }
  progress_.end_line();
  std::cout << stopped_line(signo, frontier_) << std::endl;
  return r;
}

}  // namespace

uint32_t online_cores() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n >= 1 ? static_cast<uint32_t>(std::min<long>(n, 1L << 20)) : 1;
}

engine_result run_engine(const search_plan& plan, const engine_settings& settings,
                         progress_report& progress) {
  engine e(plan, settings, progress);
  return e.run();
}
