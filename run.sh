#!/usr/bin/env bash
# Main job. Without arguments: build, start the bundled update server on a free loopback port with a
# fresh store, assemble a demo package folder and open the window on that server.
# With six arguments: run the program from its build folder with those arguments.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
if [ "$#" -gt 0 ]; then
  exec ./build/bin/AtualizadorBrevant "$@"
fi
exec ./scripts/demo.sh
