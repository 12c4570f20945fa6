#!/usr/bin/env bash
# Cross-builds brindle for 64-bit ARM (Debian's aarch64 cross compiler) into
# build-arm/ and runs it under user-mode emulation (qemu-aarch64-static):
#  1. the tests named by the CTest -R pattern given (default: the subset .ci/run
#     runs: the arithmetic, the sieve, the searches against brute force, the
#     thread engine, whole runs and the self-test), through CTest with qemu as
#     the emulator, which also runs the programs the tests start;
#  2. a real range, [10^9, 10^9 + 2*10^6] with vexgen's default candidate file,
#     whose fact.txt, factexcl.txt and counters must be byte-identical to the
#     x86-64 build's (build/, from scripts/test.sh).
# Needs: dpkg --add-architecture arm64; apt-get update; apt-get install
# g++-aarch64-linux-gnu qemu-user-static libgtest-dev:arm64
# libprimesieve-dev:arm64 (which bring libc6:arm64).
# The programs run on that one arm64 runtime: /lib/ld-linux-aarch64.so.1 with
# the libraries of /lib/aarch64-linux-gnu. Pointing qemu at the cross
# toolchain's older loader instead (-L /usr/aarch64-linux-gnu) mixes two
# builds of glibc, and the first thread the program starts never runs.
# Under emulation the tests run 5 to 50 times slower than natively, so the
# whole suite is for an occasional run: scripts/test_aarch64.sh '.*'
set -euo pipefail
cd "$(dirname "$0")/.."
pattern=${1:-'^test_(modmul|numtheory|lanes|sieve|order_bound|bsgs|per_prime|search_high|sph|engine|e2e_run|e2e_selftest)$'}
[ -e /lib/ld-linux-aarch64.so.1 ] || { echo "test_aarch64.sh: no arm64 runtime (apt-get install libc6:arm64)" >&2; exit 1; }
emulator="qemu-aarch64-static"
cmake -S . -B build-arm -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ \
  -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 -DCMAKE_LIBRARY_ARCHITECTURE=aarch64-linux-gnu \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator"
# Only the programs and the test executables the pattern names are built:
# compiling every test for ARM takes several times longer than running the
# default ones.
targets=(brindle vexgen)
for src in tests/{arith,primes,db,search,app,vexgen}/test_*.cpp; do
  name=$(basename "$src" .cpp)
  if [[ $name =~ $pattern ]]; then targets+=("$name"); fi
done
cmake --build build-arm -j "$(nproc)" --target "${targets[@]}"
ctest --test-dir build-arm --output-on-failure -R "$pattern"

[ -x build/brindle ] && [ -x build/vexgen ] || { echo "test_aarch64.sh: run scripts/test.sh first (build/)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/vexgen -o "$work/Vex.dat" >/dev/null
for arch in x86 arm; do
  mkdir "$work/$arch"
  cp "$work/Vex.dat" "$work/$arch/"
  if [ $arch = arm ]; then
    (cd "$work/$arch" && qemu-aarch64-static "$OLDPWD/build-arm/brindle" -f 1000000000 1002000000 >/dev/null)
  else
    (cd "$work/$arch" && "$OLDPWD/build/brindle" -f 1000000000 1002000000 >/dev/null)
  fi
  grep '#' "$work/$arch/stat.txt" >"$work/$arch/counters"
done
for f in fact.txt factexcl.txt counters; do
  cmp "$work/x86/$f" "$work/arm/$f" || { echo "test_aarch64.sh: $f differs between x86-64 and aarch64" >&2; exit 1; }
done
echo "test_aarch64.sh: the aarch64 build files the same lines and counters as the x86-64 build"
