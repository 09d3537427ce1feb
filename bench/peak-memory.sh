#!/usr/bin/env bash
# Peak resident memory of the program publishing a package with one large file (default 1 GiB)
# to the bundled server, headless, with the file's size beside it for comparison.
# Usage: bench/peak-memory.sh [bytes]   (after ./run.sh or a default build)
set -euo pipefail
cd "$(dirname "$0")/.."
bytes=${1:-1073741824}
report=$(mktemp)
log=$(mktemp)
demo=""
cleanup() {
  rm -f "$report" "$log"
  # The demo keeps its folders for inspection; here they only hold the large file twice.
  [ -n "$demo" ] && rm -rf "$demo"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
status=0
AB_DEMO_BIG_FILE_BYTES=$bytes AB_DEMO_WRAPPER="/usr/bin/time -v -o $report" scripts/demo.sh \
  >"$log" 2>&1 || status=$?
demo=$(sed -n 's|^Package folder \(.*\)/pacote$|\1|p' "$log")
if [ "$status" -ne 0 ] || [ ! -s "$report" ]; then
  echo "peak-memory: the demo run failed (status $status):" >&2
  cat "$log" >&2
  exit 1
fi
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$report")
awk -v kib="$peak_kib" -v bytes="$bytes" 'BEGIN {
  printf "file: %.1f MiB; program peak resident memory: %.1f MiB; ratio peak/file: %.2f\n",
         bytes / 1048576, kib / 1024, kib * 1024 / bytes }'
