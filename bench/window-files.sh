#!/usr/bin/env bash
# The window's run time against the number of files: for each count, a package of that many
# small files (100 bytes each, 100 to a folder) is published to the bundled server by the real
# program under a virtual X server, "Atualizar" clicked with xdotool. Prints the seconds from the
# click to the program's exit and the time per file; a run that grows linearly keeps the time per
# file about the same.
# Usage: bench/window-files.sh [build folder] [count...]   (default: build 2000 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(2000 10000)
program=$(realpath "$build/bin/AtualizadorBrevant")
servidor=$(realpath "$build/bin/atualizador-servidor")
work=$(mktemp -d "${TMPDIR:-/tmp}/ab-bench-files.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Inside the X server: waits for the window, clicks "Atualizar" (305,332 in the client area) and
# prints the seconds until the program ends.
cat >"$work/clicar.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
name=$1
shift
"$@" >/dev/null 2>&1 &
pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name "$name" | head -n1)
sleep 1
start=$(date +%s.%N)
xdotool mousemove --window "$window" 350 345 click 1
wait "$pid"
status=$?
end=$(date +%s.%N)
echo "$start $end $status"
INNER
chmod +x "$work/clicar.sh"

for n in "${counts[@]}"; do
  pacote=$work/pacote-$n armazem=$work/armazem-$n
  mkdir -p "$pacote"
  cp "$program" "$pacote/AtualizadorBrevant"
  head -c 100 /dev/zero | tr '\0' 'x' >"$work/conteudo"
  for ((i = 0; i < n; i++)); do
    dir=$pacote/Pasta$((i / 100))
    [ $((i % 100)) -eq 0 ] && mkdir -p "$dir"
    cp "$work/conteudo" "$dir/arquivo$i.txt"
  done
  "$servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" >"$work/porta" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/porta" ] && break
    sleep 0.1
  done
  porta=$(head -n1 "$work/porta")
  caption="Bench $$ $n"
  read -r start end status < <(QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$work/clicar.sh" "^${caption}\$" "$pacote/AtualizadorBrevant" "$caption" 127.0.0.1 \
    "$porta" 01 PRODUCAO 'Vr@ndoxT')
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  stored=$(find "$armazem" -type f ! -name '.*' | wc -l)
  awk -v n="$n" -v s="$start" -v e="$end" -v st="$status" -v k="$stored" 'BEGIN {
    printf "%6d files: %6.2f s, %.3f ms per file (exit %d, %d stored)\n",
           n, e - s, (e - s) * 1000 / n, st, k }'
  rm -rf "$pacote" "$armazem"
done
