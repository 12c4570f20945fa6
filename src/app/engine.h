// The engine: worker threads test consecutive blocks of primes (one sieve
// window each) and buffer their hits; the calling thread is the committer.
// It takes the blocks back in p order and hands their hits to the program's
// sink, writes the save points where one thread would, prints the progress
// reports and watches for a stop signal. So "fact.txt", "factexcl.txt", the
// console lines, the save points and the counters do not depend on the
// number of threads.
#pragma once
#include <cstdint>

#include "arith/limits.h"
#include "arith/numtheory.h"
#include "primes/sieve.h"
#include "search/plan.h"
#include "search/worker.h"

class progress_report;
class run_host;

struct engine_settings {
  uint64_t low = 0;            // even; the first block is [low, low + 2^23)
  uint64_t pmax = 0;           // the last p tested
  uint64_t save_interval = 0;  // a save point at the first prime >= the last one + this
  uint32_t threads = 1;        // worker threads, at least 1
  // Integers per block: a power of two from 2 to 2^29. The program takes a
  // whole sieve window, or 64 of them for a range that reaches above 2^50
  // (block_size_for). Smaller blocks only serve the tests of the committer;
  // every block of a window sieves the window again.
  uint64_t block_size = kSieveWindowSize;
  // The host the run reports to and takes its checkpoint, stop and pause
  // requests from; none for the plain program.
  run_host* host = nullptr;
};

// The block size for a range ending at pmax. Above 2^50 the sieve marks the
// multiples of its largest base primes a super-window of 2^29 integers at a
// time; blocks of that size let one worker use each super-window it builds
// for 64 windows instead of every worker building every one.
inline uint64_t block_size_for(uint64_t pmax) {
  return pmax > (uint64_t{1} << 50) ? kSieveWindowSize << 6 : kSieveWindowSize;
}

// How far the base primes must go for a range ending at pmax (<= kPLimit):
// up to its square root, and never less than 2^25, the table every range
// below 2^50 has always used. Near 2^62 that is 105 million primes (about
// 210 MB as 16-bit gaps).
inline uint64_t base_prime_limit_for(uint64_t pmax) {
  const uint64_t root = isqrt_u64(pmax) + 1;
  const uint64_t least = uint64_t{1} << 25;
  const uint64_t most = kBasePrimeLimit;
  return root < least ? least : root > most ? most : root;
}

struct engine_result {
  // 0: every prime up to pmax tested and filed, the factor files on disk;
  // 128 + signal number: stopped by that signal, with the files on disk and
  // a save point at the last prime before which nothing is missing; 1: an
  // error, already reported on standard error.
  int status = 0;
  search_counters stats;  // of every prime tested (complete runs only)
  uint64_t endp = 0;      // the first prime above pmax (complete runs only)
};

// The number of online cores, at least 1.
uint32_t online_cores();

engine_result run_engine(const search_plan& plan, const engine_settings& settings,
                         progress_report& progress);
