#!/usr/bin/env bash
# The program and its window module as built: the program needs no window library (no Qt, no
# libjpeg) while the module does; and the module carries no copy of the engine: no symbol is
# defined, other than weakly, in both (two copies would mean two of every global, such as the flag
# of the server's kind).
# Usage: modulo.sh PROGRAM MODULE
set -euo pipefail
programa=$1 modulo=$2
falhas=0
falhar() {
  echo "FAILED: $*" >&2
  falhas=$((falhas + 1))
}

precisa() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
for lib in $(precisa "$programa"); do
  case $lib in
    libQt* | libjpeg*) falhar "the program needs $lib" ;;
  esac
done
grep -q '^libQt6Widgets' <<<"$(precisa "$modulo")" || falhar "the module does not need libQt6Widgets"

# Strong definitions (text, data, bss, read-only) among the dynamic symbols; the linker's own
# section marks are in every object.
fortes() {
  nm -D --defined-only "$1" | awk '$2 ~ /^[TDBR]$/ {print $3}' |
    grep -v -x -e __bss_start -e _edata -e _end | sort
}
fortes "$programa" >"${TMPDIR:-/tmp}/ab-modulo-programa.$$"
duplos=$(fortes "$modulo" | comm -12 - "${TMPDIR:-/tmp}/ab-modulo-programa.$$")
rm -f "${TMPDIR:-/tmp}/ab-modulo-programa.$$"
[ -z "$duplos" ] || falhar "defined in both the program and the module:
$(c++filt <<<"$duplos" | head -n 20)"
# The module's engine references are left to the program.
grep -q ' _ZN2ab' <<<"$(nm -D --undefined-only "$modulo")" ||
  falhar "the module leaves no engine symbol to the program"

if ((falhas)); then
  exit 1
fi
echo "the program needs no window library; the module holds no copy of the engine"
