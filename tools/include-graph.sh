#!/usr/bin/env bash
# Which folders include which: every #include "..." of the tracked C and C++ sources (and resource
# scripts), resolved to the file it names in the tree, as "FROM -> TO (N includes)". Then checks
# that every arrow points down these layers:
#   0  boardlib (the portable core), sensor
#   1  boardlib/posix, boardlib/win32 (the platform components)
#   2  boardlib/com (the automation server)
#   3  sim
#   4  bindings, warmscope, cli
#   5  tests, bench, fuzz, examples, packaging: may include anything; nothing below includes them
# An include that names no tracked file (a generated header) is listed apart.
#   tools/include-graph.sh            the arrows, then the check; status 1 when one points up
#   tools/include-graph.sh --files    also each include that points up, file by file
set -euo pipefail
cd "$(dirname "$0")/.."
files_too=0
[ "${1:-}" = --files ] && files_too=1

git ls-files '*.h' '*.hpp' '*.c' '*.cpp' '*.rc' |
    while read -r f; do
        sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/p' "$f" |
            sed "s|^|$f\t|"
    done |
    awk -F'\t' -v files_too="$files_too" -v tracked="$(git ls-files)" '
    function folder(path) {
        if (path ~ /^boardlib\/(posix|win32|com)\//) { split(path, p, "/"); return p[1] "/" p[2] }
        split(path, p, "/")
        return p[1]
    }
    function rank(f) {
        if (f == "boardlib" || f == "sensor") return 0
        if (f == "boardlib/posix" || f == "boardlib/win32") return 1
        if (f == "boardlib/com") return 2
        if (f == "sim") return 3
        if (f == "bindings" || f == "warmscope" || f == "cli") return 4
        return 5
    }
    # The file an include names: beside the includer first, else the one tracked file whose path
    # ends with the name.
    function resolve(from, name,    dir, candidate, n, i, found) {
        dir = from
        sub(/[^\/]*$/, "", dir)
        candidate = dir name
        while (candidate ~ /[^\/]+\/\.\.\//) sub(/[^\/]+\/\.\.\//, "", candidate)
        if (candidate in known) return candidate
        found = ""
        for (i = 1; i <= count; ++i)
            if (all[i] == name || substr(all[i], length(all[i]) - length(name)) == "/" name) {
                if (found != "") return "?ambiguous"
                found = all[i]
            }
        return found
    }
    BEGIN {
        count = split(tracked, all, "\n")
        for (i = 1; i <= count; ++i) known[all[i]] = 1
    }
    {
        to = resolve($1, $2)
        if (to == "") { unresolved[folder($1) " includes " $2]++; next }
        if (to == "?ambiguous") { unresolved[folder($1) " includes " $2 " (more than one file)"]++; next }
        a = folder($1); b = folder(to)
        if (a == b) next
        arrows[a " -> " b]++
        if (rank(a) < 5 && rank(b) >= rank(a)) {
            up[a " -> " b] = 1
            if (files_too) upfiles[$1 " includes " to] = 1
        }
    }
    END {
        # Keys sort the sections: 1 arrows, 2 includes not in the tree, 3 arrows that point up.
        for (k in arrows) printf "1\t%s (%d)\n", k, arrows[k]
        for (k in unresolved) printf "2\t  %s\n", k
        for (k in up) printf "3\t  %s\n", k
        for (k in upfiles) printf "3\t  %s\n", k
    }' | sort -t$'\t' -k1,1 -k2,2 |
    awk -F'\t' '
    $1 == 2 && !said2 { print "\nNot in the tree (generated or external):"; said2 = 1 }
    $1 == 3 && !said3 { print "\nArrows that do not point down the layers:"; said3 = 1 }
    { print $2 }
    END {
        if (said3) exit 1
        print "\nEvery arrow points down the layers."
    }'
