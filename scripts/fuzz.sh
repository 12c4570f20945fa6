#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, -DBRINDLE_FUZZ=ON: libFuzzer
# with AddressSanitizer and UndefinedBehaviorSanitizer) into build-fuzz/ and
# runs each fuzz/fuzz_<name>.cpp for a fixed time, starting from a copy of
# its seed inputs fuzz/corpus/<name>/ (the seeds themselves are not changed).
#
#   scripts/fuzz.sh [seconds per target, default 60]
#
# Inputs are at most 4096 bytes; one input may take at most 10 s. Any crash,
# sanitizer report, leak, timeout or memory blow-up fails the script (exit 1).
# Per target, build-fuzz/runs/<name>/ holds the log (fuzz.log), the grown
# corpus (corpus/) and the inputs that failed (findings/), which replay with
#   build-fuzz/fuzz/fuzz_<name> build-fuzz/runs/<name>/findings/<file>
# JOBS sets the build parallelism (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds per target, a positive whole number]" >&2
  exit 2
fi
build=build-fuzz
jobs=${JOBS:-$(nproc)}
max_len=4096
input_timeout=10

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found; install clang and libclang-rt-14-dev (as .ci/run does)" >&2
  exit 1
fi

start=$(date +%s)
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DBRINDLE_FUZZ=ON -DBRINDLE_SANITIZE=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzzers
echo "fuzz: build took $(($(date +%s) - start)) s"

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets were built (fuzz/fuzz_*.cpp)" >&2
  exit 1
fi

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=()
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  exe=$(basename "$target")
  name=${exe#fuzz_}
  run="$root/$build/runs/$name"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/findings"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -R "fuzz/corpus/$name/." "$run/corpus/"
  else
    echo "fuzz: warning: no seed inputs in fuzz/corpus/$name/; $exe starts from nothing" >&2
  fi
  dict=()
  if [ -f "fuzz/$exe.dict" ]; then dict=("-dict=$root/fuzz/$exe.dict"); fi

  echo "fuzz: $exe for $seconds s (log: $run/fuzz.log)"
  status=0
  "$target" -max_total_time="$seconds" -max_len="$max_len" -timeout="$input_timeout" \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$run/findings/" \
    ${dict[@]+"${dict[@]}"} "$run/corpus" >"$run/fuzz.log" 2>&1 </dev/null || status=$?
  findings=("$run"/findings/{crash,leak,timeout,oom}-*)
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$run/fuzz.log" | sed 's/^/  /' || true
  if [ "$status" -ne 0 ] || [ ${#findings[@]} -gt 0 ]; then
    echo "fuzz: $exe FAILED (exit status $status); the end of its log:" >&2
    tail -n 60 "$run/fuzz.log" >&2
    for f in "${findings[@]}"; do echo "fuzz: failing input kept: $f" >&2; done
    failed+=("$exe")
  fi
done

echo "fuzz: everything took $(($(date +%s) - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no crashes, leaks, sanitizer reports or timeouts"
