#!/usr/bin/env bash
# Long fuzzing: runs every libFuzzer target of the fuzz preset for MINUTES each, one after another,
# starting from its corpus under fuzz/corpus/<target>. What a run finds is merged back into that
# corpus with -merge=1, which takes only the inputs that add coverage, so the corpus grows without
# bloating. Prints, per target, the executions, the coverage of libFuzzer's last stats line (cov:
# edges, ft: features), the inputs the corpus gained, and the crashes with where they were saved.
#
# Usage: scripts/fuzz-long.sh MINUTES [TARGET...]
#   MINUTES: a positive number, fractions allowed (0.2 is 12 seconds); TARGET: only these targets
#   (all of them when none is named).
#
# - Builds the fuzz preset first (configures build-fuzz/ when it is not there yet).
# - A crash (also a leak, a timeout of 10 s per input, more than 1024 MB, or undefined behaviour)
#   is saved as build-fuzz/fuzz-long/<target>/<start>-crash-<sha1> (leak-, timeout-, oom-), and
#   the target is started again for the time left, at most 5 times.
# - New inputs wait in fuzz/corpus-work/<target>/ (not kept) until they are merged; each target's
#   libFuzzer output is in build-fuzz/fuzz-long/<target>/<start>.log.
# - Exit status: 0 when nothing crashed, 1 when a target crashed or could not run, 2 for a usage
#   error.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz-long.sh MINUTES [TARGET...]   (minutes per target, e.g. 30 or 0.2)" >&2
  exit 2
}
[ $# -ge 1 ] || usage
minutes=$1
shift
[[ $minutes =~ ^([0-9]+(\.[0-9]*)?|\.[0-9]+)$ ]] || usage
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); print s }')
[ "$seconds" -ge 1 ] || usage

build="build-fuzz"
[ -f "$build/CMakeCache.txt" ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The targets are the fuzz preset's tests, one per libFuzzer target.
mapfile -t targets < <(ctest --test-dir "$build" -N | awk '/Test +#[0-9]+: /{ print $3 }')
[ ${#targets[@]} -gt 0 ] || { echo "fuzz-long: no fuzz targets in $build" >&2; exit 1; }
if [ $# -gt 0 ]; then
  for wanted in "$@"; do
    printf '%s\n' "${targets[@]}" | grep -qx -- "$wanted" ||
      { echo "fuzz-long: no fuzz target named $wanted (there are: ${targets[*]})" >&2; exit 2; }
  done
  targets=("$@")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
stamp=$(date +%Y%m%d-%H%M%S)
count_files() { find "$1" -maxdepth 1 -type f | wc -l; }

row() { printf '%-32s %14s %7s %8s %7s %7s %8s  %s\n' "$@"; }
crash_list=()
failed=0
echo "fuzz-long: ${#targets[@]} targets, $seconds s each"
row target executions cov ft corpus added crashes status
for target in "${targets[@]}"; do
  bin=$build/bin/$target
  corpus=fuzz/corpus/$target
  work=fuzz/corpus-work/$target
  out=$build/fuzz-long/$target
  log=$out/$stamp.log
  rm -rf "$work"
  mkdir -p "$corpus" "$work" "$out"
  : >"$log"
  before=$(count_files "$corpus")

  executions=0
  cov=- ft=-
  status=ok
  starts=0
  deadline=$(($(date +%s) + seconds))
  while :; do
    left=$((deadline - $(date +%s)))
    [ "$left" -ge 1 ] || break
    starts=$((starts + 1))
    segment=$out/$stamp.segment.log
    rc=0
    "$bin" -max_total_time="$left" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
      -artifact_prefix="$out/$stamp-" "$work" "$corpus" >"$segment" 2>&1 || rc=$?
    cat "$segment" >>"$log"
    n=$(awk '/^stat::number_of_executed_units:/{ print $2 }' "$segment" | tail -n 1)
    executions=$((executions + ${n:-0}))
    last=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$segment" | tail -n 1 || true)
    if [ -n "$last" ]; then
      cov=$(awk '{ print $2 }' <<<"$last")
      ft=$(awk '{ print $4 }' <<<"$last")
    fi
    rm -f "$segment"
    [ "$rc" -eq 0 ] && break
    if ! compgen -G "$out/$stamp-*" >/dev/null; then
      status="failed (exit $rc, see $log)"
      failed=1
      break
    fi
    [ "$starts" -lt 5 ] || break
  done

  crashes=0
  if compgen -G "$out/$stamp-*" >/dev/null; then
    for f in "$out/$stamp-"*; do
      crashes=$((crashes + 1))
      crash_list+=("$target: $f")
    done
    [ "$status" != ok ] || status=crashed
    failed=1
  fi

  # Only the inputs that add coverage join the corpus.
  if [ -n "$(ls -A "$work")" ]; then
    "$bin" -merge=1 -timeout=10 -rss_limit_mb=1024 "$corpus" "$work" >>"$log" 2>&1 ||
      echo "fuzz-long: $target: merging failed, see $log" >&2
  fi
  rm -rf "$work"
  after=$(count_files "$corpus")

  row "$target" "$executions" "$cov" "$ft" "$after" "+$((after - before))" "$crashes" "$status"
done

if [ ${#crash_list[@]} -gt 0 ]; then
  echo
  echo "Crash inputs (run one again with: build-fuzz/bin/<target> <file>):"
  printf '  %s\n' "${crash_list[@]}"
fi
exit "$failed"
