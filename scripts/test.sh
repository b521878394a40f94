#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/build.sh" "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
