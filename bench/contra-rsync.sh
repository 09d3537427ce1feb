#!/usr/bin/env bash
# The program against rsync, side by side in one run, on five workloads (store and packages in
# /dev/shm when there is one, the bundled server program on loopback):
#   lento-primeira     a slow link: bench/delayproxy.py with ONE_WAY_MS one way (default 10, a
#                      20 ms round trip) in front of the server and of the rsync daemon alike;
#                      300 files of 1 to 8 KiB and one of 8 MiB; first publish to an empty store
#   lento-inalterada   the same, unchanged: a second run that finds everything current
#   10k-primeira       loopback, 10,000 files of 1 to 8 KiB in 100 folders; first publish
#   10k-inalterada     the same, unchanged
#   1g-primeira        loopback, one file of 1 GiB of random bytes; first publish
# by these modes, interleaved (padrao run 1, conservador run 1, rsync run 1, janela run 1, padrao
# run 2, ...), each run with a fresh store:
#   padrao       the program with --sem-janela and no other option, from its start to its exit
#   conservador  the same with --conservador (one connection, one request at a time, 32 KB
#                blocks); while the program's --help does not list --conservador, with
#                --conexoes 1 --pedidos-em-curso 1 --buffer-kb 32, which says the same
#   rsync        rsync -a --whole-file of the same files (the program's copy left out) to an
#                rsync daemon on loopback, from its start to its exit
#   janela       the real window under Xvfb with no option, from the click on "Atualizar" to its
#                exit (xdotool clicks it)
# Each run goes under /usr/bin/time: the peak resident memory of the program, or of the rsync
# client. On the slow link the proxy counts each run's round trips: the times the traffic turned
# from server->client back to client->server at the client's side of the delay.
# Prints per workload and mode the median time, its ratio to rsync's median, the round trips and
# the peak memory; the peak memory's range over the workloads; and the window against padrao
# (target <= 1.1). Runs that fail, or leave the store short of the package, are reported and left
# out of the medians. A measurement, not a test: exits 0 when a target is missed. rsync is
# installed (scripts/install-deps.sh --bench) when missing.
#
# Usage: bench/contra-rsync.sh [--repeticoes N] [--cargas "WORKLOAD..."] [--modos "MODE..."]
#                              [--opcoes "OPTIONS"] [--atraso ONE_WAY_MS]
#   default: 3 runs, every workload and mode, 10 ms. --opcoes goes to every mode of the program
#   (padrao, conservador, janela), after its own options. Quick runs while working:
#   bench/contra-rsync.sh --repeticoes 1 --cargas "10k-inalterada" --modos "padrao rsync"
#   bench/contra-rsync.sh --modos "padrao rsync" --opcoes "--pedidos-em-curso 32"
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

repeticoes=3
atraso=10
todas_cargas=(lento-primeira lento-inalterada 10k-primeira 10k-inalterada 1g-primeira)
todos_modos=(padrao conservador rsync janela)
cargas=("${todas_cargas[@]}")
modos=("${todos_modos[@]}")
extras=()
escolher() {  # ARRAY NAME "CHOSEN..." VALID...: the chosen words into ARRAY, each one valid
  local -n lista=$1
  local nome=$2 v
  read -r -a lista <<<"$3"
  shift 3
  [ ${#lista[@]} -gt 0 ] || { echo "contra-rsync: no $nome given" >&2; exit 2; }
  for v in "${lista[@]}"; do
    [[ " $* " == *" $v "* ]] || { echo "contra-rsync: unknown $nome $v (one of: $*)" >&2; exit 2; }
  done
}
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --repeticoes=*) repeticoes=${1#*=}; shift ;;
    --atraso) atraso=$2; shift 2 ;;
    --atraso=*) atraso=${1#*=}; shift ;;
    --cargas|--cargas=*|--modos|--modos=*|--opcoes|--opcoes=*)
      if [[ $1 == *=* ]]; then chave=${1%%=*} valor=${1#*=}; shift; else chave=$1 valor=$2; shift 2; fi
      case $chave in
        --cargas) escolher cargas workload "$valor" "${todas_cargas[@]}" ;;
        --modos) escolher modos mode "$valor" "${todos_modos[@]}" ;;
        --opcoes) read -r -a extras <<<"$valor" ;;
      esac
      ;;
    -h|--help) sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "contra-rsync: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ $repeticoes =~ ^[1-9][0-9]*$ ]] || { echo "contra-rsync: --repeticoes takes a whole number from 1" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "contra-rsync: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
tem() {  # WORD LIST...: whether the word is in the list
  local w=$1
  shift
  [[ " $* " == *" $w "* ]]
}

ab_preparar_build AtualizadorBrevant atualizador-servidor bench_raw
tem rsync "${modos[@]}" && ab_rsync_instalar
ab_inicio
tem janela "${modos[@]}" && ab_xvfb
bin=$raiz/$ab_build/bin

# The conservative mode: its own option once the program has it.
ajuda=$("$bin/AtualizadorBrevant" --help 2>&1 || true)
if grep -qE -- '--conservador([^-[:alnum:]]|$)' <<<"$ajuda"; then
  conservador=(--conservador)
else
  conservador=(--conexoes 1 --pedidos-em-curso 1 --buffer-kb 32)
  tem conservador "${modos[@]}" &&
    echo "the program's --help lists no --conservador: its options stand for it" >&2
fi
# What each mode runs, for the summary.
descrever_modos() {
  local modo texto=""
  for modo in "${modos[@]}"; do
    case $modo in
      padrao) texto+="; padrao: --sem-janela" ;;
      conservador) texto+="; conservador: --sem-janela ${conservador[*]}" ;;
      janela) texto+="; janela: the window" ;;
      rsync) texto+="; rsync: ${ab_rsync_opcoes[*]}"; continue ;;
    esac
    [ ${#extras[@]} -gt 0 ] && texto+=" ${extras[*]}"
  done
  echo "${texto#; }"
}

rtt_ms=$(awk -v a="$atraso" 'BEGIN { printf "%g", 2 * a }')
declare -A rotulo=(
  [lento-primeira]="$rtt_ms ms link, first"
  [lento-inalterada]="$rtt_ms ms link, unchanged"
  [10k-primeira]="10,000 files, first"
  [10k-inalterada]="10,000 files, unchanged"
  [1g-primeira]="1 GiB, first"
)
grande=8388608
um_giga=1073741824
titulo="Bench contra-rsync $$"

declare -A tempos picos idas idas_maior falhas
rsync_alvo=$ab_trabalho/rsync-alvo
tem rsync "${modos[@]}" && ab_rsync_daemon "$rsync_alvo"
armazem=$ab_trabalho/armazem
conta=$ab_trabalho/idas-e-voltas

# The package of a scenario (lento, 10k, 1g) with the program's copy in it; sets pacote and
# esperados (the files a publish stores: the program leaves itself out, rsync is told to).
preparar_pacote() {  # SCENARIO
  pacote=$ab_pacotes/pacote-$1
  rm -rf "$pacote"
  mkdir -p "$pacote"
  case $1 in
    lento)
      "$bin/bench_raw" arvore "$pacote" 300 >/dev/null
      mkdir -p "$pacote/Padrao"
      head -c "$grande" /dev/urandom >"$pacote/Padrao/Grande.bin"
      esperados=301
      ;;
    10k)
      "$bin/bench_raw" arvore "$pacote" 10000 >/dev/null
      esperados=10000
      ;;
    1g)
      echo "writing a file of $um_giga random bytes ..." >&2
      mkdir -p "$pacote/Padrao"
      head -c "$um_giga" /dev/urandom >"$pacote/Padrao/Grande.bin"
      esperados=1
      ;;
  esac
  cp "$bin/AtualizadorBrevant" "$pacote/AtualizadorBrevant"
}

# What is wrong with the copy in DIR after a run, or nothing: the number of files (hidden ones
# are the server's own) and, for the large file, its bytes.
conferir() {  # DIR
  local n
  n=$(find "$1" -type f ! -name '.*' | wc -l)
  [ "$n" -eq "$esperados" ] || { echo "it holds $n files, not $esperados"; return; }
  if [ -f "$pacote/Padrao/Grande.bin" ] && ! cmp -s "$pacote/Padrao/Grande.bin" "$1/Padrao/Grande.bin"; then
    echo "its copy of Padrao/Grande.bin differs"
  fi
}

# One timed run of MODE against PORT; sets ab_segundos, ab_status and pico (KiB, "-" if unknown).
medir() {  # MODE PORT LOG
  local modo=$1 porta=$2 log=$3 mem=$ab_trabalho/memoria
  rm -f "$mem"
  local tempo=(/usr/bin/time -f %M -o "$mem")
  local programa=("$pacote/AtualizadorBrevant" Bench 127.0.0.1 "$porta" 01 PRODUCAO 'Vr@ndoxT')
  case $modo in
    padrao) ab_cronometrar "$log" "${tempo[@]}" "${programa[@]}" --sem-janela "${extras[@]}" ;;
    conservador)
      ab_cronometrar "$log" "${tempo[@]}" "${programa[@]}" --sem-janela "${conservador[@]}" \
        "${extras[@]}"
      ;;
    rsync)
      ab_cronometrar "$log" "${tempo[@]}" rsync "${ab_rsync_opcoes[@]}" "$pacote/" \
        "rsync://127.0.0.1:$porta/alvo/"
      ;;
    janela)
      programa[1]=$titulo
      ab_sonda_porta=$porta
      ab_janela ab_conexoes_na_porta "$log" "$titulo" "${tempo[@]}" "${programa[@]}" "${extras[@]}"
      ;;
  esac
  # /usr/bin/time writes the figure last, after a line on a failed status.
  pico=$(tail -n1 "$mem" 2>/dev/null || true)
  [[ $pico =~ ^[0-9]+$ ]] || pico=-
}

# One run of a mode on a scenario: the first publish to an empty store, then the unchanged run
# when that workload is asked for.
executar() {  # SCENARIO MODE RUN
  local cen=$1 modo=$2 r=$3 fase carga porta destino log falha
  if [ "$modo" = rsync ]; then
    rm -rf "$rsync_alvo" && mkdir -p "$rsync_alvo"
    porta=$ab_rsync_porta destino=$rsync_alvo
  else
    rm -rf "$armazem"
    ab_servidor "$armazem"
    porta=$ab_porta destino=$armazem
  fi
  for fase in primeira inalterada; do
    carga=$cen-$fase
    [ -n "${rotulo[$carga]:-}" ] || continue
    [ "$fase" = primeira ] || tem "$carga" "${cargas[@]}" || continue
    log=$ab_trabalho/$modo-$carga-$r.log
    if [ "$cen" = lento ]; then
      rm -f "$conta"
      ab_proxy "$porta" "$atraso" "$conta"
      medir "$modo" "$ab_proxy_porta" "$log"
      ab_proxy_parar "$conta"
    else
      ab_idas=- ab_idas_maior=-
      medir "$modo" "$porta" "$log"
    fi
    falha=""
    if [ "$ab_status" -ne 0 ]; then
      falha="status $ab_status ($(tail -n2 "$log" | tr '\n' ' '))"
    else
      falha=$(conferir "$destino")
    fi
    if [ -n "$falha" ]; then
      echo "  $modo, $carga: FAILED: $falha" >&2
      falhas[$carga,$modo]+="run $r: $falha; "
      # The unchanged run needs what the first one stored.
      [ "$fase" = primeira ] && break
      continue
    fi
    echo "  $modo, $carga: $ab_segundos s, peak $pico KiB$([ "$cen" = lento ] &&
      echo ", round trips $ab_idas (busiest connection $ab_idas_maior)")" >&2
    tempos[$carga,$modo]+="$ab_segundos "
    picos[$carga,$modo]+="$pico "
    if [ "$cen" = lento ] && [ "$ab_idas" != - ]; then
      idas[$carga,$modo]+="$ab_idas "
      idas_maior[$carga,$modo]+="$ab_idas_maior "
    fi
  done
  if [ "$modo" = rsync ]; then
    rm -rf "$rsync_alvo" && mkdir -p "$rsync_alvo"
  else
    ab_parar "$ab_servidor_pid"
    rm -rf "$armazem"
  fi
}

echo "$(descrever_modos); $repeticoes runs" >&2
for cen in lento 10k 1g; do
  pedido=0
  for carga in "${cargas[@]}"; do
    [[ $carga == "$cen"-* ]] && pedido=1
  done
  [ "$pedido" -eq 1 ] || continue
  preparar_pacote "$cen"
  echo "$cen: $esperados files ($(du -sh --apparent-size "$pacote" | cut -f1) with the program)" >&2
  for r in $(seq 1 "$repeticoes"); do
    for modo in "${modos[@]}"; do
      echo " run $r, $modo" >&2
      executar "$cen" "$modo" "$r"
    done
  done
  rm -rf "$pacote"
done

# The lists are words: split on purpose.
# shellcheck disable=SC2086
med() { ab_mediana ${1:-}; }
mib() { ab_calc 'k / 1024' k="$1"; }
echo
echo "=== bench/contra-rsync.sh: the program against rsync, bundled server program ==="
echo "medians of $repeticoes runs; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
descrever_modos
echo "time: from the start to the exit (janela: from the click); x rsync: time / rsync's median;"
echo "rt: round trips at the delay proxy (the busiest connection's / all, when they differ);"
echo "peak: peak resident memory of the program, or of the rsync client"
printf '%-26s %-12s %9s %8s %9s %10s\n' workload mode "time(s)" "x rsync" rt "peak(MiB)"
for carga in "${todas_cargas[@]}"; do
  tem "$carga" "${cargas[@]}" || continue
  nome=${rotulo[$carga]}
  r=$(med "${tempos[$carga,rsync]:-}")
  for modo in "${modos[@]}"; do
    t=$(med "${tempos[$carga,$modo]:-}")
    n=$(med "${idas[$carga,$modo]:-}")
    m=$(med "${idas_maior[$carga,$modo]:-}")
    [ "$m" = "$n" ] && rt=$n || rt=$m/$n
    printf '%-26s %-12s %9s %8s %9s %10s\n' "$nome" "$modo" "$t" "$(ab_calc 't / r' t="$t" r="$r")" \
      "$rt" "$(mib "$(med "${picos[$carga,$modo]:-}")")"
    nome=""
  done
done
echo "peak memory over the workloads (MiB, the lowest and highest run):"
for modo in "${modos[@]}"; do
  juntos=""
  for carga in "${cargas[@]}"; do
    juntos+="${picos[$carga,$modo]:-} "
  done
  kib=$(tr ' ' '\n' <<<"$juntos" | grep -E '^[0-9]+$' | sort -n || true)
  faixa=-
  [ -n "$kib" ] && faixa="$(mib "$(head -n1 <<<"$kib")")-$(mib "$(tail -n1 <<<"$kib")")"
  echo "  $modo: $faixa"
done
if tem janela "${modos[@]}" && tem padrao "${modos[@]}"; then
  echo "the window against padrao, janela / padrao (target <= 1.1):"
  for carga in "${cargas[@]}"; do
    v=$(ab_calc 'j / p' j="$(med "${tempos[$carga,janela]:-}")" p="$(med "${tempos[$carga,padrao]:-}")")
    echo "  ${rotulo[$carga]}: $v ($(ab_alvo "$v" '<=' 1.1))"
  done
fi
for carga in "${todas_cargas[@]}"; do
  for modo in "${modos[@]}"; do
    [ -n "${falhas[$carga,$modo]:-}" ] && echo "  $modo, ${rotulo[$carga]}, failed: ${falhas[$carga,$modo]}"
  done
done
exit 0
