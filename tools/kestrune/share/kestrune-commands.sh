#!/bin/bash
# Usage: kestrune-commands.sh KESTRUNE OUT
# Writes the COMMANDS section of kestrune(1) for help2man --include: a subsection for each command
# that `kestrune --help` lists, holding that command's --help as printed, escaped for roff.
set -eo pipefail
kestrune=$1
commands=$("$kestrune" --help | sed -n '/^Subcommands:$/,/^$/s/^  \([^ ]*\).*/\1/p')
[[ -n $commands ]] || { echo "$kestrune --help lists no commands" >&2; exit 1; }
{
  # left-aligned and unhyphenated, or the spaces that line up the option texts would stretch
  printf '[COMMANDS]\n.ad l\n.nh\n'
  for command in $commands; do
    printf '.SS %s\n' "$command"
    # Each line of --help stays a line; an indented one (an option, an example) continues wrapped
    # lines at column 30, where CLI11 starts the option texts.
    "$kestrune" "$command" --help | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\&&/" \
      -e '/^ /!s/$/\n.br/' -e 's/^ .*/.in +30n\n.ti -30n\n&\n.in/'
  done
} >"$2"
