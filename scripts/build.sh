#!/usr/bin/env bash
# Configures and builds. Usage: build.sh [--install-deps] [BUILD_DIR] [cmake options...]
# Packages are installed when asked (--install-deps), or when run as root on
# a machine that lacks some; a plain build of a machine that has them needs
# no root.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" = "--install-deps" ]; then
  shift
  "$root/scripts/install-deps.sh"
else
  "$root/scripts/install-deps.sh" --if-root
fi
build="${1:-$root/build}"
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
