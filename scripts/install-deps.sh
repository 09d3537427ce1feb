#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need; skips apt when all are present.
# With --pacote, also what making and checking the .deb needs (scripts/pacote.sh); with --bench,
# what the benchmarks compare against (rsync, for bench/wan.sh and bench/janela-10k.sh).
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev pkg-config
  zlib1g-dev libssl-dev openssl libjpeg62-turbo-dev
  qt6-base-dev libgl-dev
  xvfb xauth xdotool time
)
for extra in "$@"; do
  case $extra in
    --pacote) packages+=(dpkg-dev lintian man-db) ;;
    --bench) packages+=(rsync) ;;
    *) echo "install-deps: unknown argument $extra" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
