#!/usr/bin/env bash
# The demo: starts the bundled update server on a free loopback port with a fresh store, assembles
# a demo package folder (a copy of the program, Logo.jpg and a small tree with Scripts/, Arquivos/
# and Padrao/ files and a top-level file) and opens the window on that server. Press "Atualizar"
# and the files arrive in the store; the server stops when the window closes.
#
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the window opens on a virtual X server and
# "Atualizar" is pressed automatically.
#
# Usage: scripts/demo.sh [build folder]   (default: build, as ./run.sh builds it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/bin/AtualizadorBrevant
servidor=$build/bin/atualizador-servidor
for f in "$program" "$servidor"; do
  [ -x "$f" ] || { echo "demo: $f is missing; build first (./run.sh)" >&2; exit 1; }
done

demo=$(mktemp -d "${TMPDIR:-/tmp}/atualizador-demo.XXXXXX")
pacote=$demo/pacote
armazem=$demo/armazem
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
trap stop_server EXIT

# The package: what a release folder beside the updater looks like.
mkdir -p "$armazem"
scripts/arvore-demo.sh "$pacote"
cp "$program" "$pacote/AtualizadorBrevant"

"$servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" --log \
  >"$demo/porta" 2>"$demo/servidor.log" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$demo/porta" ] && break
  sleep 0.1
done
porta=$(head -n1 "$demo/porta" 2>/dev/null || true)
if [ -z "$porta" ]; then
  echo "demo: the update server did not start:" >&2
  cat "$demo/servidor.log" >&2
  exit 1
fi

caption="Atualizador Brevant - Demonstração"
echo "Update server on 127.0.0.1:$porta, store $armazem"
echo "Package folder $pacote"
# The six arguments: caption, address, port, system code, a non-test flag, the access code.
args=("$caption" 127.0.0.1 "$porta" 01 PRODUCAO 'Vr@ndoxT')

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo 'Press "Atualizar" to publish the package.'
  "$pacote/AtualizadorBrevant" "${args[@]}" || status=$?
else
  echo 'No display: the window opens on a virtual X server and "Atualizar" is pressed for you.'
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" scripts/click-atualizar.sh \
    "$armazem" "Demonstra" - -- "$pacote/AtualizadorBrevant" "${args[@]}" ||
    status=$?
fi
stop_server

echo
echo "The window closed (status $status). Files in the store ($armazem):"
(cd "$armazem" && find . -type f ! -name '.*' | sed 's|^\./|  |' | sort)
if [ -s "$armazem/.alertas.log" ]; then
  echo "Alerts received: $(tr '\n' ' ' <"$armazem/.alertas.log")"
fi
echo "Server log: $demo/servidor.log"
exit "$status"
