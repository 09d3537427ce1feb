#!/usr/bin/env bash
# The real program under a virtual X server: a package folder (a copy of the program, Logo.jpg and
# a small tree) is published to the bundled update server program by a real click on "Atualizar".
# Checks that every file is stored byte for byte with its time stamp, that the program file and
# the top-level logo stay home, that the clients were alerted, that the run left its line in the
# history, and that the program exits with 0.
# The program is one file: its window comes from a module it carries and loads from memory (Qt
# with it), and nothing appears beside it.
#
# Usage: atualizar-xvfb.sh PROGRAM SERVER LOGO
set -euo pipefail

program=$1 servidor=$2 logo=$3
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ab-e2e-xvfb.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

pacote=$work/pacote
armazem=$work/armazem
mkdir -p "$pacote/Scripts" "$pacote/Arquivos/Rel" "$pacote/Padrao" "$pacote/Imagens"
cp "$program" "$pacote/AtualizadorBrevant"
cp "$logo" "$pacote/Logo.jpg"
cp "$logo" "$pacote/Imagens/Logo.jpg"
printf 'versao=2\n' >"$pacote/LeiaMe.txt"
printf 'update t set a = 1;\n' >"$pacote/Scripts/Carga.sql"
head -c 300000 /dev/urandom >"$pacote/Arquivos/Rel/Vendas.rpt"
printf 'padrao\n' >"$pacote/Padrao/Padrao.dll"
printf 'Relat\xc3\xb3rio\n' >"$pacote/Arquivos/Relat$(printf '\xc3\xb3')rio.txt"
: >"$pacote/vazio.dat"
touch -d '2024-02-03 04:05:06' "$pacote/LeiaMe.txt" "$pacote/Scripts/Carga.sql"

"$servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" >"$work/porta" 2>"$work/servidor.log" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/porta" ] && break
  sleep 0.1
done
porta=$(head -n1 "$work/porta")
[ -n "$porta" ] || { echo "the server printed no port" >&2; cat "$work/servidor.log" >&2; exit 1; }

caption="Atualizador E2E $$"
# A virtual X server that failed to start (a display number taken by a parallel run) is tried
# once more; the program never ran then.
for try in 1 2; do
  status=0
  AB_MAPAS=$work/mapas QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/estado \
    xvfb-run -a -s "-screen 0 1024x768x24" "$scripts/click-atualizar.sh" \
    "$armazem" "^${caption}\$" "$work/programa.log" -- "$pacote/AtualizadorBrevant" "$caption" \
    127.0.0.1 "$porta" 01 PRODUCAO 'Vr@ndoxT' || status=$?
  [ "$status" -eq 0 ] || [ -e "$work/programa.log" ] && break
  echo "the virtual X server did not start (try $try)" >&2
  sleep 2
done
if [ "$status" -ne 0 ]; then
  echo "program run failed with status $status" >&2
  cat "$work/programa.log" "$work/servidor.log" >&2 || true
  exit 1
fi

fail=0
check() {  # local file, stored name
  local local_file=$pacote/$1 stored=$armazem/$2
  if ! cmp -s "$local_file" "$stored"; then
    echo "not stored byte for byte: $1 -> $2" >&2
    fail=1
  elif [ "$(stat -c %Y "$local_file")" != "$(stat -c %Y "$stored")" ]; then
    echo "time stamp differs: $1 -> $2" >&2
    fail=1
  fi
}
check LeiaMe.txt S01/LeiaMe.txt
check vazio.dat S01/vazio.dat
check Scripts/Carga.sql Scripts/S01/Carga.sql
check Arquivos/Rel/Vendas.rpt Arquivos/S01/Rel/Vendas.rpt
check "Arquivos/Relat$(printf '\xc3\xb3')rio.txt" "Arquivos/S01/Relat$(printf '\xc3\xb3')rio.txt"
check Padrao/Padrao.dll Padrao/Padrao.dll
check Imagens/Logo.jpg S01/Imagens/Logo.jpg
for absent in S01/AtualizadorBrevant S01/Logo.jpg; do
  if [ -e "$armazem/$absent" ]; then
    echo "must not be published: $absent" >&2
    fail=1
  fi
done
if ! grep -q 'Atualizacao' "$armazem/.alertas.log" 2>/dev/null; then
  echo "no alert received" >&2
  fail=1
fi
for mapeado in "/memfd:AtualizadorBrevant-janela" libQt6Widgets; do
  grep -q -F "$mapeado" "$work/mapas" || { echo "the window's program has not mapped $mapeado" >&2; fail=1; }
done
ao_lado=$(cd "$pacote" && LC_ALL=C ls -A | tr '\n' ' ')
if [ "$ao_lado" != "Arquivos AtualizadorBrevant Imagens LeiaMe.txt Logo.jpg Padrao Scripts vazio.dat " ]; then
  echo "the package folder holds: $ao_lado" >&2
  fail=1
fi
# The click's run, recorded by the window as without one: one line, every file sent.
historico=$work/estado/atualizador-brevant/historico.jsonl
if [ "$(wc -l <"$historico" 2>/dev/null)" != 1 ] ||
  ! grep -q '"tipo_servidor":"pai".*"enviados":7,.*"codigo_saida":0}$' "$historico"; then
  echo "the history holds: $(cat "$historico" 2>&1)" >&2
  fail=1
fi
stored=$(find "$armazem" -type f ! -name '.*' | wc -l)
if [ "$stored" -ne 7 ]; then
  echo "expected 7 stored files, found $stored" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "published 7 files, program exited with 0"
exit "$fail"
