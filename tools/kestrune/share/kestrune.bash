# bash completion for kestrune. Commands, options and what an option's value names are read from
# `kestrune [COMMAND] --help` of the program being completed, so they follow that very program.

# _kestrune_entries SECTION: the entries under "SECTION:" in $help, without their indent
_kestrune_entries() {
  sed -n "/^$1:\$/,/^\$/s/^  \([^ ]\)/\1/p" <<<"$help"
}

# _kestrune_value OPTION: sets value to the name of OPTION's value in $help ("FILE", "N:INT",
# "FORMAT:{a,b}"), or to nothing for a flag or an unknown option
_kestrune_value() {
  local entry names
  while IFS= read -r entry; do
    # CLI11 starts the text at column 30 (28 without the indent), or after a wider head on the next line
    read -r names value _ <<<"${entry:0:28}"
    if [[ ,$names, == *",$1,"* ]]; then
      [[ -n $value ]] && read -r _ value _ <<<"$entry"
      return
    fi
  done < <(_kestrune_entries Options)
  value=''
}

# _kestrune_reply VALUE: completes $cur as a value named VALUE
_kestrune_reply() {
  local choices=${1#*:\{}
  case $1 in
    *:\{*\}) mapfile -t COMPREPLY < <(compgen -W "${choices//[,\}]/ }" -- "$cur") ;;
    *DIR*) _kestrune_files -d ;;
    *FILE* | *PATH* | *INPUT* | *OUTPUT* | *.[[:alnum:]]*) _kestrune_files ;;
  esac
}

# _kestrune_files [-d]: completes $cur as a file name (a folder's with -d), through bash-completion
# when it is loaded (it also quotes and expands ~)
_kestrune_files() {
  if declare -F _filedir >/dev/null; then
    _filedir "$@"
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen "${1:--f}" -- "$cur")
}

_kestrune() {
  local program=${COMP_WORDS[0]/#\~\//$HOME/} cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local help commands command='' option='' value='' word
  help=$("$program" --help 2>/dev/null) || return 0
  commands=" $(_kestrune_entries Subcommands | cut -d' ' -f1 | tr '\n' ' ')"
  # The command is the first word that names one (the program's own options take no value).
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    if [[ $commands == *" $word "* ]]; then
      command=$word
      help=$("$program" "$command" --help 2>/dev/null) || return 0
      break
    fi
  done
  # "--option value", "--option=value" (readline splits the word at "=") and "--option=" itself
  if [[ $cur == = && $prev == -* ]]; then
    option=$prev cur=''
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    option=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $prev == -* ]]; then
    option=$prev
  fi
  [[ -n $option ]] && _kestrune_value "$option"
  if [[ -n $value ]]; then
    _kestrune_reply "$value"
  elif [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_kestrune_entries Options | cut -d' ' -f1 | tr , ' ')" -- "$cur")
  elif [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  else
    read -r _ value _ < <(_kestrune_entries Positionals)
    _kestrune_reply "$value"
  fi
}
complete -F _kestrune kestrune
