#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers, in build-bench) and runs them. Not part of the
# test run. Every figure is a ratio against a baseline measured in the same run; see bench/.
#   tools/bench.sh [roundtrip|reply-wait|cts-wait|pacing ...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${ZELTO_BENCH_DIR:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_SANITIZE=OFF -DZELTO_TESTS=OFF \
  -DZELTO_BENCH=ON >/dev/null
if ! log=$(cmake --build "$dir" -j2 --target zelto-bench 2>&1); then
  echo "$log"
  exit 1
fi
bench="$dir/bench/zelto-bench"
preload="$dir/bench/modemlines/libzeltomodemlines.so"
[ $# -gt 0 ] || set -- roundtrip reply-wait cts-wait pacing
status=0
for what in "$@"; do
  if [ "$what" = cts-wait ]; then
    LD_PRELOAD="$preload" "$bench" "$what" || status=1
  else
    "$bench" "$what" || status=1
  fi
done
exit "$status"
