#!/usr/bin/env bash
# Run inside an X server: starts the program, waits for its window, clicks "Atualizar", waits for
# the program to end and exits with its status. A click that came before the window took input is
# repeated (three clicks at most) while nothing has reached the store; a window that never shows
# or a run that does not end within two minutes is stopped and gives status 1.
#
# Usage: click-atualizar.sh STORE WINDOW-NAME LOG -- COMMAND [ARGS...]
#   WINDOW-NAME  pattern for `xdotool search --name`
#   LOG          file for the program's output, or - to keep it on this terminal
# With AB_MAPAS set to a file name, what the program has mapped (/proc/PID/maps) once its window
# shows is saved there.
set -euo pipefail
armazem=$1 nome=$2 log=$3
shift 3
[ "${1:-}" = "--" ] && shift

if [ "$log" = "-" ]; then
  "$@" &
else
  "$@" >"$log" 2>&1 &
fi
pid=$!
stop() {
  echo "$1" >&2
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  exit 1
}

window=$(timeout 60 xdotool search --sync --onlyvisible --name "$nome" | head -n1 || true)
[ -n "$window" ] || stop "the window \"$nome\" did not appear"
[ -z "${AB_MAPAS:-}" ] || cp "/proc/$pid/maps" "$AB_MAPAS"
sleep 1
# "Atualizar" lies at 305,332 (91 x 27) in the window's client area.
for attempt in 1 2 3; do
  xdotool mousemove --window "$window" 350 345 click 1 || true
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break 2
    sleep 0.1
  done
  [ -n "$(find "$armazem" -type f ! -name '.*' | head -n1)" ] && break
  echo "click $attempt had no effect yet" >&2
done
for _ in $(seq 1 1200); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && stop "the run did not end; the program was stopped"
wait "$pid"
