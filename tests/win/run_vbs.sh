#!/usr/bin/env bash
# run_vbs.sh RUN_SH BITS SCRIPT.vbs: runs a VBScript under Wine's cscript, after the checks of
# expect.vbs and followed by the count of failures. Wine's cscript hides script errors and exits 0
# on them, so a script passes only when its last line reads "END 0 failed" and it ended through
# WScript.Quit 0.
set -uo pipefail
run=$1 bits=$2 script=$3
whole=$(mktemp --suffix=.vbs)
trap 'rm -f "$whole"' EXIT
cat "$(dirname "$0")/expect.vbs" "$script" >"$whole"
printf 'WScript.Echo "END " & failed & " failed"\nWScript.Quit failed\n' >>"$whole"
out=$("$run" "$bits" cscript //nologo "Z:${whole//\//\\}" 2>/dev/null | tr -d '\r')
rc=$?
printf '%s\n' "$out"
last=$(printf '%s\n' "$out" | tail -1)
if [ "$last" != "END 0 failed" ]; then
    echo "FAIL: the script did not reach its end cleanly (last line: '$last', exit $rc)"
    exit 1
fi
exit $rc
