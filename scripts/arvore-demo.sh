#!/usr/bin/env bash
# Writes the demo's release folder into FOLDER (created when missing): Logo.jpg, a top-level
# LeiaMe.txt, Scripts/ (an update script and the test marker EM_TESTE.SQL), Arquivos/Relatorios/
# (a report and a 2 MB file) and Padrao/ files. The program is not part of it.
# Usage: scripts/arvore-demo.sh FOLDER
set -euo pipefail
pacote=$1
docs=$(cd "$(dirname "$0")/../docs" && pwd)
mkdir -p "$pacote/Scripts" "$pacote/Arquivos/Relatorios" "$pacote/Padrao"
cp "$docs/Logo.jpg" "$pacote/Logo.jpg"
cat >"$pacote/LeiaMe.txt" <<'TEXT'
Sistema de demonstração, versão 2.4.1.
Os arquivos desta pasta vão para o servidor de atualização.
TEXT
cat >"$pacote/Scripts/Atualiza_2.4.1.sql" <<'TEXT'
alter table clientes add column email varchar(120);
update parametros set versao = '2.4.1';
TEXT
printf 'select 1;\n' >"$pacote/Scripts/EM_TESTE.SQL"
printf 'Relatório de vendas por mês\n' >"$pacote/Arquivos/Relatorios/Vendas.rpt"
head -c 2000000 /dev/urandom >"$pacote/Arquivos/Relatorios/Imagens.dat"
printf 'padrão\n' >"$pacote/Padrao/Configuracao.ini"
head -c 65536 /dev/urandom >"$pacote/Padrao/Biblioteca.so"
