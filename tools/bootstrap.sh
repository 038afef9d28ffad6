#!/usr/bin/env bash
# From a fresh Debian 12 machine to a passing test run: installs what is missing, builds, tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
exec tools/test.sh
