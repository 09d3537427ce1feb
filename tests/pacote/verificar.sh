#!/usr/bin/env bash
# Checks an installed tree: PREFIX/bin holds the program (and its lower-case link) and the bundled
# server; --version answers; the options of --help, of the manual page and of the bash completion
# are the same; the completion offers them only after the six arguments; no desktop menu entry; and
# the installed program publishes the demo tree with --pasta --sem-janela to the installed server,
# every file stored at its destination byte for byte, the top logo and the test marker kept home.
# The program needs no window library to start, and opens its window from the module it carries
# (offscreen), closing on SIGTERM.
# Usage: verificar.sh PREFIX VERSION
set -euo pipefail
prefix=$(cd "$1" && pwd) versao=$2
aqui=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$aqui/../../scripts" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ab-pacote.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
falhas=0
falhar() {
  echo "FAILED: $*" >&2
  falhas=$((falhas + 1))
}

programa=$prefix/bin/AtualizadorBrevant
manual=$prefix/share/man/man1/atualizador-brevant.1.gz
arquivo_completar=$prefix/share/bash-completion/completions/atualizador-brevant
for f in "$programa" "$prefix/bin/atualizador-servidor"; do
  [ -x "$f" ] && [ ! -L "$f" ] || falhar "$f is not an executable file"
done
[ "$(readlink "$prefix/bin/atualizador-brevant")" = AtualizadorBrevant ] ||
  falhar "bin/atualizador-brevant is not a link to AtualizadorBrevant"
for f in "$manual" "$prefix/share/man/man1/atualizador-servidor.1.gz" "$arquivo_completar" \
  "$prefix/share/doc/atualizador-brevant/copyright"; do
  [ -f "$f" ] || falhar "$f is missing"
done
[ -z "$(find "$prefix" -name '*.desktop')" ] || falhar "a desktop menu entry was installed"

# Through the lower-case link, as a user types it.
[ "$("$prefix/bin/atualizador-brevant" --version)" = "AtualizadorBrevant $versao" ] ||
  falhar "--version: $("$prefix/bin/atualizador-brevant" --version)"

# The window: no library of it is needed to start; the installed (stripped) program still carries
# its module, and no module file was installed beside it.
for lib in $(readelf -d "$programa" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  case $lib in libQt* | libjpeg*) falhar "the program needs $lib to start" ;; esac
done
[ -z "$(find "$prefix" -name '*.so*')" ] || falhar "a library was installed: $(find "$prefix" -name '*.so*')"
mkdir -p "$work/janela"
env -i -C "$work" PATH=/usr/bin:/bin HOME="$work" QT_QPA_PLATFORM=offscreen "$programa" Janela \
  127.0.0.1 1 01 PRODUCAO 'Vr@ndoxT' --pasta janela >"$work/janela.log" 2>&1 &
janela_pid=$!
for _ in $(seq 1 300); do
  grep -q libqoffscreen "/proc/$janela_pid/maps" 2>/dev/null && break
  kill -0 "$janela_pid" 2>/dev/null || break
  sleep 0.1
done
if grep -q -F /memfd:AtualizadorBrevant-janela "/proc/$janela_pid/maps" 2>/dev/null; then
  kill -TERM "$janela_pid"
  status=0
  wait "$janela_pid" || status=$?
  [ "$status" = 0 ] || falhar "the window closed on SIGTERM with status $status: $(cat "$work/janela.log")"
else
  kill -KILL "$janela_pid" 2>/dev/null || true
  wait "$janela_pid" 2>/dev/null || true
  falhar "the installed program's window did not open: $(cat "$work/janela.log")"
fi

# Options: --help lists each key as "  --chave" and --help/--version in its usage; the manual page
# has one entry (.TP then .B/.BI) per option.
ajuda=$("$programa" --help)
opcoes_ajuda=$( (sed -n 's/^  \(--[a-z-]*\).*/\1/p' <<<"$ajuda"
  grep -q -- '--help | --version' <<<"$ajuda" && printf '%s\n' --help --version) | sort)
opcoes_manual=$(zcat "$manual" | sed -n '/^\.TP/{n;s/^\.BI\{0,1\} \(\\-\\-[a-z\\-]*\).*/\1/p}' |
  sed 's/\\-/-/g' | sort)
[ -n "$opcoes_ajuda" ] && [ "$opcoes_ajuda" = "$opcoes_manual" ] ||
  falhar "--help and the manual page list different options:
$(diff <(echo "$opcoes_ajuda") <(echo "$opcoes_manual") || true)"

# The completion, for lines as a user types them.
completar() { "$aqui/completar.sh" "$arquivo_completar" "$1"; }
seis="atualizador-brevant 'Meu Sistema' 10.0.0.1 211 01 PRODUCAO Vr@ndoxT"
chaves=$(grep -v -e --help -e --version <<<"$opcoes_ajuda")
[ "$(completar "$seis --")" = "$chaves" ] ||
  falhar "after the six arguments the completion offers: $(completar "$seis --")"
[ "$(completar "$seis --json=")" = "$(printf '%s\n' nao sim)" ] ||
  falhar "--json= offers: $(completar "$seis --json=")"
[ "$(completar "atualizador-brevant --")" = "$(printf '%s\n' --help --historico --version)" ] ||
  falhar "the first argument's completion: $(completar "atualizador-brevant --")"
for antes in "atualizador-brevant T --" "${seis%ndoxT}" "$seis --conexoes "; do
  [ -z "$(completar "$antes")" ] || falhar "\"$antes\" got offers: $(completar "$antes")"
done

# A publish from the installed program: the demo tree, given with --pasta, to the installed server.
versao_dir=$work/versao
armazem=$work/armazem
"$scripts/arvore-demo.sh" "$versao_dir"
mkdir -p "$armazem" "$work/casa"
"$prefix/bin/atualizador-servidor" --porta 0 --endereco 127.0.0.1 --raiz "$armazem" \
  >"$work/porta" 2>"$work/servidor.log" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/porta" ] && break
  sleep 0.05
done
porta=$(head -n1 "$work/porta")
[ -n "$porta" ] || { cat "$work/servidor.log" >&2; falhar "the installed server printed no port"; exit 1; }
status=0
(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/casa" "$prefix/bin/atualizador-brevant" \
  Pacote 127.0.0.1 "$porta" 01 PRODUCAO 'Vr@ndoxT' --pasta versao/ --sem-janela \
  >"$work/saida" 2>"$work/erros") || status=$?
[ "$status" = 0 ] || falhar "the publish ended with status $status: $(cat "$work/erros")"
[ "$(head -n1 "$work/saida")" = "publicando $versao_dir em 127.0.0.1:$porta" ] ||
  falhar "first line: $(head -n1 "$work/saida")"
enviados=0
while IFS= read -r -d '' f; do
  relativo=${f#"$versao_dir"/}
  case $relativo in
    Logo.jpg | Scripts/EM_TESTE.SQL) destino="" ;;
    Scripts/*) destino=Scripts/S01/${relativo#Scripts/} ;;
    Arquivos/*) destino=Arquivos/S01/${relativo#Arquivos/} ;;
    Padrao/*) destino=$relativo ;;
    *) destino=S01/$relativo ;;
  esac
  if [ -z "$destino" ]; then
    [ -z "$(find "$armazem" -iname "$(basename "$relativo")")" ] || falhar "$relativo was published"
  elif cmp -s "$f" "$armazem/$destino"; then
    enviados=$((enviados + 1))
  else
    falhar "$relativo is not stored as $destino"
  fi
done < <(find "$versao_dir" -type f -print0)
[ "$enviados" = 6 ] || falhar "$enviados files of the demo tree stored, 6 expected"
[ "$(find "$armazem" -type f ! -name '.*' | wc -l)" = 6 ] || falhar "the store holds other files"

if ((falhas)); then
  echo "$falhas check(s) failed" >&2
  exit 1
fi
echo "installed tree at $prefix: files, --version, options, completion and a --pasta publish checked"
