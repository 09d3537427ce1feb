#!/usr/bin/env bash
# The .deb that scripts/pacote.sh made in the release build folder: unpacked into a temporary
# root with dpkg-deb -x, its tree passes the installed tree's checks; its dependencies were
# computed from the shared libraries; the .tar.gz holds the same files; the manual page renders
# without warnings; lintian reports no error (its other findings are printed). Exits 77 (skipped)
# when the folder holds no .deb.
# Usage: deb.sh BUILD-RELEASE VERSION
set -euo pipefail
build=$1 versao=$2
shopt -s nullglob
debs=("$build"/atualizador-brevant_"$versao"_*.deb)
if ((${#debs[@]} != 1)); then
  echo "no package atualizador-brevant_${versao}_*.deb in $build: run scripts/pacote.sh first"
  exit 77
fi
deb=${debs[0]}
tgz=${deb%.deb}.tar.gz
for p in dpkg-deb lintian man; do
  command -v "$p" >/dev/null || { echo "$p is missing: scripts/install-deps.sh --pacote" >&2; exit 1; }
done
raiz=$(mktemp -d "${TMPDIR:-/tmp}/ab-deb.XXXXXX")
trap 'rm -rf "$raiz"' EXIT
falhas=0
falhar() {
  echo "FAILED: $*" >&2
  falhas=$((falhas + 1))
}

dpkg-deb -x "$deb" "$raiz/raiz"
"$(dirname "$0")/verificar.sh" "$raiz/raiz/usr" "$versao" || falhas=$((falhas + 1))

depende=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libjpeg62-turbo libssl3 zlib1g; do
  [[ $depende == *"$lib "* || $depende == *"$lib," || $depende == *"$lib" ]] ||
    falhar "Depends lacks $lib: $depende"
done

# The same files (and links) in the archive, under its top folder instead of usr/.
dpkg-deb -c "$deb" | awk '{print $6}' | sed -n 's|^\./usr/||p' | sed '/^$/d;s|/$||' | sort >"$raiz/deb"
tar -tzf "$tgz" | sed 's|^[^/]*/||' | sed '/^$/d;s|/$||' | sort >"$raiz/tgz"
diff "$raiz/deb" "$raiz/tgz" >"$raiz/diferenca" || falhar ".deb and .tar.gz differ: $(cat "$raiz/diferenca")"

avisos=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
  "$raiz/raiz/usr/share/man/man1/atualizador-brevant.1.gz" 2>&1 >/dev/null)
[ -z "$avisos" ] || falhar "the manual page renders with warnings: $avisos"

echo "lintian $(basename "$deb"):"
lintian --fail-on error --display-info "$deb" || falhar "lintian reports errors"

if ((falhas)); then
  echo "$falhas check(s) failed" >&2
  exit 1
fi
echo "$(basename "$deb"): checked"
