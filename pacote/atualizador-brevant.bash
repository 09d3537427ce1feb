# bash completion for atualizador-brevant and AtualizadorBrevant. The six positional arguments are
# the release process's own (caption, address, port, system, flag, access code): nothing is offered
# for them. After them come the options, the same as --help lists.

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
    local com_valor='--pasta --conexoes --pedidos-em-curso --buffer-kb --tempo-conexao --tempo-leitura --limite-banda'
    local candidatos=()

    COMPREPLY=()
    if ((cword == 1)); then
        [[ $cur == -* ]] && mapfile -t candidatos < <(compgen -W '--help --version' -- "$cur")
    elif [[ ${palavras[1]} == --help || ${palavras[1]} == --version ]] || ((cword <= 6)); then
        return 0
    elif [[ $prev == --pasta ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -d -- "$cur")
    elif [[ " $com_valor " == *" $prev "* ]]; then
        return 0
    elif [[ $cur == --pasta=* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t candidatos < <(compgen -P --pasta= -d -- "${cur#--pasta=}")
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
