#!/usr/bin/env bash
# A slow link: the real window under Xvfb (xdotool clicks "Atualizar") publishing to the bundled
# server program behind bench/delayproxy.py with ONE_WAY_MS one way (default 10, so a 20 ms round
# trip). Package: 300 files of 1 to 8 KiB and one 8 MiB file (301 files). For each
# configuration, first publish then unchanged, from the click to the program's exit:
#   hoje           --comandos-em-cache=nao (one command per call), 32 KB blocks, 1 connection
#   cache          cached commands (the default)
#   cache+1M       cached commands, --buffer-kb 1024
#   ... x4         each of those with --conexoes 4
#   cache+1M-32    cached commands, --buffer-kb 1024 --pedidos-em-curso 32, then with --conexoes 4
#   rsync          the peer: rsync -a --whole-file of the same files (the program's copy left out)
#                  to an rsync daemon on loopback behind the same proxy at the same delay, from
#                  its start to its exit
# Beside each time, its floor: the round trips the run made x the round-trip time. The round trips
# are counted in the bytes the server received (every request that waits for a reply: the
# handshake, connect, prepare, execute, and each block answering a segment request); with several
# connections the floor is the busiest connection's count, since the others run beside it; with
# requests in flight the count is of requests, not of waits. Beside it, for the program and rsync
# alike, the round trips the proxy saw: the times the traffic turned from server->client back to
# client->server at the client's side of the delay (the answers the client waited for; with
# requests in flight, one wait can hold several answers). rsync's floor is its proxy count x the
# round-trip time. And each time as a ratio to rsync's in the same repetitions.
# Then the 8 MiB file alone (a package holding only it) sent by the run on a view that draws
# nothing (bench_run), timed from the verdict to send it to the end of the send, with 32 KB and
# 1024 KB blocks. Targets printed beside the figures: unchanged with cached commands <= 1.15 x
# (files x RTT); unchanged with 4 connections <= 0.35 x (files x RTT); the 8 MiB send at least 15x
# faster with 1024 KB; unchanged, cache+1M-32 <= 1.0 x rsync; first publish, cache+1M-32-x4
# <= 1.5 x rsync. Medians of the repetitions. A measurement, not a test: exits 0 when a target is
# missed. rsync is installed (scripts/install-deps.sh --bench) when missing.
#
# Usage: bench/wan.sh [--repeticoes N] [--atraso ONE_WAY_MS] [--so-em-curso]
#   (default 3 repetitions, 10 ms); --so-em-curso runs only rsync and the cache+1M-32 rows
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
source "$raiz/bench/comum.sh"

repeticoes=3
atraso=10
so_em_curso=0
while [ $# -gt 0 ]; do
  case $1 in
    --repeticoes) repeticoes=$2; shift 2 ;;
    --repeticoes=*) repeticoes=${1#*=}; shift ;;
    --atraso) atraso=$2; shift 2 ;;
    --atraso=*) atraso=${1#*=}; shift ;;
    --so-em-curso) so_em_curso=1; shift ;;
    -h|--help) sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "wan: unknown argument $1" >&2; exit 2 ;;
  esac
done

ab_preparar_build AtualizadorBrevant atualizador-servidor bench_run bench_raw
ab_rsync_instalar
ab_inicio
ab_xvfb
bin=$raiz/$ab_build/bin
rtt=$(awk -v a="$atraso" 'BEGIN { printf "%.4f", 2 * a / 1000 }')
grande=8388608

pacote=$ab_pacotes/pacote
mkdir -p "$pacote/Padrao"
"$bin/bench_raw" arvore "$pacote" 300
head -c "$grande" /dev/urandom >"$pacote/Padrao/Grande.bin"
cp "$bin/AtualizadorBrevant" "$pacote/AtualizadorBrevant"
arquivos=301
so_grande=$ab_trabalho/so-grande
mkdir -p "$so_grande/Padrao"
cp "$pacote/Padrao/Grande.bin" "$so_grande/Padrao/Grande.bin"
cp "$bin/AtualizadorBrevant" "$so_grande/AtualizadorBrevant"

configs=(hoje cache cache+1M hoje-x4 cache-x4 cache+1M-x4 cache+1M-32 cache+1M-32-x4 rsync)
[ "$so_em_curso" -eq 1 ] && configs=(cache+1M-32 cache+1M-32-x4 rsync)
declare -A opcoes=(
  [hoje]="--comandos-em-cache=nao"
  [cache]=""
  [cache+1M]="--buffer-kb 1024"
  [hoje-x4]="--comandos-em-cache=nao --conexoes 4"
  [cache-x4]="--conexoes 4"
  [cache+1M-x4]="--buffer-kb 1024 --conexoes 4"
  [cache+1M-32]="--buffer-kb 1024 --pedidos-em-curso 32"
  [cache+1M-32-x4]="--buffer-kb 1024 --pedidos-em-curso 32 --conexoes 4"
)
# One rsync daemon for the script; its folder is emptied before each repetition's first run.
rsync_alvo=$ab_trabalho/rsync-alvo
ab_rsync_daemon "$rsync_alvo"
declare -A tempos idas_max idas_total prx_max prx_total falhas
ida_e_volta=() ida_e_volta_r=()

iniciar() {  # a fresh store and its server
  armazem=$ab_trabalho/armazem
  rm -rf "$armazem" "$armazem.gravados"
  mkdir -p "$armazem.gravados"
  ab_gravados=$armazem.gravados
  ab_servidor "$armazem" --gravar-recebidos "$armazem.gravados"
}
parar() {
  ab_parar "$ab_servidor_pid"
  rm -rf "$armazem" "$armazem.gravados"
}
# A counting proxy for each timed run (its count file: $conta), so its total is that run's.
conta=$ab_trabalho/idas-e-voltas
proxy_contando() {  # PORT
  rm -f "$conta"
  ab_proxy "$1" "$atraso" "$conta"
}
# Round trips of the connections recorded after the first N: "busiest total".
contar_desde() {
  local antes=$1 novos=()
  mapfile -t novos < <(ls "$ab_gravados" | sort -t- -k2 -n | tail -n +$((antes + 1)))
  [ ${#novos[@]} -gt 0 ] || { echo "- -"; return; }
  (cd "$ab_gravados" && "$bin/bench_raw" contar "${novos[@]}") |
    sed -n 's/^total: idas-e-voltas \([0-9]*\) maior-conexao \([0-9]*\).*/\2 \1/p'
}

echo "package: 300 files of 1-8 KiB and one of $grande bytes; $repeticoes repetitions; RTT $rtt s" >&2
for r in $(seq 1 "$repeticoes"); do
  for k in "${!configs[@]}"; do
    # The order turns with each repetition, so a drift of the machine's load is spread.
    c=${configs[$(((k + r - 1) % ${#configs[@]}))]}
    if [ "$c" = rsync ]; then
      rm -rf "$rsync_alvo" && mkdir -p "$rsync_alvo"
      echo " repetition $r, rsync" >&2
      for fase in primeira inalterada; do
        proxy_contando "$ab_rsync_porta"
        ab_cronometrar "$ab_trabalho/rsync-$fase.log" rsync "${ab_rsync_opcoes[@]}" "$pacote/" \
          "rsync://127.0.0.1:$ab_proxy_porta/alvo/"
        ab_proxy_parar "$conta"
        echo "  $fase: $ab_segundos s, status $ab_status, round trips at the proxy $ab_idas" >&2
        if [ "$ab_status" -ne 0 ]; then
          falhas[rsync]+="status $ab_status in the $fase run, repetition $r ($(tail -n1 "$ab_trabalho/rsync-$fase.log")); "
          continue
        fi
        guardados=$(find "$rsync_alvo" -type f | wc -l)
        [ "$guardados" -eq "$arquivos" ] ||
          falhas[rsync]+="the folder holds $guardados files after the $fase run, repetition $r; "
        tempos[rsync,$fase]+="$ab_segundos "
        prx_max[rsync,$fase]+="$ab_idas_maior "
        prx_total[rsync,$fase]+="$ab_idas "
      done
      continue
    fi
    iniciar
    echo " repetition $r, $c" >&2
    for fase in primeira inalterada; do
      antes=$(ab_conexoes_gravadas)
      proxy_contando "$ab_porta"
      # shellcheck disable=SC2086
      ab_janela ab_conexoes_gravadas "$ab_trabalho/$c-$fase.log" "Bench wan $$" \
        "$pacote/AtualizadorBrevant" "Bench wan $$" 127.0.0.1 "$ab_proxy_porta" 01 PRODUCAO \
        'Vr@ndoxT' ${opcoes[$c]}
      ab_proxy_parar "$conta"
      read -r maior total < <(contar_desde "$antes")
      echo "  $fase: $ab_segundos s, status $ab_status, round trips $total (busiest connection" \
        "$maior), at the proxy $ab_idas (busiest $ab_idas_maior)" >&2
      if [ "$ab_status" -ne 0 ]; then
        falhas[$c]+="status $ab_status in the $fase run, repetition $r; "
        continue
      fi
      if [ "$fase" = primeira ]; then
        guardados=$(find "$armazem" -type f ! -name '.*' | wc -l)
        [ "$guardados" -eq "$arquivos" ] ||
          falhas[$c]+="the store holds $guardados files after the first publish, repetition $r; "
      fi
      tempos[$c,$fase]+="$ab_segundos "
      idas_max[$c,$fase]+="$maior "
      idas_total[$c,$fase]+="$total "
      prx_max[$c,$fase]+="$ab_idas_maior "
      prx_total[$c,$fase]+="$ab_idas "
    done
    if [ -z "${ida_e_volta_r[$r]:-}" ]; then
      ida_e_volta_r[$r]=1
      # The raw request and reply through the same kind of proxy, for reference.
      ab_proxy "$ab_porta" "$atraso"
      linha=$("$bin/bench_raw" ida-e-volta "$ab_proxy_porta" 40 'S01\pasta00\arquivo00000.bin')
      ida_e_volta+=("$(sed -n 's/^ida-e-volta: mediana \([0-9.]*\) us.*/\1/p' <<<"$linha")")
      ab_proxy_parar
    fi
    parar
  done
  # The 8 MiB file alone, on the engine: 32 KB and 1024 KB blocks.
  [ "$so_em_curso" -eq 1 ] && continue
  for kb in 32 1024; do
    iniciar
    ab_proxy "$ab_porta" "$atraso"
    antes=$(ab_conexoes_gravadas)
    log=$ab_trabalho/so-grande-$kb.log
    ab_status=0
    timeout -k 10 "$ab_limite" "$bin/bench_run" "$so_grande" "$ab_proxy_porta" --envios \
      --buffer-kb "$kb" >"$log" 2>&1 || ab_status=$?
    ab_avisar_limite
    ab_proxy_parar
    s=$(sed -n 's/^envio: \([0-9.]*\) s.*/\1/p' "$log")
    blocos=$( (cd "$ab_gravados" && "$bin/bench_raw" contar $(ls | sort -t- -k2 -n | tail -n +$((antes + 1)))) |
      sed -n 's/.* blocos \([0-9]*\)$/\1/p')
    echo "  8 MiB alone, $kb KB: ${s:-?} s, $blocos segment blocks, status $ab_status" >&2
    if [ "$ab_status" -eq 0 ] && [ -n "$s" ]; then
      tempos[grande$kb]+="$s "
      idas_total[grande$kb]+="$blocos "
    else
      falhas[grande$kb]+="status $ab_status, repetition $r; "
    fi
    parar
  done
done

med() { ab_mediana ${1:-}; }
echo
echo "=== bench/wan.sh: the window over a ${atraso} ms one-way link (RTT $rtt s), bundled server program ==="
echo "medians of $repeticoes repetitions; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
bruto_ms=$(ab_calc 'u / 1000' u="$(ab_mediana "${ida_e_volta[@]}")")
echo "raw-socket request and reply through the proxy: median $bruto_ms ms (the proxy's own share is" \
  "what exceeds the RTT)"
echo "rt: round trips counted in the bytes the server received (with x4, the busiest connection's /"
echo "all); prx: round trips the proxy saw, the traffic turning back to the client's side (the same"
echo "form); floor = rt x RTT (rsync: prx x RTT; the busiest connection's with x4); ratio = time /"
echo "floor; /rsync = time / rsync's time in the same phase. With requests in flight (-32) rt counts"
echo "requests answered and prx may count several turns to a wait: no floor."
printf '%-14s %8s %9s %9s %8s %6s %6s %8s %9s %9s %8s %6s %6s\n' config "first(s)" rt prx \
  "floor(s)" ratio /rsync "unch.(s)" rt prx "floor(s)" ratio /rsync
# "busiest/all" of two lists of medians, or one figure when they agree.
par() {
  local m n
  m=$(med "$1") n=$(med "$2")
  [ "$m" = "$n" ] && echo "$m" || echo "$m/$n"
}
for c in "${configs[@]}"; do
  linha=$(printf '%-14s' "$c")
  for fase in primeira inalterada; do
    t=$(med "${tempos[$c,$fase]:-}")
    m=$(med "${idas_max[$c,$fase]:-}")
    [ "$c" = rsync ] && m=$(med "${prx_max[$c,$fase]:-}")
    piso=$(ab_calc 'm * r' m="$m" r="$rtt")
    case " ${opcoes[$c]:-} " in *" --pedidos-em-curso "*) piso=- ;; esac
    linha+=$(printf ' %8s %9s %9s %8s %6s %6s' "$t" \
      "$(par "${idas_max[$c,$fase]:-}" "${idas_total[$c,$fase]:-}")" \
      "$(par "${prx_max[$c,$fase]:-}" "${prx_total[$c,$fase]:-}")" "$piso" \
      "$(ab_calc 't / p' t="$t" p="$piso")" \
      "$(ab_calc 't / s' t="$t" s="$(med "${tempos[rsync,$fase]:-}")")")
  done
  echo "$linha"
done
for c in "${configs[@]}"; do
  [ -n "${falhas[$c]:-}" ] && echo "  $c: ${falhas[$c]}"
done
rsync_p=$(med "${tempos[rsync,primeira]:-}")
rsync_i=$(med "${tempos[rsync,inalterada]:-}")
t=$(med "${tempos[cache+1M-32,inalterada]:-}")
v=$(ab_calc 't / s' t="$t" s="$rsync_i")
echo "unchanged, cache+1M-32: $t s = $v x rsync's $rsync_i s (target <= 1.0: $(ab_alvo "$v" '<=' 1.0))"
t=$(med "${tempos[cache+1M-32-x4,primeira]:-}")
v=$(ab_calc 't / s' t="$t" s="$rsync_p")
echo "first publish, cache+1M-32-x4: $t s = $v x rsync's $rsync_p s (target <= 1.5: $(ab_alvo "$v" '<=' 1.5))"
[ "$so_em_curso" -eq 1 ] && exit 0
base=$(ab_calc 'n * r' n="$arquivos" r="$rtt")
echo "files x RTT = $arquivos x $rtt s = $base s"
for c in cache cache+1M; do
  t=$(med "${tempos[$c,inalterada]:-}")
  v=$(ab_calc 't / b' t="$t" b="$base")
  echo "unchanged, $c: $t s = $v x (files x RTT) (target <= 1.15: $(ab_alvo "$v" '<=' 1.15))"
  echo "  for reference, against its round trips x the raw request and reply through the proxy:" \
    "$(ab_calc 't / (m * b / 1000)' t="$t" m="$(med "${idas_max[$c,inalterada]:-}")" b="$bruto_ms")"
done
for c in cache-x4 cache+1M-x4 hoje-x4; do
  t=$(med "${tempos[$c,inalterada]:-}")
  v=$(ab_calc 't / b' t="$t" b="$base")
  echo "unchanged, $c: $t s = $v x (files x RTT) (target <= 0.35: $(ab_alvo "$v" '<=' 0.35))"
done
g32=$(med "${tempos[grande32]:-}")
g1m=$(med "${tempos[grande1024]:-}")
v=$(ab_calc 'a / b' a="$g32" b="$g1m")
echo "8 MiB file alone (its send, cached commands): 32 KB $g32 s ($(med "${idas_total[grande32]:-}" | sed 's/\.0*$//') blocks)," \
  "1024 KB $g1m s ($(med "${idas_total[grande1024]:-}" | sed 's/\.0*$//') blocks): $v x faster (target >= 15: $(ab_alvo "$v" '>=' 15))"
for c in grande32 grande1024; do
  [ -n "${falhas[$c]:-}" ] && echo "  $c: ${falhas[$c]}"
done
exit 0
