#!/usr/bin/env bash
# Checks the manual page of sorvanta-query against the program: it names
# every subcommand and every long option that the program's --help texts
# list, and no option the program lacks; and groff reads it without a
# warning.
#   check_manual.sh MANUAL_PAGE SORVANTA_QUERY
set -euo pipefail
page=$1
program=$2
status=0

help=$("$program" --help)
subcommands=$(sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$help")
[ -n "$subcommands" ] || { echo "FAILED: no subcommands in sorvanta-query --help"; exit 1; }
options=$(for sub in "" $subcommands; do "$program" $sub --help; done |
          grep -E '^  -' | grep -oE -- '--[a-z][a-z-]*' | sort -u)

for sub in $subcommands; do
  grep -q "^\.B sorvanta-query $sub\$" "$page" || { echo "FAILED: the synopsis lacks $sub"; status=1; }
done
# In the page's source a hyphen is written \-.
documented=$(sed 's/\\-/-/g' "$page" | grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u)
missing=$(comm -23 <(echo "$options") <(echo "$documented"))
extra=$(comm -13 <(echo "$options") <(echo "$documented"))
[ -z "$missing" ] || { echo "FAILED: the page lacks" $missing; status=1; }
[ -z "$extra" ] || { echo "FAILED: the page names options the program lacks:" $extra; status=1; }

warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
[ -z "$warnings" ] || { echo "FAILED: groff says: $warnings"; status=1; }

[ $status -eq 0 ] && echo "the manual page names what sorvanta-query takes"
exit $status
