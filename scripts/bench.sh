#!/usr/bin/env bash
# Builds in Release mode into its own folder and runs the benchmark: one
# "figure NAME VALUE" line per figure, then a table. Extra arguments go to
# rigweave-bench (e.g. --quick, or MODEL.cfg names). Usage: bench.sh [ARGS...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RIGWEAVE_BENCH_BUILD:-$root/build-bench}"
"$root/scripts/install-deps.sh" --if-root >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRIGWEAVE_BENCH=ON \
  -DRIGWEAVE_TESTS=OFF -DRIGWEAVE_VIEWER=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target rigweave-bench rigweave sample_models >&2
exec "$build/bin/rigweave-bench" --root "$build" "$@"
