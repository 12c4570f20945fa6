#!/usr/bin/env bash
# End-to-end benchmark of brindle: builds the Release configuration into
# build-bench/, makes the candidate file once with vexgen (cached in
# bench/work/), and runs `brindle -f` over fixed ranges of p, each in a fresh
# scratch directory with a fresh copy of the candidate file. Prints one table:
# speed from the statistics block, and checksums of everything the run
# writes, so that two binaries can be compared for speed and identical output.
#
# Run from the repository root:  bench/run.sh [options]   (bench/run.sh -h)
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/run.sh [-b <brindle>] [-r <ranges>] [-w <width>] [-t <threads>] [-p <path>] [-k] [-h]
	-b = measure this brindle binary instead of building build-bench/brindle
	-r = comma-separated ranges: 1e9,1e12,1e15,2^50 (the default), 2^52,2^56,2^60,2^62
	-w = width of each range, default 100000000 (use e.g. 5000000 for a quick check)
	-t = run brindle with -t <threads> (default: no -t, which is one thread)
	-p = arithmetic path: auto (default), scalar or ifma (sets BRINDLE_PATH)
	-k = keep the scratch directories (their path is printed)
	-h = show this text
Ranges: [10^9, 10^9+w], [10^12, 10^12+w], [10^15, 10^15+w], [2^50-w, 2^50],
and above 2^50 [2^52, 2^52+w], [2^56, 2^56+w], [2^60, 2^60+w], [2^62-w, 2^62].
The candidate file (vexgen -n 20000000 -b 1000000) is made once and kept in
bench/work/. The table goes to standard output, progress to standard error.
EOF
}

die() { echo "run.sh: $*" >&2; exit 1; }

binary=""
ranges="1e9,1e12,1e15,2^50"
width=100000000
keep=0
threads=""
path=auto
while getopts ":b:r:w:t:p:kh" opt; do
  case $opt in
    b) binary=$OPTARG ;;
    r) ranges=$OPTARG ;;
    w) width=$OPTARG ;;
    t) threads=$OPTARG ;;
    p) path=$OPTARG ;;
    k) keep=1 ;;
    h) usage; exit 0 ;;
    :) die "-$OPTARG needs a value" ;;
    *) die "unknown option -$OPTARG (-h for help)" ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || die "unexpected argument '$1' (-h for help)"

[ -f CMakeLists.txt ] && [ -d src/app ] && [ -d bench ] || die "run it from the repository root"
root=$PWD
[[ $width =~ ^[1-9][0-9]*$ ]] || die "width '$width' is not a positive integer"
(( width <= 100000000000 )) || die "width $width is too large"
[ -z "$threads" ] || [[ $threads =~ ^[0-9]+$ ]] || die "thread count '$threads' is not a number"
case $path in auto|scalar|ifma) ;; *) die "path '$path' is not auto, scalar or ifma" ;; esac
thread_args=()
[ -z "$threads" ] || thread_args=(-t "$threads")

readonly P50=1125899906842624 P62=4611686018427387904
range_bounds() {  # name -> "pmin pmax"
  case $1 in
    1e9) echo "1000000000 $((1000000000 + width))" ;;
    1e12) echo "1000000000000 $((1000000000000 + width))" ;;
    1e15) echo "1000000000000000 $((1000000000000000 + width))" ;;
    2^50) echo "$((P50 - width)) $P50" ;;
    2^52 | 2^56 | 2^60) local b=$((1 << ${1#2^})); echo "$b $((b + width))" ;;
    2^62) echo "$((P62 - width)) $P62" ;;
    *) return 1 ;;
  esac
}
IFS=, read -r -a range_list <<<"$ranges"
[ ${#range_list[@]} -gt 0 ] || die "no range given"
for r in "${range_list[@]}"; do
  range_bounds "$r" >/dev/null || die "unknown range '$r' (choose from 1e9,1e12,1e15,2^50,2^52,2^56,2^60,2^62)"
done

build=$root/build-bench
cache_dir=$root/bench/work
vex=$cache_dir/vex-n20000000-b1000000.dat

# Build what is needed: brindle unless another binary is given, vexgen while
# the candidate file is not cached yet.
targets=()
[ -n "$binary" ] || targets+=(brindle)
[ -f "$vex" ] || targets+=(vexgen)
if [ ${#targets[@]} -gt 0 ]; then
  echo "Building ${targets[*]} (Release) in build-bench/ ..." >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BUILD_BENCH=ON >/dev/null ||
    die "cmake configuration failed"
  cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null || die "build failed"
fi
if [ -n "$binary" ]; then
  binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
else
  binary=$build/brindle
fi
[ -x "$binary" ] || die "$binary is not an executable"

if [ ! -f "$vex" ]; then
  echo "Making the candidate file (vexgen -n 20000000 -b 1000000) ..." >&2
  mkdir -p "$cache_dir"
  "$build/vexgen" -o "$vex" -n 20000000 -b 1000000 >&2  # written atomically by vexgen
fi

scratch=$(mktemp -d /tmp/brindle-bench.XXXXXX)
if [ $keep -eq 0 ]; then trap 'rm -rf "$scratch"' EXIT; fi

# First 16 hex digits of the SHA-256 of a file; a missing file counts as empty.
sum16() { { [ -f "$1" ] && cat "$1"; true; } | sha256sum | cut -c1-16; }
nlines() { if [ -f "$1" ]; then wc -l <"$1" | tr -d ' '; else echo 0; fi; }

# Aligns whitespace-separated columns: the first left-aligned, the rest right-aligned.
align() {
  awk '{ for (i = 1; i <= NF; ++i) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) }
         if (NF > nf) nf = NF; n[NR] = NF }
       END { for (r = 1; r <= NR; ++r) {
               line = sprintf("%-" w[1] "s", cell[r, 1])
               for (i = 2; i <= n[r]; ++i) line = line sprintf("  %" w[i] "s", cell[r, i])
               print line } }'
}

rows=()
for r in "${range_list[@]}"; do
  read -r pmin pmax <<<"$(range_bounds "$r")"
  dir=$scratch/$r
  dir=${dir//^/_}
  mkdir -p "$dir"
  cp "$vex" "$dir/Vex.dat"
  echo "Range $r: BRINDLE_PATH=$path $binary ${thread_args[*]} -f $pmin $pmax ($(uptime | sed 's/.*load/load/'))" >&2
  # Nothing to answer: -f never asks; stdin closed so that a question would end the run.
  if ! (cd "$dir" && /usr/bin/time -f "%U %S" -o time.txt env BRINDLE_PATH="$path" "$binary" "${thread_args[@]}" -f "$pmin" "$pmax" </dev/null \
        >brindle.log 2>&1); then
    trap - EXIT  # keep the scratch directory for a look at the failure
    die "brindle failed on range $r (see $dir/brindle.log)"
  fi
  stat=$dir/stat.txt
  [ -f "$stat" ] || die "no stat.txt for range $r"
  ms=$(sed -n 's/^Total time: \([0-9]*\) ms$/\1/p' "$stat" | tail -n 1)
  rate=$(sed -n 's/^\([0-9]*\)k p\/s\.$/\1/p' "$stat" | tail -n 1)
  primes=$(sed -n 's/^# Tested p  : \([0-9]*\)$/\1/p' "$stat" | tail -n 1)
  [ -n "$ms" ] && [ -n "$rate" ] && [ -n "$primes" ] || die "cannot read the statistics of range $r"
  read -r user sys < <(tail -n 1 "$dir/time.txt")
  nsp=$(awk -v ms="$ms" -v n="$primes" 'BEGIN { printf "%.0f", (n > 0 ? ms * 1e6 / n : 0) }')
  cpunsp=$(awk -v u="$user" -v n="$primes" 'BEGIN { printf "%.0f", (n > 0 ? u * 1e9 / n : 0) }')
  counters=$(grep '#' "$stat" | sha256sum | cut -c1-16)
  rows+=("$r $pmin $pmax $primes $ms $rate $nsp $user $sys $cpunsp $(nlines "$dir/fact.txt") $(sum16 "$dir/fact.txt") $(nlines "$dir/factexcl.txt") $(sum16 "$dir/factexcl.txt") $counters")
done

echo "# $binary, width $width, threads ${threads:-1}, BRINDLE_PATH=$path, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uptime | sed 's/.*load/load/')"
{
  echo "range pmin pmax primes ms kp/s ns/p user_s sys_s cpu_ns/p fact fact_sha factexcl factexcl_sha counters_sha"
  printf '%s\n' "${rows[@]}"
} | align
if [ $keep -eq 1 ]; then echo "# scratch directories kept in $scratch" >&2; fi
