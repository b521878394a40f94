#!/usr/bin/env bash
# Sets up, builds and runs the main job: the walking sample character,
# rendered off-screen into out/ (24 frames of 320x240 and a contact sheet),
# then the viewer's summary. Extra arguments go to rigweave-view, e.g.
#   ./scripts/run.sh --crowd 100
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
# The viewer alone, with the module and the sample it draws: no test,
# fuzzer or benchmark is built on the way to the first picture.
"$root/scripts/build.sh" --target rigweave-view "$build"
"$build/bin/rigweave-view" --root "$build" --cycle walk --frames 24 --size 320x240 \
  --out "$root/out" "$@"
