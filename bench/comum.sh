# Shared by the benchmark scripts under bench/ (sourced, not run): the build, a scratch folder, the
# bundled server program, a virtual X server, the window driven by xdotool, medians.
# A script sets `raiz` to the repository and calls ab_inicio before anything else.

ab_build=${AB_BUILD:-build}
# A program run that has not ended after this many seconds is stopped (status 124): a hang is
# reported as a failed run instead of holding the script.
ab_limite=${AB_LIMITE:-600}
ab_trabalho=""
ab_pacotes=""
ab_pids=()

# Builds the programs the script needs when one is missing (configuring the default preset once).
ab_preparar_build() {
  local falta=0 alvo
  for alvo in "$@"; do
    [ -x "$raiz/$ab_build/bin/$alvo" ] || falta=1
  done
  [ "$falta" -eq 0 ] && return 0
  echo "building $* in $ab_build/ ..." >&2
  if [ ! -f "$raiz/$ab_build/CMakeCache.txt" ]; then
    (cd "$raiz" && cmake --preset default -B "$ab_build" >/dev/null) || {
      echo "cannot configure; run: cmake --preset default -B build" >&2
      exit 1
    }
  fi
  (cd "$raiz" && cmake --build "$ab_build" --target "$@" -j2 >/dev/null) || {
    echo "build failed; run: cmake --build build --target $* -j2" >&2
    exit 1
  }
}

ab_limpar() {
  local i
  for ((i = ${#ab_pids[@]} - 1; i >= 0; i--)); do
    kill "${ab_pids[$i]}" 2>/dev/null || true
    wait "${ab_pids[$i]}" 2>/dev/null || true
  done
  [ -n "$ab_trabalho" ] && rm -rf "$ab_trabalho"
  [ -n "$ab_pacotes" ] && rm -rf "$ab_pacotes"
}

# A scratch folder in memory when there is one (the store lives there), and one for the packages
# the program publishes ($ab_pacotes: never below /dev, which the program refuses to publish),
# removed on exit with every process the script started.
ab_inicio() {
  local base=${TMPDIR:-/tmp}
  ab_pacotes=$(mktemp -d "$base/ab-bench-pacotes.XXXXXX")
  [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
  ab_trabalho=$(mktemp -d "$base/ab-bench.XXXXXX")
  trap ab_limpar EXIT
  trap 'exit 130' INT TERM
  # No user settings: the program reads none but its options.
  export XDG_CONFIG_HOME=$ab_trabalho/config XDG_STATE_HOME=$ab_trabalho/estado
  mkdir -p "$XDG_CONFIG_HOME"
}

# Starts the bundled server on a free loopback port with the store $1 and any further options;
# sets ab_servidor_pid and ab_porta. Its standard error goes to $ab_log_servidor when set.
ab_servidor() {
  local armazem=$1
  shift
  local porta_arq=$ab_trabalho/porta.$RANDOM
  "$raiz/$ab_build/bin/atualizador-servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" "$@" \
    >"$porta_arq" 2>>"${ab_log_servidor:-$ab_trabalho/servidor.log}" &
  ab_servidor_pid=$!
  ab_pids+=("$ab_servidor_pid")
  ab_porta_escrita "$porta_arq" "the server" "${ab_log_servidor:-$ab_trabalho/servidor.log}"
  ab_porta=$ab_linha
}

# The port a process just started writes on its first line to FILE, waited for up to 5 s; sets
# ab_linha. When none comes, the script ends, saying WHAT did not start, with its LOG.
# Usage: ab_porta_escrita FILE WHAT LOG
ab_porta_escrita() {
  for _ in $(seq 1 100); do
    [ -s "$1" ] && break
    sleep 0.05
  done
  ab_linha=$(head -n1 "$1")
  [ -n "$ab_linha" ] || {
    echo "$2 did not start" >&2
    cat "$3" >&2
    exit 1
  }
}

ab_parar() {  # PID
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  ab_esquecer "$1"
}

# A process that ended leaves the list the exit stops, so a number the system gives again to
# another process is never signalled.
ab_esquecer() {  # PID
  local resto=() p
  for p in "${ab_pids[@]}"; do
    [ "$p" = "$1" ] || resto+=("$p")
  done
  ab_pids=("${resto[@]}")
}

# One virtual X server for the whole script; sets DISPLAY.
ab_xvfb() {
  local arq=$ab_trabalho/display
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$arq" 2>"$ab_trabalho/xvfb.log" &
  ab_pids+=("$!")
  for _ in $(seq 1 100); do
    [ -s "$arq" ] && break
    sleep 0.05
  done
  [ -s "$arq" ] || { echo "Xvfb did not start" >&2; cat "$ab_trabalho/xvfb.log" >&2; exit 1; }
  export DISPLAY=:$(head -n1 "$arq")
}

ab_agora() { date +%s%N; }

# Probes for ab_janela: the connections the server recorded in a --gravar-recebidos folder, or
# accepted according to its --log file, or open now on the loopback port $ab_sonda_porta (the
# kernel's table: no server option, which would cost the server time or memory, is needed).
ab_gravados=""
ab_conexoes_gravadas() { ls "$ab_gravados" | wc -l; }
ab_log_servidor=""
ab_conexoes_no_log() { grep -c ': accepted$' "$ab_log_servidor" || true; }
ab_sonda_porta=""
ab_conexoes_na_porta() {
  # State 01 is an established connection; the local port is the hexadecimal after the colon.
  awk -v p="$(printf '%04X' "$ab_sonda_porta")" \
    '$4 == "01" && substr($2, index($2, ":") + 1) == p { n++ } END { print n + 0 }' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# The real window: starts PROGRAM with ARGS on the virtual X server, waits for its window, clicks
# "Atualizar" (at 305,332, 91 x 27 in the client area) and waits for the program to end. A click
# is known to have started the run when PROBE (a command printing a count, such as the server's
# connections so far) prints more than before it; a click before the window took input is
# repeated. Sets ab_segundos (from the click that started the run to the program's exit) and
# ab_status.
# Usage: ab_janela PROBE LOG CAPTION PROGRAM ARGS...
ab_janela() {
  local sonda=$1 log=$2 nome=$3
  shift 3
  local antes pid janela t0 t1 tentativa
  antes=$($sonda)
  QT_QPA_PLATFORM=xcb timeout -k 10 "$ab_limite" "$@" >"$log" 2>&1 &
  pid=$!
  ab_pids+=("$pid")
  janela=$(timeout 60 xdotool search --sync --onlyvisible --name "^${nome}\$" 2>/dev/null | head -n1 || true)
  if [ -z "$janela" ]; then
    echo "the window \"$nome\" did not appear" >&2
    ab_parar "$pid"
    ab_status=1 ab_segundos=0
    return
  fi
  sleep 0.5
  for tentativa in 1 2 3 4 5; do
    t0=$(ab_agora)
    xdotool mousemove --window "$janela" 350 345 click 1 2>/dev/null || true
    for _ in $(seq 1 100); do
      [ "$($sonda)" -gt "$antes" ] && break 2
      kill -0 "$pid" 2>/dev/null || break 2
      sleep 0.05
    done
    echo "  click $tentativa had no effect within 5 s; clicking again (the time starts anew)" >&2
  done
  ab_status=0
  wait "$pid" || ab_status=$?
  t1=$(ab_agora)
  ab_esquecer "$pid"
  ab_segundos=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
  ab_avisar_limite
}

ab_avisar_limite() {
  [ "$ab_status" -eq 124 ] && echo "  the program did not end within $ab_limite s and was stopped" >&2
  return 0
}

# Runs a command (stopped after ab_limite seconds) and sets ab_segundos (start to exit) and
# ab_status; output to LOG.
# Usage: ab_cronometrar LOG COMMAND ARGS...
ab_cronometrar() {
  local log=$1 t0 t1
  shift
  t0=$(ab_agora)
  ab_status=0
  timeout -k 10 "$ab_limite" "$@" >"$log" 2>&1 || ab_status=$?
  t1=$(ab_agora)
  ab_segundos=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
  ab_avisar_limite
}

# The median of the numbers given (the mean of the middle two for an even count); "-" for none.
ab_mediana() {
  [ $# -eq 0 ] && { echo "-"; return; }
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    s = sprintf("%.4f", m); sub(/0+$/, "", s); sub(/\.$/, "", s); print s }'
}

# Arithmetic on figures: ab_calc 'a / b' a=1 b=2 prints the value with 2 decimals ("-" when a
# figure is missing or a division by zero would happen).
ab_calc() {
  local expr=$1
  shift
  local vars=() v
  for v in "$@"; do
    case ${v#*=} in ''|-) echo "-"; return ;; esac
    vars+=(-v "$v")
  done
  awk "${vars[@]}" "BEGIN { d = ($expr); printf \"%.2f\", d }" 2>/dev/null || echo "-"
}

# "met"/"MISSED" for a figure against a target: ab_alvo VALUE '<=' 1.3. The linearity target
# (op "linear") is met up to the limit; a figure below its inverse is met too, but said to be
# sublinear: the smaller run's fixed costs weigh more, nothing grows faster than the files.
ab_alvo() {
  case $1 in ''|-) echo "n/a"; return ;; esac
  awk -v v="$1" -v t="$3" -v op="$2" 'BEGIN {
    ok = (op == ">=") ? (v >= t) : (v <= t)
    print ok ? ((op == "linear" && v < 1 / t) ? "met, sublinear: fixed costs" : "met") : "MISSED" }'
}

# The delay proxy (bench/delayproxy.py): a link with ONE_WAY_MS milliseconds one way in front of
# 127.0.0.1:PORT; sets ab_proxy_pid and ab_proxy_porta. Given a FILE, the proxy counts each
# connection's round trips into it, read back by ab_proxy_parar.
# Usage: ab_proxy PORT ONE_WAY_MS [FILE]
ab_proxy() {
  local arq=$ab_trabalho/proxy.$RANDOM contagem=()
  [ -n "${3:-}" ] && contagem=(--idas-e-voltas "$3")
  python3 "$raiz/bench/delayproxy.py" 0 127.0.0.1 "$1" "$2" "${contagem[@]}" >"$arq" \
    2>>"$ab_trabalho/proxy.log" &
  ab_proxy_pid=$!
  ab_pids+=("$ab_proxy_pid")
  ab_porta_escrita "$arq" "the delay proxy" "$ab_trabalho/proxy.log"
  ab_proxy_porta=$ab_linha
}

# Stops the proxy, which first lets the connections of the run that just ended finish; with the
# count FILE, sets ab_idas (the round trips of all its connections) and ab_idas_maior (of the
# busiest one), "-" when the proxy wrote no total.
# Usage: ab_proxy_parar [FILE]
ab_proxy_parar() {
  ab_parar "$ab_proxy_pid"
  ab_idas=- ab_idas_maior=-
  [ -n "${1:-}" ] && [ -f "$1" ] || return 0
  local linha
  linha=$(sed -n 's/^total: conexoes [0-9]* idas-e-voltas \([0-9]*\) maior-conexao \([0-9]*\)$/\1 \2/p' "$1")
  [ -n "$linha" ] && read -r ab_idas ab_idas_maior <<<"$linha"
  return 0
}

# rsync, the peer some scripts compare with: installed through scripts/install-deps.sh --bench
# when missing.
ab_rsync_instalar() {
  command -v rsync >/dev/null && return 0
  echo "rsync is missing; installing it (scripts/install-deps.sh --bench) ..." >&2
  "$raiz/scripts/install-deps.sh" --bench >&2 || { echo "cannot install rsync" >&2; exit 1; }
}

# An rsync daemon on a free loopback port whose module `alvo` writes into DIR (as the user running
# the script, no chroot); sets ab_rsync_porta and ab_rsync_pid. The folder may be emptied between
# runs: the daemon reads the module's path at each connection.
# Usage: ab_rsync_daemon DIR
ab_rsync_daemon() {
  local dir=$1 conf=$ab_trabalho/rsyncd.$RANDOM.conf
  mkdir -p "$dir"
  cat >"$conf" <<CONF
use chroot = no
# No name lookup of the client: its address is loopback, and a resolver must not weigh on the times.
reverse lookup = no
uid = $(id -u)
gid = $(id -g)
numeric ids = yes
log file = $ab_trabalho/rsyncd.log
[alvo]
path = $dir
read only = no
CONF
  local tentativa
  for tentativa in 1 2 3; do
    # A free port: bound and released; another process could take it before the daemon does,
    # hence the retries.
    ab_rsync_porta=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    rsync --daemon --no-detach --config="$conf" --address=127.0.0.1 --port="$ab_rsync_porta" \
      2>>"$ab_trabalho/rsyncd.log" &
    ab_rsync_pid=$!
    ab_pids+=("$ab_rsync_pid")
    for _ in $(seq 1 100); do
      rsync "rsync://127.0.0.1:$ab_rsync_porta/" >/dev/null 2>&1 && return 0
      kill -0 "$ab_rsync_pid" 2>/dev/null || break
      sleep 0.05
    done
    ab_parar "$ab_rsync_pid"
  done
  echo "the rsync daemon did not start" >&2
  cat "$ab_trabalho/rsyncd.log" >&2
  exit 1
}

# The rsync options the scripts time: the package's files to the module, the program's copy left
# out (as the program leaves itself out), whole files (no delta: the program sends whole files):
#   ab_cronometrar LOG rsync "${ab_rsync_opcoes[@]}" PACKAGE/ rsync://127.0.0.1:PORT/alvo/
ab_rsync_opcoes=(-a --whole-file --exclude=/AtualizadorBrevant)
