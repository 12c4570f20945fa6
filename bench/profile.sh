#!/usr/bin/env bash
# Where brindle's time goes per prime: runs `brindle -f` over one short range
# under perf (cpu-clock samples) and/or callgrind (instruction counts, which do
# not depend on the machine's load), in a scratch directory with a copy of
# the cached candidate file of bench/run.sh, and prints the top functions.
#
# Run from the repository root:  bench/profile.sh [options]   (bench/profile.sh -h)
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/profile.sh [-b <brindle>] [-p <pmin>] [-w <width>] [-t perf|callgrind|both] [-n <lines>] [-h]
	-b = the brindle binary to profile, default build-bench/brindle (built if missing)
	-p = start of the range, default 1000000000000
	-w = width of the range, default 10000000 for perf, 2000000 for callgrind
	-t = profiler(s) to run, default both
	-n = functions to list, default 15
	-h = show this text
perf: share of the samples per function, of all samples and of the samples
outside start-up (reading Vex.dat, the base primes, allocation, the kernel).
callgrind: instructions of the per-prime test (worker::test_prime and all it calls)
per prime, and the self cost per prime of each function it runs; start-up
and the sieve are not counted (the sieve's share is in the perf profile).
EOF
}

die() { echo "profile.sh: $*" >&2; exit 1; }

binary=""
pmin=1000000000000
width=""
tools=both
lines=15
while getopts ":b:p:w:t:n:h" opt; do
  case $opt in
    b) binary=$OPTARG ;;
    p) pmin=$OPTARG ;;
    w) width=$OPTARG ;;
    t) tools=$OPTARG ;;
    n) lines=$OPTARG ;;
    h) usage; exit 0 ;;
    :) die "-$OPTARG needs a value" ;;
    *) die "unknown option -$OPTARG (-h for help)" ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || die "unexpected argument '$1' (-h for help)"
[ -f CMakeLists.txt ] && [ -d src/app ] && [ -d bench ] || die "run it from the repository root"
[[ $pmin =~ ^[1-9][0-9]*$ ]] || die "pmin '$pmin' is not a positive integer"
[ -z "$width" ] || [[ $width =~ ^[1-9][0-9]*$ ]] || die "width '$width' is not a positive integer"
[[ $lines =~ ^[1-9][0-9]*$ ]] || die "-n '$lines' is not a positive integer"
case $tools in perf | callgrind | both) ;; *) die "-t must be perf, callgrind or both" ;; esac

root=$PWD
vex=$root/bench/work/vex-n20000000-b1000000.dat
[ -f "$vex" ] || die "no cached candidate file; run bench/run.sh once (e.g. bench/run.sh -w 1000000 -r 1e12)"
if [ -z "$binary" ]; then
  binary=$root/build-bench/brindle
  if [ ! -x "$binary" ]; then
    cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BUILD_BENCH=ON >/dev/null ||
      die "cmake configuration failed"
    cmake --build "$root/build-bench" -j2 --target brindle >/dev/null || die "build failed"
  fi
fi
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
[ -x "$binary" ] || die "$binary is not an executable"

scratch=$(mktemp -d /tmp/brindle-profile.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Runs brindle over [pmin, pmin + w] under the given command prefix in a fresh
# directory $scratch/$1; sets primes to the number of primes tested.
run_in() {
  local name=$1 w=$2
  shift 2
  mkdir -p "$scratch/$name"
  cp "$vex" "$scratch/$name/Vex.dat"
  (cd "$scratch/$name" && "$@" "$binary" -f "$pmin" "$((pmin + w))" </dev/null >brindle.log 2>tool.log) ||
    { trap - EXIT; die "the $name run failed (see $scratch/$name)"; }
  primes=$(sed -n 's/^# Tested p  : \([0-9]*\)$/\1/p' "$scratch/$name/stat.txt" | tail -n 1)
  [ -n "$primes" ] && [ "$primes" -gt 0 ] || { trap - EXIT; die "no primes counted in $scratch/$name"; }
}

# Functions of the start-up (reading Vex.dat, the base primes), the end, and
# the allocator, which the main loop does not call. memset and memcpy are
# not among them: the searches may use them.
startup_re='read_db|db_parser|_Rb_tree|eratosthenes_base|hash_init|malloc|_int_free|_int_malloc|cfree|^free$|operator new|operator delete|strlen|unlink_chunk|__tcf_|exit|basic_string|char_traits|^_dl_|^0x'

# Function name without arguments, template-free enough to read.
short_name='
function short(s) {
  sub(/^[^:]*:/, "", s)                 # file: or ???:
  sub(/ \[[^]]*\]$/, "", s)             # [object]
  gsub(/\(anonymous namespace\)::/, "", s)
  if (index(s, "(") > 1) s = substr(s, 1, index(s, "(") - 1)
  return s
}'

if [ "$tools" != callgrind ]; then
  command -v perf >/dev/null || die "perf is not installed"
  w=${width:-10000000}
  echo "== perf (cpu-clock): $(basename "$binary") -f $pmin $((pmin + w)), $(uptime | sed 's/.*load/load/')"
  run_in perf "$w" perf record -q -e cpu-clock -F 2000 -o perf.data
  echo "primes: $primes"
  perf report -i "$scratch/perf/perf.data" --no-children --sort symbol --stdio 2>/dev/null |
    awk -v lines="$lines" -v startup_re="$startup_re" '
      /^#/ || NF < 3 { next }
      {
        pct = $1; sub(/%/, "", pct)
        kernel = $2 == "[k]"
        name = $0; sub(/^ *[0-9.]+% +\[[^]]*\] +/, "", name); sub(/ +-? *-? *$/, "", name)
        gsub(/\(anonymous namespace\)::/, "", name)
        startup = kernel || name ~ startup_re
        n++; p[n] = pct; nm[n] = name; st[n] = startup
        total += pct; if (!startup) loop += pct
      }
      END {
        printf "%-55s %8s %8s\n", "function (self)", "% all", "% loop"
        shown = 0
        for (i = 1; i <= n && shown < lines; i++) {
          if (st[i]) continue
          printf "%-55s %7.2f%% %7.2f%%\n", substr(nm[i], 1, 55), p[i], (loop > 0 ? 100 * p[i] / loop : 0)
          shown++
        }
        printf "%-55s %7.2f%%\n", "start-up, allocator, kernel (not in % loop)", total - loop
      }'
  echo
fi

if [ "$tools" != perf ]; then
  command -v valgrind >/dev/null || die "valgrind is not installed"
  w=${width:-2000000}
  echo "== callgrind (instructions): $(basename "$binary") -f $pmin $((pmin + w))"
  # Only the per-prime test (worker::test_prime and everything it calls) is counted,
  # so start-up and the sieve stay out and a short range gives exact
  # per-prime figures. The sieve's share is in the perf profile.
  run_in callgrind "$w" valgrind --tool=callgrind --callgrind-out-file=callgrind.out \
    '--toggle-collect=*test_prime*'
  echo "primes: $primes"
  out=$scratch/callgrind/callgrind.out
  self=$(callgrind_annotate --threshold=100 "$out" 2>/dev/null)
  incl=$(callgrind_annotate --inclusive=yes "$out" 2>/dev/null)
  inc_of() {  # inclusive Ir of the function whose short name is $1
    awk "$short_name"' /^ *[0-9,]+ +\( *[0-9.]+%\) +[^ ]*:/ {
        v = $1; gsub(/,/, "", v); name = $0; sub(/^ *[0-9,]+ +\( *[0-9.]+%\) +/, "", name)
        if (short(name) == want) { print v; exit } }' want="$1" <<<"$incl"
  }
  test_idea=$(inc_of worker::test_prime)
  awk -v t="${test_idea:-0}" -v n="$primes" 'BEGIN {
    printf "per-prime test (worker::test_prime, inclusive): %.0f instructions per prime\n", t / n }'
  echo
  awk "$short_name"'
    /^ *[0-9,]+ +\( *[0-9.]+%\) +[^ ]*:/ {
      v = $1; gsub(/,/, "", v); name = $0; sub(/^ *[0-9,]+ +\( *[0-9.]+%\) +/, "", name)
      f = short(name)
      if (++k > lines) next
      if (k == 1) printf "%-55s %12s %12s\n", "function (self)", "Ir/prime", "% test_prime"
      printf "%-55s %12.0f %11.1f%%\n", substr(f, 1, 55), v / n, (t > 0 ? 100 * v / t : 0)
    }
    ' lines="$lines" n="$primes" t="${test_idea:-0}" <<<"$self"
fi
