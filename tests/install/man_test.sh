#!/bin/sh
# The manual pages: every command, option and environment variable that the
# programs' usage texts name is in the program's page, so the pages keep up
# as the programs grow; groff and mandoc find nothing to report.
#   tests/install/man_test.sh <man page directory> <program>...
set -u
man_dir=$1
shift
export LC_ALL=C
failed=0
missing() {
    echo "$1: $2 is in the usage text but not in the manual page"
    failed=1
}
for program in "$@"; do
    name=$(basename "$program" .exe)
    page="$man_dir/$name.1"
    [ -f "$page" ] || { echo "$page missing"; exit 1; }
    # The page's source with the escapes of the minus sign and the font
    # changes removed, the arguments of the alternating-font macros joined:
    # "\-\-json" reads "--json", ".BI TEILIMP_DRIVE_ L" "TEILIMP_DRIVE_L".
    text=$(sed -E -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' \
        -e '/^\.(BI|BR|IB|IR|RB|RI) /{s/^\.[BIR]{2} //;s/[" ]//g;}' "$page")
    # Whatever the program's exit status: older programs show the usage
    # text with status 2, on either stream.
    usage=$("$program" --help 2>&1)
    words=$(printf '%s\n' "$usage" | tr '[]|(),' '      ' | tr -s ' \t' '\n\n')
    options=$(printf '%s\n' "$words" | grep -xE '/[A-Za-z][A-Za-z0-9]?|--?[A-Za-z][A-Za-z0-9-]*' | sort -u)
    # Commands: the word after the program's own name at the start of a line.
    commands=$(printf '%s\n' "$usage" | awk -v n="$name" 'tolower($1) == n && $2 ~ /^[a-z][a-z-]*$/ { print $2 }' | sort -u)
    variables=$(printf '%s\n' "$usage" | grep -oE 'TEILIMP_[A-Z0-9_]*[A-Z0-9]' | sort -u)
    if [ -z "$options$commands" ]; then
        echo "$name --help: no option or command found in:"
        printf '%s\n' "$usage"
        failed=1
        continue
    fi
    for o in $options; do
        printf '%s\n' "$text" | grep -qwF -e "$o" || missing "$name" "option $o"
    done
    for c in $commands; do
        printf '%s\n' "$text" | grep -qE "^\.B ($name )?$c( |\$)" || missing "$name" "command $c"
    done
    for v in $variables; do
        printf '%s\n' "$text" | grep -qF -e "$v" || missing "$name" "variable $v"
    done
    echo "$name: $(echo $options $commands $variables | wc -w) names of the usage text in $page"

    if command -v groff >/dev/null 2>&1; then
        out=$(groff -man -ww -z "$page" 2>&1)
        [ -z "$out" ] || { echo "groff -man -ww -z $page:"; echo "$out"; failed=1; }
    else
        echo "groff not installed: $page not checked with it"
    fi
    if command -v mandoc >/dev/null 2>&1; then
        out=$(mandoc -Tlint "$page" 2>&1)
        [ -z "$out" ] || { echo "mandoc -Tlint $page:"; echo "$out"; failed=1; }
    else
        echo "mandoc not installed: $page not checked with it"
    fi
done
exit $failed
