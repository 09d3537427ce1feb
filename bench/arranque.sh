#!/usr/bin/env bash
# The program's start: the time from start to exit and the peak resident memory (VmHWM, as
# /usr/bin/time reports it) of short runs, against `rsync --version`:
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

pacote=$ab_trabalho/pacote
mkdir -p "$pacote"
cp "$programa" "$pacote/AtualizadorBrevant"
printf 'versao=1\n' >"$pacote/LeiaMe.txt"
ab_servidor "$ab_trabalho/armazem"
seis=(Arranque 127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT')
# The first publish; the runs measured find the file current.
"$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela >/dev/null

# Runs COMMAND N times: the median time in milliseconds in ab_ms, the median peak in MiB in ab_mib.
medir() {
  local tempos=() picos=() i t0 t1
  for ((i = 0; i < repeticoes; i++)); do
    t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    t1=$EPOCHREALTIME
    tempos+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) * 1000 }')")
    /usr/bin/time -f %M -o "$ab_trabalho/pico" "$@" >/dev/null 2>&1 || true
    # The last line: a non-zero status adds one before it.
    picos+=("$(tail -n1 "$ab_trabalho/pico" | awk '{ printf "%.2f", $1 / 1024 }')")
  done
  ab_ms=$(ab_mediana "${tempos[@]}")
  ab_mib=$(ab_mediana "${picos[@]}")
}

medir rsync --version
rsync_ms=$ab_ms rsync_mib=$ab_mib
linhas=()
linha() {  # NAME COMMAND...
  local nome=$1
  shift
  medir "$@"
  linhas+=("$(printf '%-16s %8s ms %8s MiB   %6s x %6s x' "$nome" "$ab_ms" "$ab_mib" \
    "$(ab_calc 'a / b' a="$ab_ms" b="$rsync_ms")" "$(ab_calc 'a / b' a="$ab_mib" b="$rsync_mib")")")
}
linha --version "$pacote/AtualizadorBrevant" --version
versao_mib=$ab_mib
linha opcao-ruim "$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela --version
linha sem-janela "$pacote/AtualizadorBrevant" "${seis[@]}" --sem-janela

echo
echo "start to exit and peak resident memory, medians of $repeticoes ($programa)"
printf '%-16s %8s    %8s       %s\n' "" time peak "against rsync --version (time, peak)"
printf '%-16s %8s ms %8s MiB\n' "rsync --version" "$rsync_ms" "$rsync_mib"
printf '%s\n' "${linhas[@]}"
echo "--version peak against 8 MiB: $(ab_alvo "$versao_mib" '<=' 8)"
