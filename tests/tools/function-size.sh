#!/usr/bin/env bash
# function-size.sh FOLDER [MAX_COMPLEXITY MAX_LINES]: fails, naming them, when a C++ function in
# FOLDER (recursively) is more complex than MAX_COMPLEXITY (pmccabe's modified cyclomatic
# complexity, default 15) or longer than MAX_LINES (default 60): a function that does one thing
# fits on a screen.
set -euo pipefail
folder=$1
most_complex=${2:-15}
most_lines=${3:-60}
command -v pmccabe > /dev/null || { echo "pmccabe is not installed (scripts/setup-debian.sh installs it)" >&2; exit 1; }

# pmccabe 2.8 mistakes a member function declared 'override' for a nested scope and then measures
# the wrong bodies, so the keyword is taken out of a copy first; its line numbers stay the same.
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
mapfile -t sources < <(cd "$folder" && find . -name '*.cpp' -o -name '*.h' | sort)
for source in "${sources[@]}"; do
  mkdir -p "$copy/$(dirname "$source")"
  sed -E 's/\<override\>//g' "$folder/$source" > "$copy/$source"
done

# Columns: modified complexity, traditional complexity, statements, first line, lines, name.
measured=$(cd "$copy" && pmccabe "${sources[@]}" 2>&1 > "$copy/.figures") || true
if [ -n "$measured" ] || [ ! -s "$copy/.figures" ]; then
  echo "pmccabe could not follow the code, so its figures cannot be trusted:" >&2
  echo "$measured" >&2
  exit 1
fi
over=$(awk -F'\t' -v complex="$most_complex" -v lines="$most_lines" \
  '$1 > complex || $5 > lines { printf "  complexity %s, %s lines: %s\n", $1, $5, $6 }' "$copy/.figures")
count=$(wc -l < "$copy/.figures")
if [ -n "$over" ]; then
  echo "functions in $folder above complexity $most_complex or $most_lines lines; split them:" >&2
  echo "$over" >&2
  exit 1
fi
echo "$count functions in $folder, none above complexity $most_complex or $most_lines lines"
