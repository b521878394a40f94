#!/usr/bin/env bash
# Sets up, builds and runs the main job.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/build.sh" "$build"
cd "$build/bin"
./rigweave-probe ./rigweave.so crystalspace.mesh.object.rigweave
