#!/usr/bin/env bash
# Builds and runs the whole suite: release build, address and thread sanitizer builds, short fuzz
# runs; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
jobs=$(nproc)
# New build folders use Ninja (it keeps both cores busy across folders); existing ones keep theirs.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

ctest --preset fuzz -j "$jobs"
ctest --preset asan -j "$jobs"
ctest --preset tsan -j "$jobs"
ctest --preset default -j "$jobs"
