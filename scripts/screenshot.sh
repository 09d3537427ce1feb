#!/usr/bin/env bash
# Takes the documentation pictures of the main window under a virtual X server:
# docs/janela.png (server page), docs/janela-progresso.png (progress list),
# docs/janela-andamento.png (the same during a run), docs/janela-teste.png (a test build), and the
# demo logo docs/Logo.jpg. Usage: scripts/screenshot.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
if [ ! -d "$build" ]; then
  cmake --preset default -B "$build" >/dev/null
fi
cmake --build "$build" --target gui_screenshot -j 2
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$build/bin/gui_screenshot" docs
