#!/usr/bin/env bash
# Writes the help texts of zelto, each of its subcommands and zelto-sim into docs/cli.md, between
# its two marker lines; help2man makes the manual pages of the same texts. With --check it only
# tells whether the file holds what it would write. With --h2m it writes the subcommands' texts as
# a section for help2man to include in zelto(1).
#   cli_help.sh [--check] ZELTO ZELTO_SIM CLI_MD
#   cli_help.sh --h2m ZELTO FILE
set -euo pipefail
check=0
subcommands() { "$1" --help | sed -n '/^Subcommands:/,/^$/{s/^  \([a-z]\+\) .*/\1/p}'; }
if [ "$1" = --h2m ]; then
    {
        echo '[SUBCOMMANDS]'
        for sub in $(subcommands "$2"); do
            printf '.SS "zelto %s"\n.nf\n' "$sub"
            # Lines that begin with a dot or a quote would be read as requests.
            (exec -a zelto "$2" "$sub" --help) | sed "s/^\([.']\)/\\\\\&\1/"
            echo '.fi'
        done
    } >"$3"
    exit 0
fi
[ "$1" = --check ] && { check=1; shift; }
zelto=$1 sim=$2 file=$3
begin='<!-- The help texts below are written by the build target docs from the programs. -->'
end='<!-- End of the help texts. -->'

# A program's help as it prints it when started by its name.
help() { # program, name, arguments...
    local program=$1 name=$2
    shift 2
    echo
    echo "### $name${*:+ $*} --help"
    echo
    echo '```text'
    (exec -a "$name" "$program" "$@" --help)
    echo '```'
}

texts() {
    help "$zelto" zelto
    for sub in $(subcommands "$zelto"); do
        help "$zelto" zelto "$sub"
    done
    help "$sim" zelto-sim
}

grep -qxF "$begin" "$file" && grep -qxF "$end" "$file" || { echo "$file has no marker lines"; exit 1; }
new=$(mktemp)
trap 'rm -f "$new"' EXIT
{
    sed -n "1,/^${begin//\//\\/}\$/p" "$file"
    texts
    sed -n "/^${end//\//\\/}\$/,\$p" "$file"
} >"$new"
if [ "$check" -eq 1 ]; then
    diff -u "$file" "$new" || { echo "$file is stale: cmake --build build --target docs"; exit 1; }
else
    cp "$new" "$file"
fi
