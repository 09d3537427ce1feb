#!/usr/bin/env bash
# Many small files: a package of FILES files of 1 to 8 KiB (random sizes, 100 folders) published to
# the bundled server program on loopback (store and package in /dev/shm when there is one), first
# publish and then unchanged (a second run that finds everything current), by
#   janela      the real window under Xvfb, from the click on "Atualizar" to the program's exit;
#   motor       the same run on a view that draws nothing (bench_run), btn_AtualizarClick timed;
#   sem-janela  the program with --sem-janela, from its start to its exit, its lines to a file;
#   sem-janela-tty  the same on a (pseudo-)terminal, redrawing its progress line: the line's cost;
#   sem-janela-32   --sem-janela --pedidos-em-curso 32 (requests in flight), to a file;
#   rsync       the peer: rsync -a --whole-file of the same files (the program's copy left out) to
#               an rsync daemon on loopback, from its start to its exit;
# and, in the same run, a raw-socket client's time for one ~60-byte request and its reply against
# the same server, with the round trips of the unchanged run counted from the bytes the server
# received. Prints medians of the repetitions, the ratios and their targets:
#   janela / motor <= 1.3, sem-janela / motor <= 1.1,
#   unchanged / (round trips x raw request and reply) <= 3,
#   unchanged, sem-janela-32 / rsync <= 1.2,
#   with two sizes: (t_big / big) / (t_small / small) <= 1.2 (a figure below 1 / 1.2 is said to
#   be sublinear: the smaller run's fixed costs, such as the program's start, weigh more).
# A measurement, not a test: exits 0 when a target is missed. rsync is installed
# (scripts/install-deps.sh --bench) when missing.
#
# Usage: bench/janela-10k.sh [FILES...] [--repeticoes N] [--modos "MODE..."]
#        (default 10000 files, 3 repetitions, every mode)
#        bench/janela-10k.sh 2000 10000                     (adds the linearity)
#        bench/janela-10k.sh --modos "sem-janela-32 rsync"  (the program against rsync only)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

tamanhos=()
repeticoes=3
todos_modos=(janela motor sem-janela sem-janela-tty sem-janela-32 rsync)
modos_pedidos=()
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --repeticoes=*) repeticoes=${1#*=}; shift ;;
    --modos) read -r -a modos_pedidos <<<"$2"; shift 2 ;;
    --modos=*) read -r -a modos_pedidos <<<"${1#*=}"; shift ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) tamanhos+=("$1"); shift ;;
  esac
done
[ ${#tamanhos[@]} -gt 0 ] || tamanhos=(10000)
modos=("${todos_modos[@]}")
if [ ${#modos_pedidos[@]} -gt 0 ]; then
  for m in "${modos_pedidos[@]}"; do
    [[ " ${todos_modos[*]} " == *" $m "* ]] || { echo "janela-10k: unknown mode $m" >&2; exit 2; }
  done
  modos=("${modos_pedidos[@]}")
fi
tem_modo() { [[ " ${modos[*]} " == *" $1 "* ]]; }

ab_preparar_build AtualizadorBrevant atualizador-servidor bench_run bench_raw
tem_modo rsync && ab_rsync_instalar
ab_inicio
tem_modo janela && ab_xvfb
bin=$raiz/$ab_build/bin
# One rsync daemon for the script; its folder is emptied before each first run.
rsync_alvo=$ab_trabalho/rsync-alvo
tem_modo rsync && ab_rsync_daemon "$rsync_alvo"

declare -A tempos  # [files,mode,phase] = "t1 t2 ..."
declare -A idas    # [files,mode] = round trips of the unchanged run (first repetition)
declare -A falhas
ida_e_volta=()     # raw request and reply, microseconds, one per repetition
pedido=-

# One mode, first publish and unchanged, against the running server (or the rsync daemon); adds
# the times.
executar() {  # FILES MODE PACKAGE STORE
  local n=$1 modo=$2 pacote=$3 armazem=$4 fase log antes=0
  local gravados=$armazem.gravados
  [ -d "$gravados" ] && antes=$(ls "$gravados" | wc -l)
  for fase in primeira inalterada; do
    log=$ab_trabalho/$modo-$n-$fase.log
    if [ "$fase" = inalterada ] && [ -d "$gravados" ]; then
      antes=$(ls "$gravados" | wc -l)
    fi
    case $modo in
      janela)
        ab_gravados=$gravados
        ab_janela ab_conexoes_gravadas "$log" "Bench janela $n $$" "$pacote/AtualizadorBrevant" \
          "Bench janela $n $$" 127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT'
        ;;
      sem-janela)
        ab_cronometrar "$log" "$pacote/AtualizadorBrevant" "Bench" 127.0.0.1 "$ab_porta" 01 \
          PRODUCAO 'Vr@ndoxT' --sem-janela
        ;;
      sem-janela-32)
        ab_cronometrar "$log" "$pacote/AtualizadorBrevant" "Bench" 127.0.0.1 "$ab_porta" 01 \
          PRODUCAO 'Vr@ndoxT' --sem-janela --pedidos-em-curso 32
        ;;
      rsync)
        ab_cronometrar "$log" rsync "${ab_rsync_opcoes[@]}" "$pacote/" \
          "rsync://127.0.0.1:$ab_rsync_porta/alvo/"
        ;;
      sem-janela-tty)
        ab_cronometrar "$log" script -qefc "$(printf '%q ' "$pacote/AtualizadorBrevant" Bench \
          127.0.0.1 "$ab_porta" 01 PRODUCAO 'Vr@ndoxT' --sem-janela)" /dev/null
        ;;
      motor)
        ab_status=0
        timeout -k 10 "$ab_limite" "$bin/bench_run" "$pacote" "$ab_porta" >"$log" 2>&1 ||
          ab_status=$?
        ab_avisar_limite
        ab_segundos=$(sed -n 's/^clique 1: \([0-9.]*\) s.*/\1/p' "$log")
        ;;
    esac
    if [ "$ab_status" -ne 0 ] || [ -z "$ab_segundos" ]; then
      falhas[$n,$modo]="status $ab_status in the $fase run (log: $(tail -n3 "$log" | tr '\n' ' '))"
      echo "  $modo $fase: FAILED, status $ab_status" >&2
      continue
    fi
    tempos[$n,$modo,$fase]+="$ab_segundos "
    echo "  $modo $fase: $ab_segundos s" >&2
    if [ "$fase" = primeira ]; then
      local guardados
      guardados=$(find "$armazem" -type f ! -name '.*' | wc -l)
      [ "$guardados" -eq "$n" ] || falhas[$n,$modo]="the store holds $guardados files after the first publish, not $n"
    fi
  done
  # The unchanged run's round trips, from the connections it opened.
  if [ -z "${idas[$n,$modo]:-}" ] && [ -d "$gravados" ]; then
    local novos=()
    mapfile -t novos < <(ls "$gravados" | sort -t- -k2 -n | tail -n +$((antes + 1)))
    if [ ${#novos[@]} -gt 0 ]; then
      idas[$n,$modo]=$(cd "$gravados" && "$bin/bench_raw" contar "${novos[@]}" |
        sed -n 's/^total: idas-e-voltas \([0-9]*\).*/\1/p')
    fi
  fi
}

for n in "${tamanhos[@]}"; do
  pacote=$ab_pacotes/pacote-$n
  mkdir -p "$pacote"
  "$bin/bench_raw" arvore "$pacote" "$n"
  cp "$bin/AtualizadorBrevant" "$pacote/AtualizadorBrevant"
  echo "$n files ($(du -sh --apparent-size "$pacote" | cut -f1) with the program), $repeticoes repetitions" >&2
  for r in $(seq 1 "$repeticoes"); do
    armazem=$ab_trabalho/armazem-$n-$r
    # The order of the modes turns with each repetition, so a drift of the machine's load does
    # not always land on the same mode.
    medido=0
    for k in $(seq 0 $((${#modos[@]} - 1))); do
      modo=${modos[$(((k + r - 1) % ${#modos[@]}))]}
      if [ "$modo" = rsync ]; then
        rm -rf "$rsync_alvo" && mkdir -p "$rsync_alvo"
        echo " repetition $r, rsync (port $ab_rsync_porta)" >&2
        executar "$n" rsync "$pacote" "$rsync_alvo"
        rm -rf "$rsync_alvo" && mkdir -p "$rsync_alvo"
        continue
      fi
      rm -rf "$armazem" "$armazem.gravados"
      mkdir -p "$armazem.gravados"
      ab_servidor "$armazem" --gravar-recebidos "$armazem.gravados"
      echo " repetition $r, $modo (port $ab_porta)" >&2
      executar "$n" "$modo" "$pacote" "$armazem"
      if [ "$medido" -eq 0 ]; then
        medido=1
        # Against the same server, its store full: a name it holds.
        linha=$("$bin/bench_raw" ida-e-volta "$ab_porta" 2000 'S01\pasta00\arquivo00000.bin')
        ida_e_volta+=("$(sed -n 's/^ida-e-volta: mediana \([0-9.]*\) us.*/\1/p' <<<"$linha")")
        pedido=$(sed -n 's/.*pedido de \([0-9]*\) bytes.*/\1/p' <<<"$linha")
        echo "  raw $linha" >&2
      fi
      ab_parar "$ab_servidor_pid"
      rm -rf "$armazem" "$armazem.gravados"
    done
  done
  rm -rf "$pacote"
done

rtt_us=$(ab_mediana "${ida_e_volta[@]}")
for modo in "${todos_modos[@]}"; do
  declare "med_${modo//-/_}_p=-" "med_${modo//-/_}_i=-"
done
echo
echo "=== bench/janela-10k.sh: many small files, loopback, bundled server program ==="
echo "medians of $repeticoes repetitions; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "raw-socket request and reply (a $pedido-byte execute of a prepared PropertsFile, as the program" \
  "sends for these names): median $rtt_us us"
for n in "${tamanhos[@]}"; do
  echo
  echo "--- $n files ---"
  echo "(round trips: with sem-janela-32, requests answered, several to a wait)"
  printf '%-15s %12s %12s %14s %16s\n' mode "first (s)" "unchanged (s)" "round trips" "unch./(rt x raw)"
  for modo in "${modos[@]}"; do
    p=$(ab_mediana ${tempos[$n,$modo,primeira]:-})
    i=$(ab_mediana ${tempos[$n,$modo,inalterada]:-})
    rt=${idas[$n,$modo]:--}
    printf '%-15s %12s %12s %14s %16s\n' "$modo" "$p" "$i" "$rt" \
      "$(ab_calc 'i / (rt * u / 1e6)' i="$i" rt="$rt" u="$rtt_us")"
    declare "med_${modo//-/_}_p=$p" "med_${modo//-/_}_i=$i"
  done
  for modo in "${modos[@]}"; do
    [ -n "${falhas[$n,$modo]:-}" ] && echo "  $modo had a failed run: ${falhas[$n,$modo]}"
  done
  for fase in p i; do
    tem_modo motor || break
    nome=$([ $fase = p ] && echo "first publish" || echo "unchanged")
    j=med_janela_$fase m=med_motor_$fase s=med_sem_janela_$fase
    r1=$(ab_calc 'a / b' a="${!j}" b="${!m}")
    r2=$(ab_calc 'a / b' a="${!s}" b="${!m}")
    echo "$nome: janela/motor $r1 (target <= 1.3: $(ab_alvo "$r1" '<=' 1.3));" \
      "sem-janela/motor $r2 (target <= 1.1: $(ab_alvo "$r2" '<=' 1.1))"
  done
  for fase in p i; do
    tem_modo sem-janela-tty && tem_modo sem-janela || break
    t=med_sem_janela_tty_$fase l=med_sem_janela_$fase
    echo "progress line on a terminal, $([ $fase = p ] && echo "first publish" || echo unchanged):" \
      "sem-janela-tty/sem-janela $(ab_calc 'a / b' a="${!t}" b="${!l}")"
  done
  if tem_modo motor || tem_modo janela; then
    rt=${idas[$n,motor]:--}
    r3=$(ab_calc 'i / (rt * u / 1e6)' i="$med_motor_i" rt="$rt" u="$rtt_us")
    r4=$(ab_calc 'i / (rt * u / 1e6)' i="$med_janela_i" rt="${idas[$n,janela]:--}" u="$rtt_us")
    echo "unchanged / (round trips x raw request and reply): motor $r3, janela $r4 (target <= 3:" \
      "motor $(ab_alvo "$r3" '<=' 3), janela $(ab_alvo "$r4" '<=' 3))"
  fi
  if tem_modo sem-janela-32 && tem_modo rsync; then
    r5=$(ab_calc 'a / b' a="$med_sem_janela_32_i" b="$med_rsync_i")
    echo "unchanged, sem-janela-32 / rsync: $med_sem_janela_32_i s / $med_rsync_i s = $r5 (target" \
      "<= 1.2: $(ab_alvo "$r5" '<=' 1.2)); first publish $(ab_calc 'a / b' a="$med_sem_janela_32_p" \
      b="$med_rsync_p")"
  fi
  for modo in janela sem-janela; do
    tem_modo "$modo" && tem_modo motor || continue
    if [ "${idas[$n,$modo]:--}" != "${idas[$n,motor]:--}" ]; then
      echo "  note: $modo made ${idas[$n,$modo]:--} round trips unchanged, motor ${idas[$n,motor]:--}"
    fi
  done
done
if [ ${#tamanhos[@]} -ge 2 ]; then
  a=${tamanhos[0]} b=${tamanhos[-1]}
  echo
  echo "--- linearity: (t$b / $b) / (t$a / $a), target <= 1.2 (time per file grows at most 20%) ---"
  for modo in "${modos[@]}"; do
    linha="$modo:"
    for fase in primeira inalterada; do
      ta=$(ab_mediana ${tempos[$a,$modo,$fase]:-})
      tb=$(ab_mediana ${tempos[$b,$modo,$fase]:-})
      l=$(ab_calc '(tb / b) / (ta / a)' ta="$ta" tb="$tb" a="$a" b="$b")
      linha+=" $([ $fase = primeira ] && echo first || echo unchanged) $l ($(ab_alvo "$l" linear 1.2))"
    done
    echo "$linha"
  done
fi
exit 0
