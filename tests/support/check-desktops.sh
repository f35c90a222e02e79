#!/usr/bin/env bash
# check-desktops.sh: the list of test desktops (tests/support/desktops) agrees with its starter
# (desktop.sh) and with the README's table of desktops. Prints what disagrees; fails if anything
# does.
#
# Usage: tests/support/check-desktops.sh [ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
list=$root/tests/support/desktops
faults=0
fault() { echo "check-desktops: $*" >&2; faults=$((faults + 1)); }

mapfile -t names < <(awk '!/^#/ && NF { print $1 }' "$list")
[ ${#names[@]} -gt 0 ] || fault "no desktops in $list"
suite_of() { awk -v n="$1" '!/^#/ && $1 == n { print $2 }' "$list"; }

# Every desktop has its arm in the starter.
for name in "${names[@]}"; do
    grep -Eq "^(.*\|)?$name(\|.*)?\)$" "$root/tests/support/desktop.sh" \
        || fault "desktop.sh has no way to start $name"
done

# The README's table: its first column names the desktops, in the list's order; a row is out of
# the suite exactly when all its desktops are.
rows=$(awk '/^\| Desktop \|/ { on = 1; next } on && /^\|/ { print; next } on { exit }' \
    "$root/README.md" | tail -n +2)
[ -n "$rows" ] || fault "README.md has no table of desktops"
readme_names=()
while IFS= read -r row; do
    first=$(echo "$row" | awk -F'|' '{ print $2 }')
    last=$(echo "$row" | awk -F'|' '{ print $(NF - 1) }' | sed 's/^ *//; s/ *$//')
    mapfile -t row_names < <(echo "$first" | grep -o '`[^`]*`' | tr -d '`')
    out=0
    for name in "${row_names[@]}"; do
        readme_names+=("$name")
        [ "$(suite_of "$name")" = - ] && out=$((out + 1))
    done
    if [ "$out" -eq "${#row_names[@]}" ] && [ "$last" != "not in the suite" ]; then
        fault "README.md says ${row_names[*]} runs in the suite: \"$last\""
    elif [ "$out" -ne "${#row_names[@]}" ] && [ "$last" = "not in the suite" ]; then
        fault "README.md says ${row_names[*]} is not in the suite"
    fi
done <<< "$rows"
if [ "${readme_names[*]}" != "${names[*]}" ]; then
    fault "README.md's desktops (${readme_names[*]}) are not the list's (${names[*]})"
fi

[ "$faults" -eq 0 ]
