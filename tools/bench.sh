#!/usr/bin/env bash
# Builds the benchmarks (in the release tree, build-release; tools/lib/trees.sh) and runs them. Not
# part of the test run. Every figure is a ratio against a baseline measured in the same run; see bench/.
#   tools/bench.sh [roundtrip|com-roundtrip|reply-wait|cts-wait|pacing|wine-waits|network ...]
#   tools/bench.sh --build-only     builds the benchmarks and runs none
# com-roundtrip and wine-waits run the automation server under Wine, from the 64-bit Windows tree
# (build-win64), with the DLL registered in its prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib/trees.sh
dir=$(zelto_tree_dir release)
build_only=0
[ "${1:-}" = --build-only ] && { build_only=1; shift; }
if ! log=$(zelto_tree release zelto-bench 2>&1); then
  echo "$log"
  exit 1
fi
bench="$dir/bench/zelto-bench"
if [ "$build_only" -eq 1 ]; then
  echo "built $bench"
  exit 0
fi
preload=$(realpath -m "$dir/sim/modemlines/libzeltomodemlines.so")
[ $# -gt 0 ] || set -- roundtrip com-roundtrip reply-wait cts-wait pacing network
status=0
for what in "$@"; do
  if [ "$what" = com-roundtrip ] || [ "$what" = wine-waits ]; then
    win=$(zelto_tree_dir win64)
    if ! log=$(zelto_tree win64 OstrelZeltoDLL zelto-com-roundtrip zelto-wait-bench 2>&1); then
      echo "$log"
      exit 1
    fi
    tools/wine/server.sh start "$win" 30
    trap 'tools/wine/server.sh stop "$win"' EXIT
    WINEPREFIX="$win/wine-prefix" tools/wine/run.sh 64 regsvr32 /s \
      "$(zelto_win_path "$win/bin/OstrelZeltoDLL.dll")"
    if [ "$what" = wine-waits ]; then
      LD_PRELOAD="$preload" WINEPREFIX="$win/wine-prefix" ZELTO_COM_LINK="$win/wine-ports/com1" \
        ZELTO_WAIT_CLIENT="$PWD/tools/wine/run.sh 64 $win/bin/zelto-wait-bench.exe" \
        "$bench" "$what" || status=1
    else
      WINEPREFIX="$win/wine-prefix" ZELTO_COM_LINK="$win/wine-ports/com1" \
        ZELTO_COM_CLIENT="$PWD/tools/wine/run.sh 64 $win/bin/zelto-com-roundtrip.exe" \
        "$bench" "$what" || status=1
    fi
  elif [ "$what" = cts-wait ]; then
    LD_PRELOAD="$preload" "$bench" "$what" || status=1
  else
    "$bench" "$what" || status=1
  fi
done
exit "$status"
