#!/usr/bin/env bash
# The program's start: the time from start to exit, the processor time and the peak resident memory
# (VmHWM, as /usr/bin/time reports it) of short runs, against `rsync --version`:
#   --version         AtualizadorBrevant --version
#   opcao-ruim        the six arguments, --sem-janela and an unknown option (--version after the
#                     arguments): the settings read, one line, status 1
#   sem-janela        the six arguments and --sem-janela: a package of one file, already current on
#                     the bundled server on loopback (connect, login, one question, exit)
#   rsync --version   the peer
# Each runs N times for the time and N times under /usr/bin/time for the memory; prints medians
# and the ratios to rsync's. A measurement, not a test: exits 0 whatever the figures.
#
# Usage: bench/arranque.sh [--repeticoes N] [PROGRAM]   (default: build/bin/AtualizadorBrevant, 21)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

repeticoes=21
programa=""
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --repeticoes=*) repeticoes=${1#*=}; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) programa=$1; shift ;;
  esac
done
[ -x /usr/bin/time ] || { echo "arranque: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
ab_rsync_instalar
ab_preparar_build AtualizadorBrevant atualizador-servidor
ab_inicio
[ -n "$programa" ] || programa=$raiz/$ab_build/bin/AtualizadorBrevant

pacote=$ab_pacotes/pacote
mkdir -p "$pacote"
cp "$programa" "$pacote/AtualizadorBrevant"
printf 'versao=1\n' >"$pacote/LeiaMe.txt"
ab_servidor "$ab_trabalho/armazem"
seis=(Arranque 127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT')
# The first publish; the runs measured find the file current.
"$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela >/dev/null

# Runs COMMAND N times: the medians of its time from start to exit and of its processor time (user
# and system; less disturbed by other work on the machine) in milliseconds in ab_ms and ab_cpu, and
# of its peak in MiB in ab_mib.
medir() {
  local tempos=() cpus=() picos=() i TIMEFORMAT='%3R %3U %3S'
  for ((i = 0; i < repeticoes; i++)); do
    { time "$@" >/dev/null 2>&1 || true; } 2>"$ab_trabalho/tempo"
    tempos+=("$(awk '{ printf "%.1f", $1 * 1000 }' "$ab_trabalho/tempo")")
    cpus+=("$(awk '{ printf "%.1f", ($2 + $3) * 1000 }' "$ab_trabalho/tempo")")
    /usr/bin/time -f %M -o "$ab_trabalho/pico" "$@" >/dev/null 2>&1 || true
    # The last line: a non-zero status adds one before it.
    picos+=("$(tail -n1 "$ab_trabalho/pico" | awk '{ printf "%.2f", $1 / 1024 }')")
  done
  ab_ms=$(ab_mediana "${tempos[@]}")
  ab_cpu=$(ab_mediana "${cpus[@]}")
  ab_mib=$(ab_mediana "${picos[@]}")
}

medir rsync --version
rsync_ms=$ab_ms rsync_cpu=$ab_cpu rsync_mib=$ab_mib
formato='%-16s %8s ms %8s ms %8s MiB   %6s x %6s x %6s x\n'
linhas=()
linha() {  # NAME COMMAND...
  local nome=$1
  shift
  medir "$@"
  linhas+=("$(printf "$formato" "$nome" "$ab_ms" "$ab_cpu" "$ab_mib" \
    "$(ab_calc 'a / b' a="$ab_ms" b="$rsync_ms")" "$(ab_calc 'a / b' a="$ab_cpu" b="$rsync_cpu")" \
    "$(ab_calc 'a / b' a="$ab_mib" b="$rsync_mib")")")
}
linha --version "$pacote/AtualizadorBrevant" --version
versao_mib=$ab_mib
linha opcao-ruim "$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela --version
linha sem-janela "$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela

echo
echo "medians of $repeticoes ($programa)"
printf '%-16s %11s %11s %12s   %s\n' "" "start-exit" "processor" "peak" \
  "against rsync --version (each column)"
printf '%-16s %8s ms %8s ms %8s MiB\n' "rsync --version" "$rsync_ms" "$rsync_cpu" "$rsync_mib"
printf '%s\n' "${linhas[@]}"
echo "--version peak against 8 MiB: $(ab_alvo "$versao_mib" '<=' 8)"
