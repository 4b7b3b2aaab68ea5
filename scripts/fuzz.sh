#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds and reports its figures and findings.
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh --binary PATH TARGET SECONDS [libFuzzer options...]
#
# TARGET is the name of tests/fuzz/fuzz_TARGET.cpp. The first form builds the fuzz configuration
# (clang++, build/fuzz) when needed and keeps a working corpus across campaigns in
# $SCRIPTCGI_FUZZ_WORK/TARGET (default /tmp/scriptcgi-fuzz), merged from the seeds in
# tests/fuzz/corpus/TARGET. The second form (the test command's) runs a built target from a fresh
# working corpus that is removed afterwards unless something was found (or from
# $SCRIPTCGI_FUZZ_WORK/TARGET when that is set). Findings (crash-*,
# leak-*, timeout-*, oom-*) are written to the findings/ folder of the working directory and
# listed with their paths; the exit status is 1 when there is any. A target's dictionary
# (tests/fuzz/TARGET.dict) and libFuzzer options (tests/fuzz/TARGET.options) are used when present.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

binary=
if [ "${1:-}" = --binary ]; then
  binary=$2
  shift 2
fi
if [ $# -lt 2 ]; then
  sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
seeds=$root/tests/fuzz/corpus/$target
dict=$root/tests/fuzz/$target.dict
options=$root/tests/fuzz/$target.options

if [ -z "$binary" ]; then
  build=$root/build/fuzz
  if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$build" -DSCRIPTCGI_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  fi
  cmake --build "$build" -j "$(nproc)" --target "fuzz_$target" >/dev/null
  binary=$build/tests/fuzz/fuzz_$target
  work=${SCRIPTCGI_FUZZ_WORK:-/tmp/scriptcgi-fuzz}/$target
  keep=1
elif [ -n "${SCRIPTCGI_FUZZ_WORK:-}" ]; then
  work=$SCRIPTCGI_FUZZ_WORK/$target
  keep=1
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/scriptcgi-fuzz-$target.XXXXXX")
  keep=0
fi
[ -x "$binary" ] || { echo "no fuzz target $binary" >&2; exit 2; }
mkdir -p "$work/corpus" "$work/findings"

opts=(-max_total_time="$seconds" -timeout=10 -detect_leaks=0 -rss_limit_mb=2560 -print_final_stats=1
      -artifact_prefix="$work/findings/")
[ -f "$dict" ] && opts+=(-dict="$dict")
# A target's own libFuzzer options, one a line (e.g. a larger -max_len).
if [ -f "$options" ]; then
  while read -r o; do
    case "$o" in ''|'#'*) ;; *) opts+=("$o") ;; esac
  done <"$options"
fi
dirs=("$work/corpus")
[ -d "$seeds" ] && dirs+=("$seeds")

# The engine is one process per request and gives its memory back by ending: leaks are no
# findings. An allocation that cannot be made returns null, as it does under a memory limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
log=$work/fuzz.log
echo "== fuzz $target for ${seconds}s (log $log)"
status=0
"$binary" "${opts[@]}" "$@" "${dirs[@]}" >"$log" 2>&1 || status=$?

# Figures: executions and their rate from the final statistics, coverage from the last status line.
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
# Fork mode (-fork=N) prints no final statistics: its last status line has the figures.
[ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
[ -n "$rate" ] || rate=$(sed -n 's/.* exec\/s:\{0,1\} \([0-9]*\).*/\1/p' <<<"$last")
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
corpus=$(find "$work/corpus" -type f | wc -l)
echo "$target: ${seconds}s, ${runs:-?} executions, ${rate:-?} exec/s, cov ${cov:-?}, ft ${ft:-?}," \
     "working corpus $corpus files, peak rss ${rss:-?} MB"

mapfile -t findings < <(find "$work/findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
if [ ${#findings[@]} -gt 0 ] || [ "$status" -ne 0 ]; then
  echo "FINDINGS of $target (exit status $status):"
  for f in "${findings[@]}"; do echo "  $f"; done
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|fatal stop|response without|regenerated|unexpected|match |group |configuration raised|a setting)' "$log" |
    sed 's/==[0-9]*==/==/' | sort | uniq -c | sort -rn | head -20
  echo "  reproduce: $binary <finding>   (whole log: $log)"
  exit 1
fi
[ "$keep" = 1 ] || rm -rf "$work"
exit 0
