#!/usr/bin/env bash
# Runs the program's bash completion as bash would for LINE, the cursor at its end, and prints
# what it offers, sorted. The words are split as bash splits them: at blanks outside single quotes,
# and around the word-break characters '@', '=' and ':', each of which makes a word of its own.
# Usage: completar.sh COMPLETION_FILE LINE
source "$1"
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
COMP_WORDS=()
palavra="" aspas=0
for ((i = 0; i < ${#COMP_LINE}; i++)); do
  c=${COMP_LINE:i:1}
  if ((aspas)); then
    palavra+=$c
    [[ $c == "'" ]] && aspas=0
    continue
  fi
  case $c in
    "'") palavra+=$c aspas=1 ;;
    ' ')
      [[ -n $palavra ]] && COMP_WORDS+=("$palavra")
      palavra=""
      ;;
    [@=:])
      [[ -n $palavra ]] && COMP_WORDS+=("$palavra")
      COMP_WORDS+=("$c")
      palavra=""
      ;;
    *) palavra+=$c ;;
  esac
done
if [[ -n $palavra ]]; then
  COMP_WORDS+=("$palavra")
elif [[ $COMP_LINE == *' ' ]]; then
  COMP_WORDS+=("")
fi
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_atualizador_brevant
printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
