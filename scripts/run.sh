#!/usr/bin/env bash
# Sets up, builds and runs the main job: the walking sample character,
# rendered off-screen into out/ (24 frames of 320x240 and a contact sheet),
# then the viewer's summary. Extra arguments go to rigweave-view, e.g.
#   ./scripts/run.sh --crowd 100
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/build.sh" "$build"
"$build/bin/rigweave-view" --root "$build" --cycle walk --frames 24 --size 320x240 \
  --out "$root/out" "$@"
