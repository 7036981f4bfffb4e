#!/usr/bin/env bash
# Checks the bash completion of sorvanta-query against the program itself:
# the subcommands, and each subcommand's options and the values of those
# that take one of a set, as its --help prints them, both ways; and that
# FILE is completed with PDBs (and images, for symbolize) and folders.
#   check_completion.sh COMPLETION_FILE SORVANTA_QUERY
set -euo pipefail
completion=$1
program=$2

source "$completion"
function=$(complete -p sorvanta-query 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p' || true)
[ -n "$function" ] || { echo "FAILED: $completion registers no function for sorvanta-query"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# The words offered, sorted, on the line "sorvanta-query ARGS...", the
# last argument being the word under the cursor.
offered() {
  COMP_WORDS=(sorvanta-query "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  local options
  options=$(shopt -p)
  "$function" sorvanta-query "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>"$work/errors" || true
  # A message would land in the middle of the user's command line.
  if [ -s "$work/errors" ]; then echo "error: $(cat "$work/errors")"; fi
  # Nor may it change the user's shell options.
  [ "$(shopt -p)" = "$options" ] || echo "error: the shell options changed"
  if [ ${#COMPREPLY[@]} -gt 0 ]; then printf '%s\n' "${COMPREPLY[@]}" | sort; fi
}
# Fails the test when the completion ($2) and the program ($3) differ.
same() {
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1"
    diff <(echo "$3") <(echo "$2") | sed -n 's/^< /  the program has:     /p; s/^> /  the completion has:  /p' || true
    status=1
  fi
}
# The options an --help text lists, e.g. "-h", "--help", "--format".
options_of() { grep -E '^  -' | awk '{print $1}' | tr ',' '\n' | sort; }

help=$("$program" --help)
same "top-level options" "$(offered -)" "$(options_of <<<"$help")"
subcommands=$(sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$help" | sort)
[ -n "$subcommands" ] || { echo "FAILED: no subcommands in sorvanta-query --help"; exit 1; }
same "subcommands" "$(offered '')" "$subcommands"

for sub in $subcommands; do
  help=$("$program" "$sub" --help)
  same "options of $sub" "$(offered "$sub" -)" "$(options_of <<<"$help")"
  # Options that take one of a set print it: "--format TEXT:{tsv,json}".
  while read -r option values; do
    same "values of $sub $option" "$(offered "$sub" x.pdb "$option" '')" "$(tr ',' '\n' <<<"$values" | sort)"
  done < <(sed -n 's/^  \(--[a-z-]*\) [A-Z]*:{\([^}]*\)}.*/\1 \2/p' <<<"$help")
done

# FILE: PDBs and folders; images too for symbolize.
files=$work/files
mkdir -p "$files/store"
touch "$files/app.pdb" "$files/APP.DLL" "$files/app.exe" "$files/drv.sys" "$files/addon.node" "$files/notes.txt"
same "FILE of list" "$(offered list "$files/")" "$(printf '%s\n' "$files/app.pdb" "$files/store" | sort)"
same "FILE of symbolize" "$(offered symbolize "$files/")" \
  "$(printf '%s\n' "$files"/{app.pdb,APP.DLL,app.exe,drv.sys,addon.node,store} | sort)"
same "--symbol-path" "$(offered symbolize --symbol-path "$files/")" "$files/store"

[ $status -eq 0 ] && echo "the completion offers what sorvanta-query takes"
exit $status
