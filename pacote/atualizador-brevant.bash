# bash completion for atualizador-brevant and AtualizadorBrevant. The six positional arguments are
# the release process's own (caption, address, port, system, flag, access code): nothing is offered
# for them. After them come the options, the same as --help lists. As the first argument, --help,
# --version or --historico [N] [--registro ARQUIVO].

# The words up to the cursor as they were typed: bash splits a word also at '@', ':' and '=',
# which an access code, an address or "--chave=valor" hold. Sets `palavras`, and `parte`, the
# piece of the last word that a completion replaces (what follows the last word-break character).
_atualizador_brevant_palavras() {
    local linha=${COMP_LINE:0:COMP_POINT} i palavra brancos
    parte=$linha
    for ((i = ${#linha} - 1; i >= 0; i--)); do
        if [[ $COMP_WORDBREAKS == *"${linha:i:1}"* ]]; then
            parte=${linha:i+1}
            break
        fi
    done
    palavras=()
    for ((i = 0; i <= COMP_CWORD; i++)); do
        palavra=${COMP_WORDS[i]}
        brancos=${linha%%[![:blank:]]*}
        linha=${linha#"$brancos"}
        # The last word may run past the cursor.
        ((i == COMP_CWORD)) && palavra=${palavra:0:${#linha}}
        linha=${linha#"$palavra"}
        if ((i > 0)) && [[ -z $brancos ]]; then
            palavras[-1]+=$palavra
        else
            palavras+=("$palavra")
        fi
    done
}

_atualizador_brevant() {
    local palavras parte
    _atualizador_brevant_palavras
    local cword=$((${#palavras[@]} - 1))
    local cur=${palavras[cword]} prev=${palavras[cword - 1]}
    local sim_nao='--sem-janela --simular --json --continuar-em-falha --comandos-em-cache --conservador'
    local com_valor='--pasta --conexoes --pedidos-em-curso --buffer-kb --tempo-conexao --tempo-leitura --excluir --excluir-de'
    sim_nao+=' --historico'
    com_valor+=' --registro'
    com_valor+=' --limite-banda'
    local candidatos=()

    COMPREPLY=()
    if ((cword == 1)); then
        [[ $cur == -* ]] &&
            mapfile -t candidatos < <(compgen -W '--help --version --historico' -- "$cur")
    elif [[ ${palavras[1]} == --help || ${palavras[1]} == --version ]]; then
        return 0
    elif [[ ${palavras[1]} == --historico ]]; then
        # --historico [N] [--registro ARQUIVO]
        if [[ $prev == --registro ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t candidatos < <(compgen -f -- "$cur")
        elif [[ $cur == -* ]]; then
            mapfile -t candidatos < <(compgen -W '--registro' -- "$cur")
        fi
    elif ((cword <= 6)); then
        return 0
    elif [[ $prev == --registro ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -f -- "$cur")
    elif [[ $prev == --pasta ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -d -- "$cur")
    elif [[ $prev == --excluir-de ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -f -- "$cur")
    elif [[ " $com_valor " == *" $prev "* ]]; then
        return 0
    elif [[ $cur == --pasta=* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -P --pasta= -d -- "${cur#--pasta=}")
    elif [[ $cur == --excluir-de=* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -P --excluir-de= -f -- "${cur#--excluir-de=}")
    elif [[ $cur == --registro=* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -P --registro= -f -- "${cur#--registro=}")
    elif [[ $cur == --*=* ]]; then
        [[ " $sim_nao " == *" ${cur%%=*} "* ]] &&
            mapfile -t candidatos < <(compgen -P "${cur%%=*}=" -W 'sim nao' -- "${cur#*=}")
    else
        mapfile -t candidatos < <(compgen -W "$sim_nao $com_valor" -- "$cur")
    fi
    # bash replaces only its own piece of the word.
    local prefixo=${cur%"$parte"} c
    for c in "${candidatos[@]}"; do
        COMPREPLY+=("${c#"$prefixo"}")
    done
    return 0
}
complete -F _atualizador_brevant atualizador-brevant AtualizadorBrevant
