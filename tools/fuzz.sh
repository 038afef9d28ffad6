#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer, in the
# tree build-fuzz of tools/lib/trees.sh) and runs each for a bounded time. Exits non-zero, naming the input that failed, when a
# target crashes, hangs, breaks one of its rules or trips a sanitizer.
#   tools/fuzz.sh [seconds per target, default 60] [target ...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
. tools/lib/trees.sh
dir=$(zelto_tree_dir fuzz)
if ! log=$(zelto_tree fuzz 2>&1); then
  echo "$log"
  echo "fuzz: the build FAILED, no target ran"
  exit 1
fi
[ $# -gt 0 ] || set -- fuzz_variant fuzz_board
# The targets run side by side, one core each.
run() { # target
  local corpus="$dir/corpus/$1"
  mkdir -p "$corpus" "$dir/crashes"
  # -timeout: one input running longer than this is a hang.
  "$dir/$1" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/crashes/$1-" -print_final_stats=1 >"$dir/$1.log" 2>&1
}
pids=()
for target in "$@"; do
  run "$target" &
  pids+=($!)
done
status=0
ok=0
bad=0
i=0
for target in "$@"; do
  if wait "${pids[$i]}"; then
    echo "fuzz $target: ${seconds}s, $(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$dir/$target.log" | grep -Eo '[0-9]+$') runs, no failure"
    ok=$((ok + 1))
  else
    echo "fuzz $target: FAILED; the input is in $dir/crashes/ and the log in $dir/$target.log"
    tail -40 "$dir/$target.log"
    bad=$((bad + 1))
    status=1
  fi
  i=$((i + 1))
done
echo "fuzz: $ok targets ran without failure, $bad failed"
exit "$status"
