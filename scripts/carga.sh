#!/usr/bin/env bash
# Load on the bundled server: sixteen programs without a window publish at once to one server
# program.
#   1. sixteen different trees (system codes 01 to 16, so sixteen destination folders);
#   2. all sixteen the same tree (system code 01) at once;
#   3. sixteen again with large files, four of them killed (SIGKILL) in the middle of their
#      transfer; the server must go on serving: the twelve others finish and a later publish works.
# After each step every stored file must equal its source (bytes and time stamp) and the store
# must hold no temporary file. Prints the server's peak resident memory at the end.
#
# Usage: scripts/carga.sh [--build DIR] [--programas N] [--grande BYTES]
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
programas=16
grande=$((20 * 1024 * 1024))
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --programas) programas=$2; shift 2 ;;
    --grande) grande=$2; shift 2 ;;
    *) echo "carga: unknown argument $1" >&2; exit 2 ;;
  esac
done
programa=$build/bin/AtualizadorBrevant
servidor=$build/bin/atualizador-servidor
for exe in "$programa" "$servidor"; do
  [ -x "$exe" ] || { echo "carga: $exe is missing (build the default preset)" >&2; exit 2; }
done

# Not below /dev: the program refuses to publish a folder there.
work=$(mktemp -d -p "${TMPDIR:-/tmp}")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill -KILL "$server_pid" 2>/dev/null
  jobs -p | xargs -r kill -KILL 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${CARGA_MANTER:-}" ] && trap - EXIT
unset DISPLAY WAYLAND_DISPLAY
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/estado
armazem=$work/armazem
mkdir -p "$armazem"
falhas=0
falhar() {
  echo "FALHA: $*"
  falhas=$((falhas + 1))
}

. scripts/servidor-local.sh
iniciar_servidor_local --raiz "$armazem" --max-conexoes 128

# A package: the program and a tree of small files in folders, plus one large file when asked.
pacote() {
  local dir=$1 semente=$2 tamanho_grande=$3 ano=$4
  mkdir -p "$dir"
  cp "$programa" "$dir/AtualizadorBrevant"
  for p in 0 1 2 3; do
    mkdir -p "$dir/pasta$p"
    for f in 0 1 2 3 4; do
      head -c $((1000 + (semente * 37 + p * 11 + f * 7) % 7000)) /dev/urandom >"$dir/pasta$p/arq$f.dat"
    done
  done
  echo "pacote $semente" >"$dir/LeiaMe.txt"
  [ "$tamanho_grande" -gt 0 ] && head -c "$tamanho_grande" /dev/urandom >"$dir/grande.bin"
  find "$dir" -type f ! -name AtualizadorBrevant -exec touch -d "$ano-0$((semente % 9 + 1))-01 10:00:00" {} +
}

publicar() {
  local dir=$1 sistema=$2
  timeout 300 "$dir/AtualizadorBrevant" Carga 127.0.0.1 "$porta" "$sistema" PRODUCAO 'Vr@ndoxT' \
    --sem-janela >"$dir.out" 2>"$dir.err"
}

# Every file of the package stored as itself under S<sistema>: names, sizes and time stamps, then
# bytes (the store may hold more, from earlier steps).
conferir() {
  local dir=$1 sistema=$2 faltam diferem
  faltam=$(comm -23 \
    <(cd "$dir" && find . -type f ! -name AtualizadorBrevant -printf '%P %s %Ts\n' | sort) \
    <(cd "$armazem/S$sistema" 2>/dev/null && find . -type f -printf '%P %s %Ts\n' | sort))
  [ -z "$faltam" ] || falhar "$sistema: missing or with another size or time stamp: ${faltam//$'\n'/, }"
  diferem=$(diff -rq --exclude=AtualizadorBrevant "$dir" "$armazem/S$sistema" 2>&1 | grep -v "^Only in $armazem")
  [ -z "$diferem" ] || falhar "$sistema: $diferem"
}

sem_temporarios() {
  local t
  t=$(find "$armazem" -name '.atualizador-tmp-*' | head -n3)
  [ -z "$t" ] || falhar "temporary files left: $t"
}

sistemas=()
for i in $(seq 1 "$programas"); do
  sistemas+=("$(printf '%02d' "$i")")
done

echo "1. $programas different trees at once"
for s in "${sistemas[@]}"; do
  pacote "$work/p$s" "$((10#$s))" 0 2024
done
inicio=$(date +%s%N)
for s in "${sistemas[@]}"; do
  publicar "$work/p$s" "$s" &
done
wait_status=0
for pid in $(jobs -p | grep -v "^$server_pid$"); do
  wait "$pid" || wait_status=$?
done
[ "$wait_status" -eq 0 ] || falhar "a program ended with status $wait_status"
echo "   $(( ($(date +%s%N) - inicio) / 1000000 )) ms"
for s in "${sistemas[@]}"; do
  conferir "$work/p$s" "$s"
done
sem_temporarios

echo "2. $programas programs, the same tree at once"
# Newer than what step 1 stored in S01.
pacote "$work/igual" 99 $((grande / 4)) 2025
for s in "${sistemas[@]}"; do
  cp -a "$work/igual" "$work/igual$s"
done
inicio=$(date +%s%N)
for s in "${sistemas[@]}"; do
  publicar "$work/igual$s" 01 &
done
for pid in $(jobs -p | grep -v "^$server_pid$"); do
  wait "$pid" || falhar "a program publishing the same tree ended with status $?"
done
echo "   $(( ($(date +%s%N) - inicio) / 1000000 )) ms"
conferir "$work/igual" 01
sem_temporarios

echo "3. $programas programs with large files, four killed mid-transfer"
rm -rf "$work"/p* "$work"/igual*
declare -A pids
for s in "${sistemas[@]}"; do
  # Newer than what steps 1 and 2 stored in the same folders.
  pacote "$work/g$s" "$((10#$s))" "$grande" 2026
done
inicio=$(date +%s%N)
for s in "${sistemas[@]}"; do
  # Started directly, so the process to kill is the program itself.
  "$work/g$s/AtualizadorBrevant" Carga 127.0.0.1 "$porta" "$s" PRODUCAO 'Vr@ndoxT' --sem-janela \
    >"$work/g$s.out" 2>"$work/g$s.err" &
  pids[$s]=$!
done
# Killed once their large file is on its way: a temporary file of the server exists.
for _ in $(seq 1 500); do
  [ -n "$(find "$armazem" -name '.atualizador-tmp-*' | head -n1)" ] && break
  sleep 0.01
done
sleep 0.2
mortos=("${sistemas[@]:0:4}")
for s in "${mortos[@]}"; do
  kill -KILL "${pids[$s]}" 2>/dev/null
done
for s in "${sistemas[@]:4}"; do
  wait "${pids[$s]}" || falhar "program $s ended with status $?"
  conferir "$work/g$s" "$s"
done
for s in "${mortos[@]}"; do
  wait "${pids[$s]}" 2>/dev/null
done
# The killed ones' sessions end when the server notices their sockets closed.
for _ in $(seq 1 500); do
  [ -z "$(find "$armazem" -name '.atualizador-tmp-*' | head -n1)" ] && break
  sleep 0.01
done
sem_temporarios
# The server still serves: the killed ones publish again.
for s in "${mortos[@]}"; do
  publicar "$work/g$s" "$s" || falhar "republishing $s after the kill ended with status $?"
  conferir "$work/g$s" "$s"
done
echo "   $(( ($(date +%s%N) - inicio) / 1000000 )) ms"

kill -0 "$server_pid" 2>/dev/null || falhar "the server is gone"
pico=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")
parar_servidor_local
echo "carga: $programas programas, $falhas falhas; servidor: pico de memória residente $((pico / 1024)) MiB" \
  "($programas conexões simultâneas, arquivos grandes de $((grande / 1048576)) MiB)"
[ "$falhas" -eq 0 ]
