#!/usr/bin/env bash
# One-command demo, run from anywhere in the repository: builds everything
# (Release, into build/), writes a starter candidate file with vexgen into a
# fresh demo-run/ directory, and lets brindle sieve a short range of primes
# just above 10^9 there (about half a minute on one core). You see the new
# factors as they are found, a "p = " line at each save point and the
# statistics block at the end.
#
# Needs cmake, a C++17 compiler, make, GoogleTest and primesieve (on Debian:
# apt-get install cmake g++ make libgtest-dev libprimesieve-dev, as .ci/run does).
set -euo pipefail
cd "$(dirname "$0")/.."

# The range: 1.5*10^8 wide above 10^9, with a save point every 2.5*10^7 of p.
PMIN=1000000000
PMAX=1150000000
INTERVAL=25000000

for tool in cmake make c++; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "demo: $tool not found; install the build tools first (see .ci/run)" >&2
    exit 1
  fi
done

echo "== Building (Release, build/; the first time takes a few minutes)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" >/dev/null

echo "== Fresh demo-run/"
rm -rf demo-run
mkdir demo-run
cd demo-run

echo "== vexgen: candidates n <= 20000000 without a prime factor below 10^6"
../build/vexgen -o Vex.dat

echo
echo "== brindle -f -d -i $INTERVAL $PMIN $PMAX"
echo "   (-d: only new factors are printed; -f: no question about VexStatus.dat)"
set +e
../build/brindle -f -d -i "$INTERVAL" "$PMIN" "$PMAX" | tee brindle.log
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "demo: brindle ended with exit status $status" >&2
  exit "$status"
fi

echo
echo "== Done. In demo-run/:"
echo "   Vex.dat        the candidate file vexgen wrote"
nfact=0
if [ -f fact.txt ]; then nfact=$(wc -l <fact.txt); fi
echo "   fact.txt       $nfact new factors, one 'p | k*2^n+1' line each"
echo "   VexStatus.dat  the range, a 'pmin=' line per save point, and 'Done'"
echo "   stat.txt       the statistics block above, with the counters"
echo "   brindle.log    the console output"
echo "   Save points:   $(grep '^p = ' brindle.log | sed 's/^p = //' | tr '\n' ' ')"
