#!/usr/bin/env bash
# The loop to run before each commit: the dev tree (native Debug with the address and undefined
# behaviour sanitizers) built incrementally, its unit and end-to-end tests (no packaging, Wine or
# window), each test program run once for all its tests, and clang-format over the C++ files
# changed since HEAD. The full run is tools/bootstrap.sh.
#   tools/check.sh            as a pre-commit hook: ln -s ../../tools/check.sh .git/hooks/pre-commit
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
start=$SECONDS
status=0

[ -f build/build.ninja ] || cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)"
python3 tools/lib/grouped_tests.py build 'unit|e2e' 'packaging|wine|gui' || status=1

mapfile -t changed < <({ git diff --name-only HEAD; git ls-files --others --exclude-standard; } |
    grep -E '\.(cpp|h)$' | sort -u)
existing=()
for f in "${changed[@]}"; do [ -f "$f" ] && existing+=("$f"); done
if [ ${#existing[@]} -gt 0 ] && ! clang-format --dry-run -Werror "${existing[@]}"; then
    echo "check: clang-format would change the files above (clang-format -i FILE)"
    status=1
fi
echo "check: $([ $status -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $status
