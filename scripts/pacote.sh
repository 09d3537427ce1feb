#!/usr/bin/env bash
# Makes the packages from the release preset (no debug information, programs stripped):
# build-release/atualizador-brevant_<version>_<arch>.deb, whose dependencies dpkg-shlibdeps
# computes from the shared libraries the programs load, and a .tar.gz of the same files. Prints
# their paths. Install the .deb with: apt-get install ./build-release/atualizador-brevant_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --pacote
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
rm -f build-release/atualizador-brevant_*.deb build-release/atualizador-brevant_*.tar.gz
cpack --preset release >build-release/cpack.log || {
  cat build-release/cpack.log >&2
  exit 1
}
for f in build-release/atualizador-brevant_*.deb build-release/atualizador-brevant_*.tar.gz; do
  realpath "$f"
done
