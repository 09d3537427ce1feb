#!/usr/bin/env bash
# Builds and runs the whole suite: release build, address and thread sanitizer builds, short fuzz
# runs; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
jobs=$(nproc)
# New build folders use Ninja (it keeps both cores busy across folders); existing ones keep theirs.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

for preset in default asan tsan fuzz; do
  cmake --preset "$preset" >/dev/null
done
# Two builds at a time: the stretches where one build runs a single job (precompiled headers, the
# large test units, the links) leave a core idle that the other one fills.
build_pair() {
  cmake --build --preset "$1" -j "$jobs" &
  local first=$!
  cmake --build --preset "$2" -j "$jobs" &
  local second=$!
  local status=0
  wait "$first" || status=$?
  wait "$second" || status=$?
  return "$status"
}
build_pair default fuzz
build_pair asan tsan

ctest --preset fuzz -j "$jobs"
ctest --preset asan -j "$jobs"
ctest --preset tsan -j "$jobs"
ctest --preset default -j "$jobs"
