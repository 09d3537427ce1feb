#!/usr/bin/env bash
# `cmake --install` of a build folder into a temporary prefix, then the installed tree's checks.
# Usage: instalacao.sh BUILD VERSION
set -euo pipefail
build=$1 versao=$2
prefixo=$(mktemp -d "${TMPDIR:-/tmp}/ab-instalado.XXXXXX")
trap 'rm -rf "$prefixo"' EXIT
cmake --install "$build" --prefix "$prefixo" >/dev/null
"$(dirname "$0")/verificar.sh" "$prefixo" "$versao"
