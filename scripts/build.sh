#!/usr/bin/env bash
# Configures and builds.
# Usage: build.sh [--install-deps] [--target NAME]... [BUILD_DIR] [cmake options...]
# Packages are installed when asked (--install-deps), or when run as root on
# a machine that lacks some; a plain build of a machine that has them needs
# no root. Without --target everything the configuration holds is built.
# RIGWEAVE_WERROR=ON in the environment makes warnings errors (CI sets it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deps=(--if-root)
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --install-deps) deps=(); shift ;;
    --target) targets+=(--target "$2"); shift 2 ;;
    *) break ;;
  esac
done
"$root/scripts/install-deps.sh" "${deps[@]}"
build="${1:-$root/build}"
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  ${RIGWEAVE_WERROR:+"-DRIGWEAVE_WERROR=$RIGWEAVE_WERROR"} "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
