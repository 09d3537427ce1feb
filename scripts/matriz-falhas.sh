#!/usr/bin/env bash
# A fault at every message of a publish: the program (without a window) publishes a small tree to
# the bundled server program, which closes the connection after message K (queda) or answers
# message K with an error (erro), for every K from 1 to the number of messages a clean publish
# makes. After each faulty run:
#   - the program ended within its deadlines with a documented status; 0 only when the store holds
#     the whole tree, the test marker is gone and the alert was sent (the run recovered);
#   - its summary tells what happened: into a store that held only the marker nothing is "atual",
#     and the files checked are those sent, removed and failed;
#   - the store holds no temporary file;
#   - a second run without faults exits 0 and leaves the store equal to the tree (names, bytes,
#     time stamps) with the alert sent;
#   - a third run sends nothing.
# Prints one line per case and a summary line; exits 1 when a case failed.
#
# Usage: scripts/matriz-falhas.sh [--build DIR] [--passo N] [--tipos "queda erro"] [--filtros]
#                                 [--opcoes "OPTIONS"]
#   --passo N   every Nth K only (1: all)
#   --filtros   the server announces compression, PC1 and RSA
#   --opcoes    further options for every run of the program, split at spaces
#               (e.g. --opcoes "--pedidos-em-curso 8")
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
passo=1
tipos="queda erro"
filtros=""
opcoes=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --passo) passo=$2; shift 2 ;;
    --tipos) tipos=$2; shift 2 ;;
    --filtros) filtros='{"ZLibCompression":{},"PC1":{},"RSA":{}}'; shift ;;
    --opcoes) read -r -a opcoes <<<"$2"; shift 2 ;;
    *) echo "matriz-falhas: unknown argument $1" >&2; exit 2 ;;
  esac
done
programa=$build/bin/AtualizadorBrevant
servidor=$build/bin/atualizador-servidor
for exe in "$programa" "$servidor"; do
  [ -x "$exe" ] || { echo "matriz-falhas: $exe is missing (build the default preset)" >&2; exit 2; }
done

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill -KILL "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/estado
pacote=$work/pacote
armazem=$work/armazem

# The tree: local path, then where the store keeps it.
arquivos=(
  "LeiaMe.txt|S01/LeiaMe.txt"
  "grande.bin|S01/grande.bin"
  "Scripts/Carga.sql|Scripts/S01/Carga.sql"
  "Arquivos/Rel/Vendas.rpt|Arquivos/S01/Rel/Vendas.rpt"
  "Padrao/Biblioteca.so|Padrao/Biblioteca.so"
  "Sub/Ação/é.txt|S01/Sub/Ação/é.txt"
  "Sub/vazio.txt|S01/Sub/vazio.txt"
)
marcador_local="Scripts/EM_TESTE.SQL"
marcador_armazem="Scripts/S01/EM_TESTE.SQL"

mkdir -p "$pacote"
cp "$programa" "$pacote/AtualizadorBrevant"
for par in "${arquivos[@]}"; do
  mkdir -p "$(dirname "$pacote/${par%%|*}")"
done
echo "leia-me" >"$pacote/LeiaMe.txt"
# Large enough for several segment pulls with 32 KB buffers.
head -c 300000 /dev/urandom >"$pacote/grande.bin"
echo "select 1;" >"$pacote/Scripts/Carga.sql"
head -c 5000 /dev/urandom >"$pacote/Arquivos/Rel/Vendas.rpt"
head -c 40000 /dev/urandom >"$pacote/Padrao/Biblioteca.so"
echo "acentos" >"$pacote/Sub/Ação/é.txt"
: >"$pacote/Sub/vazio.txt"
echo "marcador" >"$pacote/$marcador_local"
find "$pacote" -type f ! -name AtualizadorBrevant -exec touch -d '2024-03-01 10:00:00' {} +

. scripts/servidor-local.sh
# The server on the store, counting messages, with the filters when asked and extra options.
iniciar_servidor() {
  local args=(--raiz "$armazem" --contar-mensagens "$work/contagem")
  [ -n "$filtros" ] && args+=(--filtros "$filtros")
  iniciar_servidor_local "${args[@]}" "$@"
}

# Runs the program; sets status and leaves its output in $work/cliente.out.
publicar() {
  timeout 60 "$pacote/AtualizadorBrevant" Matriz 127.0.0.1 "$porta" 01 PRODUCAO 'Vr@ndoxT' \
    --sem-janela --json --tempo-conexao 5 --tempo-leitura 5 "${opcoes[@]}" \
    >"$work/cliente.out" 2>"$work/cliente.err"
  status=$?
}

alertas() {
  [ -f "$armazem/.alertas.log" ] && wc -l <"$armazem/.alertas.log" || echo 0
}

# Empty when the store holds the tree exactly (names, bytes, time stamps) and no marker; else
# what differs.
diferencas() {
  local par local_ guardado
  for par in "${arquivos[@]}"; do
    local_=$pacote/${par%%|*}
    guardado=$armazem/${par##*|}
    if [ ! -f "$guardado" ]; then
      echo "missing ${par##*|}"
    elif ! cmp -s "$local_" "$guardado"; then
      echo "bytes of ${par##*|}"
    elif [ "$(stat -c %Y "$local_")" != "$(stat -c %Y "$guardado")" ]; then
      echo "stamp of ${par##*|}"
    fi
  done
  [ -e "$armazem/$marcador_armazem" ] && echo "marker still there"
  local extra
  extra=$(cd "$armazem" && find . -type f ! -name '.alertas.log' | wc -l)
  [ "$extra" -ne "${#arquivos[@]}" ] && echo "$extra files in the store"
}

# Empty when the first run's summary adds up and reports nothing current (the store held only the
# marker); else what is wrong. A run that ended on an escaping error has a summary too.
contagens() {
  local linha v e a r f
  linha=$(grep '"evento":"resumo"' "$work/cliente.out" | tail -n1)
  [ -z "$linha" ] && return
  campo() { sed -n "s/.*\"$1\":\([0-9]*\).*/\1/p" <<<"$linha"; }
  v=$(campo verificados); e=$(campo enviados); a=$(campo atuais); r=$(campo removidos)
  f=$(campo falhas)
  [ "$a" -ne 0 ] && echo "$a files reported current in an empty store"
  [ "$v" -ne $((e + a + r + f)) ] && echo "summary does not add up: $v checked, $e sent, $a current, $r removed, $f failed"
}

temporarios() {
  find "$armazem" -name '.atualizador-tmp-*' | head -n1
}

# The clean publish: how many messages it takes.
rm -rf "$armazem"; mkdir -p "$armazem/Scripts/S01"; echo m >"$armazem/$marcador_armazem"
iniciar_servidor
publicar
parar_servidor_local
[ "$status" -eq 0 ] || { echo "matriz-falhas: the clean publish failed ($status)" >&2; cat "$work/cliente.err" >&2; exit 1; }
total=$(cat "$work/contagem")
echo "clean publish: $total messages${filtros:+, with filters}${opcoes[*]:+, options ${opcoes[*]}}"

casos=0
falhas=0
declare -A por_tipo_casos por_tipo_falhas
for tipo in $tipos; do
  opcao=--cair-na-mensagem
  [ "$tipo" = erro ] && opcao=--erro-na-mensagem
  por_tipo_casos[$tipo]=0
  por_tipo_falhas[$tipo]=0
  for k in $(seq 1 "$passo" "$total"); do
    problemas=()
    rm -rf "$armazem"; mkdir -p "$armazem/Scripts/S01"; echo m >"$armazem/$marcador_armazem"
    antes=$(alertas)
    iniciar_servidor "$opcao" "$k"
    inicio=$(date +%s%N)
    publicar
    parar_servidor_local
    primeiro=$status
    duracao_ms=$(( ($(date +%s%N) - inicio) / 1000000 ))
    case $primeiro in
      0)
        d=$(diferencas)
        [ -n "$d" ] && problemas+=("exit 0 with the store short: ${d//$'\n'/, }")
        [ "$(alertas)" -gt "$antes" ] || problemas+=("exit 0 without the alert")
        ;;
      2|3|5) ;;
      124) problemas+=("hung (stopped after 60 s)") ;;
      *) problemas+=("status $primeiro") ;;
    esac
    t=$(temporarios)
    [ -n "$t" ] && problemas+=("temporary file left: ${t#$armazem/}")
    c=$(contagens)
    [ -n "$c" ] && problemas+=("$c")

    antes=$(alertas)
    iniciar_servidor
    publicar
    segundo=$status
    [ "$segundo" -eq 0 ] || problemas+=("second run status $segundo: $(tail -n1 "$work/cliente.err")")
    d=$(diferencas)
    [ -n "$d" ] && problemas+=("after the second run: ${d//$'\n'/, }")
    [ "$(alertas)" -gt "$antes" ] || problemas+=("second run sent no alert")
    publicar
    grep -q '"evento":"resumo".*"enviados":0,' "$work/cliente.out" ||
      problemas+=("third run sent files (status $status)")
    parar_servidor_local

    casos=$((casos + 1))
    por_tipo_casos[$tipo]=$((por_tipo_casos[$tipo] + 1))
    if [ ${#problemas[@]} -eq 0 ]; then
      printf '%-5s K=%-3d ok    status %d  %d ms\n' "$tipo" "$k" "$primeiro" "$duracao_ms"
    else
      falhas=$((falhas + 1))
      por_tipo_falhas[$tipo]=$((por_tipo_falhas[$tipo] + 1))
      printf '%-5s K=%-3d FALHA status %d: %s\n' "$tipo" "$k" "$primeiro" "$(IFS='; '; echo "${problemas[*]}")"
    fi
  done
done

resumo="matriz: $casos casos, $falhas falhas, $total mensagens numa publicação limpa${filtros:+, com filtros}${opcoes[*]:+, opções ${opcoes[*]}}, passo $passo"
for tipo in $tipos; do
  resumo+=" ($tipo: ${por_tipo_falhas[$tipo]} de ${por_tipo_casos[$tipo]})"
done
echo "$resumo"
[ "$falhas" -eq 0 ]
