#!/usr/bin/env bash
# The bandwidth cap: a package of one file of BYTES random bytes (50,000,000 by default) published
# with --sem-janela to the bundled server program on loopback, a fresh store each time, timed
# from the program's start to its exit. Each repetition runs, in an order that turns:
#   limite     --limite-banda KBPS (5000 by default): at KBPS × 1000 bytes a second the file
#              takes BYTES / (KBPS × 1000) s (10 s), target within 5 %;
#   desligado  no cap (the default), RAPIDAS times;
#   alto       --limite-banda 10000000, a cap far above loopback's speed: what taking every slice
#              from the cap costs when it never makes anyone wait, RAPIDAS times;
#   antes      with --antes PROGRAM, that program (a build without the cap) with the same
#              arguments, RAPIDAS times: desligado / antes is what the cap costs when it is off
#              (target <= 1.05).
# The quick modes take turns run by run.
# Prints medians and ratios. A measurement, not a test: exits 0 when a target is missed.
#
# Usage: bench/limite-banda.sh [--repeticoes N] [--rapidas N] [--bytes B] [--kbps K]
#                              [--antes PROGRAM]      (defaults 3, 5, 50000000, 5000)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

repeticoes=3
rapidas=5
bytes=50000000
kbps=5000
antes=""
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --rapidas) rapidas=$2; shift 2 ;;
    --bytes) bytes=$2; shift 2 ;;
    --kbps) kbps=$2; shift 2 ;;
    --antes) antes=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "limite-banda: unknown argument $1" >&2; exit 1 ;;
  esac
done
[ -z "$antes" ] || [ -x "$antes" ] || { echo "limite-banda: $antes is not a program" >&2; exit 1; }

ab_preparar_build AtualizadorBrevant atualizador-servidor
ab_inicio
bin=$raiz/$ab_build/bin

pacote=$ab_pacotes/pacote
mkdir -p "$pacote/Padrao"
echo "writing a file of $bytes random bytes ..." >&2
head -c "$bytes" /dev/urandom >"$pacote/Padrao/Grande.bin"
armazem=$ab_trabalho/armazem
esperado=$(awk -v b="$bytes" -v k="$kbps" 'BEGIN { printf "%.4f", b / (k * 1000) }')

declare -A tempos=()
falhas=()

# One run of PROGRAM in MODE with the further options; its time joins the mode's list when the
# file was stored whole.
medir() {  # MODE PROGRAM OPTIONS...
  local modo=$1 programa=$2
  shift 2
  rm -rf "$armazem"
  ab_log_servidor=$ab_trabalho/servidor-$RANDOM.log
  ab_servidor "$armazem"
  ab_cronometrar "$ab_trabalho/$modo-$r.log" "$programa" Bench 127.0.0.1 "$ab_porta" 01 PRODUCAO \
    'Vr@ndoxT' --pasta "$pacote" --sem-janela "$@"
  if [ "$ab_status" -eq 0 ] && cmp -s "$pacote/Padrao/Grande.bin" "$armazem/Padrao/Grande.bin"; then
    tempos[$modo]+=" $ab_segundos"
  else
    falhas+=("$modo, repetition $r: status $ab_status, see $(tail -n1 "$ab_trabalho/$modo-$r.log")")
  fi
  ab_parar "$ab_servidor_pid"
}
rapidos=(desligado alto)
[ -n "$antes" ] && rapidos+=(antes)
medir_rapido() {  # MODE
  case $1 in
    desligado) medir desligado "$bin/AtualizadorBrevant" ;;
    alto) medir alto "$bin/AtualizadorBrevant" --limite-banda 10000000 ;;
    antes) medir antes "$antes" ;;
  esac
}
for r in $(seq 1 "$repeticoes"); do
  echo " repetition $r" >&2
  medir limite "$bin/AtualizadorBrevant" --limite-banda "$kbps"
  echo "  limite: $ab_segundos s" >&2
  # The quick modes take turns run by run, the first one changing each time, so a drift of the
  # machine's load is spread over them alike.
  for i in $(seq 1 "$rapidas"); do
    for k in "${!rapidos[@]}"; do
      medir_rapido "${rapidos[$(((k + i + r) % ${#rapidos[@]}))]}"
    done
  done
  for m in "${rapidos[@]}"; do
    echo "  $m:${tempos[$m]:-}" >&2
  done
done

# shellcheck disable=SC2086
mediana() { ab_mediana ${tempos[$1]:-}; }
l=$(mediana limite)
d=$(mediana desligado)
a=$(mediana alto)
rl=$(ab_calc 'l / e' l="$l" e="$esperado")
echo
echo "=== bench/limite-banda.sh: one file of $bytes bytes, loopback, bundled server program ==="
echo "medians of $repeticoes runs capped and $((repeticoes * rapidas)) of each other mode; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "limite ($kbps KB/s): $l s (runs:${tempos[limite]:-}); / $esperado s expected $rl (target 0.95 to 1.05: $(ab_alvo "$rl" '<=' 1.05), $(ab_alvo "$rl" '>=' 0.95))"
echo "desligado (no cap): $d s"
echo "alto (cap 10000000 KB/s, never waited for): $a s; alto / desligado $(ab_calc 'a / d' a="$a" d="$d")"
if [ -n "$antes" ]; then
  b=$(mediana antes)
  rd=$(ab_calc 'd / b' d="$d" b="$b")
  echo "antes ($antes): $b s; desligado / antes $rd (target <= 1.05: $(ab_alvo "$rd" '<=' 1.05))"
else
  echo "antes: not measured (--antes PROGRAM, a build without the cap, gives the cost of the cap when off)"
fi
for f in "${falhas[@]}"; do
  echo "failed: $f"
done
exit 0
