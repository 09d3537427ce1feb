#!/usr/bin/env bash
# SIGTERM to the real window program under a virtual X server, against the bundled server program:
#   1. with no run, the window closes and the program exits with 0;
#   2. during a run, the file in hand is finished and stored whole, the run stops before the rest
#      and the program exits with 4 (interrupted);
#   3. during a run waiting on a server that never answers (the window sets no deadline), the
#      first signal can only ask for a stop the run never reaches; the second ends the connection
#      and the program exits with 4;
#   4. while the error box of bad settings waits for a person, the box closes and the program
#      exits with 1.
#
# Usage: sinais-xvfb.sh PROGRAM SERVER
set -euo pipefail

if [ -z "${AB_SINAIS_NO_X:-}" ]; then
  # A virtual X server that failed to start (a display number taken by a parallel run) is tried
  # once more; the script inside leaves a mark when it ran.
  marca=$(mktemp "${TMPDIR:-/tmp}/ab-e2e-sinais-marca.XXXXXX")
  rm -f "$marca"
  for try in 1 2; do
    status=0
    AB_SINAIS_NO_X=$marca QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@" ||
      status=$?
    if [ -e "$marca" ]; then
      rm -f "$marca"
      exit "$status"
    fi
    echo "the virtual X server did not start (try $try)" >&2
    sleep 2
  done
  exit 1
fi
: >"$AB_SINAIS_NO_X"

program=$1 servidor=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/ab-e2e-sinais.XXXXXX")
server_pid="" program_pid=""
cleanup() {
  for pid in $program_pid $server_pid; do
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "$1" >&2
  for f in "$work"/*.log; do
    echo "--- $f" >&2
    tail -n 20 "$f" >&2
  done
  exit 1
}

# Starts the server with the given options on a new store; sets server_pid, porta, armazem.
servidor() {
  local name=$1
  shift
  armazem=$work/$name-armazem
  "$servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" --log "$@" \
    >"$work/$name.porta" 2>"$work/$name-servidor.log" &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/$name.porta" ] && break
    sleep 0.1
  done
  porta=$(head -n1 "$work/$name.porta")
  [ -n "$porta" ] || fail "the server printed no port"
}

parar_servidor() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# Starts a copy of the program in the package folder $1 with its window on the server; sets
# program_pid and window once the window shows. Further arguments are options.
programa() {
  local pacote=$1 name=$2
  shift 2
  cp "$program" "$pacote/AtualizadorBrevant"
  caption="Sinais $name $$"
  XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/estado "$pacote/AtualizadorBrevant" "$caption" 127.0.0.1 "$porta" 01 \
    PRODUCAO 'Vr@ndoxT' "$@" >"$work/$name-programa.log" 2>&1 &
  program_pid=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name "^${caption}\$" | head -n1 || true)
  [ -n "$window" ] || fail "$name: the window did not appear"
  sleep 1
}

# Clicks "Atualizar" (at 305,332, 91 x 27, in the window's client area) until the server logs
# the text (a click before the window took input is repeated).
clicar_ate() {
  local text=$1 log=$2
  for _ in 1 2 3; do
    xdotool mousemove --window "$window" 350 345 click 1 || true
    for _ in $(seq 1 100); do
      grep -q -- "$text" "$log" && return 0
      sleep 0.1
    done
  done
  fail "the run did not reach \"$text\""
}

# Sets status to the program's exit status within the seconds given, or to "running".
esperar() {
  local seconds=$1
  for _ in $(seq 1 $((seconds * 10))); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program_pid" 2>/dev/null; then
    status=running
    return
  fi
  status=0
  wait "$program_pid" || status=$?
  program_pid=""
}

mkdir -p "$work/config"

# 1. No run: the window closes.
servidor ocioso
mkdir -p "$work/ocioso"
programa "$work/ocioso" ocioso
kill -TERM "$program_pid"
esperar 10
[ "$status" = 0 ] || fail "no run: exit status $status, expected 0"
parar_servidor
echo "no run: the window closed, status 0"

# 2. During a run: 1 KB blocks make the large file a few thousand round trips.
servidor execucao
pacote=$work/execucao
mkdir -p "$pacote/Sub"
head -c 6000000 /dev/urandom >"$pacote/grande.bin"
for i in $(seq 1 30); do printf 'x' >"$pacote/Sub/f$i"; done
programa "$pacote" execucao --buffer-kb 1
clicar_ate "data block" "$work/execucao-servidor.log"
kill -TERM "$program_pid"
esperar 120
[ "$status" = 4 ] || fail "during a run: exit status $status, expected 4"
cmp -s "$pacote/grande.bin" "$armazem/S01/grande.bin" || fail "the file in hand was not stored whole"
sent=$({ find "$armazem/S01/Sub" -type f 2>/dev/null || true; } | wc -l)
[ "$sent" -lt 30 ] || fail "the run went on after the signal ($sent small files sent)"
parar_servidor
echo "during a run: the file in hand stored, $sent of 30 small files sent, status 4"

# 3. A server that never answers: the second signal ends the run.
servidor mudo --mudo
mkdir -p "$work/mudo"
printf 'a' >"$work/mudo/a.txt"
programa "$work/mudo" mudo
clicar_ate "conexao 1: accepted" "$work/mudo-servidor.log"
kill -TERM "$program_pid"
esperar 1
[ "$status" = running ] || fail "silent server: ended on the first signal with status $status"
kill -TERM "$program_pid"
esperar 10
[ "$status" = 4 ] || fail "silent server: exit status $status after the second signal, expected 4"
parar_servidor
echo "silent server: the second signal ended the run, status 4"

# 4. The error box of a refused start.
cp "$program" "$work/AtualizadorBrevant"
XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/estado "$work/AtualizadorBrevant" Sinais 127.0.0.1 1 01 PRODUCAO \
  'Vr@ndoxT' --conexoes 0 >"$work/caixa-programa.log" 2>&1 &
program_pid=$!
timeout 60 xdotool search --sync --onlyvisible --pid "$program_pid" >/dev/null ||
  fail "the error box did not appear"
sleep 1
kill -TERM "$program_pid"
esperar 10
[ "$status" = 1 ] || fail "error box: exit status $status, expected 1"
echo "error box: closed, status 1"
