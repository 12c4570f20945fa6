// brindle --self-test: a check of this machine and build. It sieves four
// windows across the range of p and compares their prime counts with known
// ones, and runs the whole per-prime test on known factors from 10^9 to
// near 2^62 on every arithmetic path the processor has (scalar, and AVX-512
// IFMA where present), each of which must be found. One line per check on
// standard output, then "all checks passed"; a machine with faulty memory
// or an unstable clock typically fails it.
#pragma once

// Runs the checks; returns 0 when all passed, 1 otherwise.
int run_self_test();
