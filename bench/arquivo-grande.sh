#!/usr/bin/env bash
# One large file: a package holding the program and one file of BYTES random bytes (1 GiB by
# default) published to the bundled server program on loopback (store and package in /dev/shm
# when there is one), fresh store each time. For each repetition, in turn:
#   raw         a raw-socket client (bench_raw puxar) sending the same file through SendFile with
#               the program's 32 KiB blocks, answering each segment request of the server with a
#               32,747-byte block as fast as it can; timed from its prepare to the result, with
#               the packet already in memory;
#   sem-janela  the program with --sem-janela under /usr/bin/time -v: its peak resident memory,
#               and its throughput over its whole life (start, connect, reading the file, the
#               send, exit);
#   janela      the real window under Xvfb, also under /usr/bin/time -v: its peak, and its
#               throughput from the click on "Atualizar" to its exit (left out by --sem-xvfb).
# Prints medians, the peak against 64 MiB and the throughput against the raw pattern (target
# >= 0.8). A measurement, not a test: exits 0 when a target is missed.
#
# Usage: bench/arquivo-grande.sh [BYTES] [--repeticoes N] [--sem-xvfb]   (default 1073741824, 3)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

bytes=1073741824
repeticoes=3
janela=1
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --repeticoes=*) repeticoes=${1#*=}; shift ;;
    --sem-xvfb) janela=0; shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) bytes=$1; shift ;;
  esac
done
[ -x /usr/bin/time ] || { echo "arquivo-grande: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }

ab_preparar_build AtualizadorBrevant atualizador-servidor bench_raw
ab_inicio
[ "$janela" -eq 1 ] && ab_xvfb
bin=$raiz/$ab_build/bin

pacote=$ab_pacotes/pacote
mkdir -p "$pacote/Padrao"
cp "$bin/AtualizadorBrevant" "$pacote/AtualizadorBrevant"
echo "writing a file of $bytes random bytes ..." >&2
head -c "$bytes" /dev/urandom >"$pacote/Padrao/Grande.bin"
mib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')

bruto=() programa=() programa_kib=() janela_s=() janela_kib=() falhas=()
armazem=$ab_trabalho/armazem

novo_servidor() {
  rm -rf "$armazem"
  ab_log_servidor=$ab_trabalho/servidor-$RANDOM.log
  ab_servidor "$armazem" --log
}
guardado() {  # the stored copy is the file, byte for byte
  cmp -s "$pacote/Padrao/Grande.bin" "$armazem/Padrao/Grande.bin"
}
pico_kib() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }

medir_bruto() {
  novo_servidor
  local linha v
  linha=$("$bin/bench_raw" puxar "$ab_porta" "$pacote/Padrao/Grande.bin" 'Padrao\Grande.bin' || true)
  echo "  raw: $linha" >&2
  v=$(sed -n 's/.*: \([0-9.]*\) MiB\/s$/\1/p' <<<"$linha")
  if [ -n "$v" ]; then bruto+=("$v"); else falhas+=("raw client, repetition $r: $linha"); fi
  ab_parar "$ab_servidor_pid"
}
medir_sem_janela() {
  novo_servidor
  local relatorio=$ab_trabalho/time-sem-janela-$r
  ab_cronometrar "$ab_trabalho/sem-janela-$r.log" /usr/bin/time -v -o "$relatorio" \
    "$pacote/AtualizadorBrevant" Bench 127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT' --sem-janela
  if [ "$ab_status" -eq 0 ] && guardado; then
    programa+=("$(awk -v b="$bytes" -v s="$ab_segundos" 'BEGIN { printf "%.1f", b / 1048576 / s }')")
    programa_kib+=("$(pico_kib "$relatorio")")
    echo "  sem-janela: $ab_segundos s, peak $(pico_kib "$relatorio") KiB" >&2
  else
    falhas+=("sem-janela, repetition $r: status $ab_status, stored copy $(guardado && echo equal || echo DIFFERENT)")
  fi
  ab_parar "$ab_servidor_pid"
}
medir_janela() {
  novo_servidor
  local relatorio=$ab_trabalho/time-janela-$r
  ab_janela ab_conexoes_no_log "$ab_trabalho/janela-$r.log" "Bench arquivo grande $$" \
    /usr/bin/time -v -o "$relatorio" "$pacote/AtualizadorBrevant" "Bench arquivo grande $$" \
    127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT'
  if [ "$ab_status" -eq 0 ] && guardado; then
    janela_s+=("$(awk -v b="$bytes" -v s="$ab_segundos" 'BEGIN { printf "%.1f", b / 1048576 / s }')")
    janela_kib+=("$(pico_kib "$relatorio")")
    echo "  janela: $ab_segundos s, peak $(pico_kib "$relatorio") KiB" >&2
  else
    falhas+=("janela, repetition $r: status $ab_status, stored copy $(guardado && echo equal || echo DIFFERENT)")
  fi
  ab_parar "$ab_servidor_pid"
}

medidas=(medir_bruto medir_sem_janela)
[ "$janela" -eq 1 ] && medidas+=(medir_janela)
for r in $(seq 1 "$repeticoes"); do
  echo " repetition $r" >&2
  # The order turns with each repetition, so a drift of the machine's load is spread.
  for k in "${!medidas[@]}"; do
    "${medidas[$(((k + r - 1) % ${#medidas[@]}))]}"
    rm -rf "$armazem"
  done
done

b=$(ab_mediana "${bruto[@]}")
p=$(ab_mediana "${programa[@]}")
pk=$(ab_mediana "${programa_kib[@]}")
pm=$(ab_calc 'k / 1024' k="$pk")
rp=$(ab_calc 'p / b' p="$p" b="$b")
echo
echo "=== bench/arquivo-grande.sh: one file of $mib MiB, loopback, bundled server program ==="
echo "medians of $repeticoes repetitions; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "raw-socket pull pattern (32,747-byte blocks): $b MiB/s"
echo "sem-janela: $p MiB/s over the whole program run; throughput / raw $rp (target >= 0.8: $(ab_alvo "$rp" '>=' 0.8))"
echo "sem-janela: peak resident memory $pm MiB (target <= 64 MiB: $(ab_alvo "$pm" '<=' 64)); peak / file $(ab_calc 'k * 1024 / b' k="$pk" b="$bytes")"
if [ "$janela" -eq 1 ]; then
  j=$(ab_mediana "${janela_s[@]}")
  jk=$(ab_mediana "${janela_kib[@]}")
  jm=$(ab_calc 'k / 1024' k="$jk")
  rj=$(ab_calc 'j / b' j="$j" b="$b")
  echo "janela: $j MiB/s from the click to the exit; throughput / raw $rj (target >= 0.8: $(ab_alvo "$rj" '>=' 0.8))"
  echo "janela: peak resident memory $jm MiB (target <= 64 MiB: $(ab_alvo "$jm" '<=' 64)); peak / file $(ab_calc 'k * 1024 / b' k="$jk" b="$bytes")"
fi
for f in "${falhas[@]}"; do
  echo "failed: $f"
done
exit 0
