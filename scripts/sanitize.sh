#!/usr/bin/env bash
# Builds everything (libraries, brindle, vexgen, tests) with AddressSanitizer
# and UndefinedBehaviorSanitizer (g++, -O1 -g, assertions on) into
# build-asan/ and runs every test there through CTest. The programs that the
# end-to-end tests start are sanitized too. Any report ends the process with
# exit status 86, which no test expects. AddressSanitizer and leak reports,
# from a test or from a program it started, also go to
# build-asan/sanitizer-logs/, and any file there fails the script even where
# the test passed. (UndefinedBehaviorSanitizer reports go to standard error
# only: gcc's runtime ignores log_path when it runs beside AddressSanitizer.)
#
#   scripts/sanitize.sh [ctest arguments, e.g. -R test_vexgen]
#
# JOBS sets the build and test parallelism (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build-asan
jobs=${JOBS:-$(nproc)}
logs="$root/$build/sanitizer-logs"

# The sanitizer runtimes ship with gcc (libasan, libubsan); say so plainly
# when they are missing instead of failing in the middle of the build.
for lib in libasan.so libubsan.so; do
  if [ ! -e "$(g++ -print-file-name=$lib)" ]; then
    echo "sanitize: $lib not found; install the g++ package of the system (gcc's runtime libraries)" >&2
    exit 1
  fi
done

start=$(date +%s)
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DBRINDLE_SANITIZE=ON -DBRINDLE_FUZZ=OFF \
  -DBRINDLE_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs"
built=$(date +%s)
echo "sanitize: build took $((built - start)) s"

rm -rf "$logs"
mkdir -p "$logs"
# Each process writes its reports to report.<pid> (log_path gets ".<pid>"
# appended); the leak checker takes its settings from ASAN_OPTIONS.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:strict_init_order=1:check_initialization_order=1:detect_stack_use_after_return=1:log_path=$logs/report"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86:log_path=$logs/report"
unset LSAN_OPTIONS

status=0
# Each test keeps its CTest timeout (600 s); the slowest needs about a minute here.
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" || status=$?
ran=$(date +%s)
echo "sanitize: tests took $((ran - built)) s"

if [ -n "$(find "$logs" -type f -print -quit)" ]; then
  echo "sanitize: sanitizer reports (kept in $logs):" >&2
  find "$logs" -type f -print0 | sort -z | while IFS= read -r -d '' f; do
    echo "---- $f" >&2
    cat "$f" >&2
  done
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "sanitize: FAILED" >&2
  exit "$status"
fi
echo "sanitize: all tests passed, no sanitizer reports"
