#!/usr/bin/env bash
# Installs every Debian package the project needs, and only what is missing:
# the one list that the README, CI and the other scripts share.
# Usage: install-deps.sh [--if-root]
#   --if-root  install only when running as root; otherwise name what is
#              missing on standard error and go on, so that a build that has
#              what it needs runs without root.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config clang-format
  libcal3d12-dev                       # the character library
  libtinyxml2-dev                      # Cal3D's XML files
  libgtest-dev googletest              # tests
  libstb-dev                           # pictures: read, written and scaled
  zlib1g-dev                           # a PNG's pixel data measured before it is decoded
  libcli11-dev                         # command lines of the programs
  libtbb-dev                           # drawing a crowd on every core
  libgif-dev                           # the viewer's animated GIFs
  libegl-dev libegl-mesa0              # headless rendering through EGL
  libosmesa6-dev libgl-dev libsdl2-dev # headless and windowed rendering
  xvfb xauth xdotool                   # window tests without a display, clicks and keys sent
  clang libclang-rt-14-dev             # fuzzers and sanitizers
  valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" -ne 0 ]; then
  if [ "${1:-}" = "--if-root" ]; then
    echo "install-deps: not installed: ${missing[*]} (scripts/install-deps.sh as root installs them)" >&2
    exit 0
  fi
  echo "install-deps: installing ${missing[*]} needs root" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
