#!/usr/bin/env bash
# Installs every Debian package the project needs, and only what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config clang-format
  libcal3d12-dev                       # the character library
  libtinyxml2-dev                      # Cal3D's XML files
  libgtest-dev googletest              # tests
  libpng-dev                           # viewer images
  libstb-dev                           # pictures read by the texture converter and importer
  libcli11-dev                         # command lines of the programs
  libegl-dev libegl-mesa0              # headless rendering through EGL
  libosmesa6-dev libgl-dev libsdl2-dev # headless and windowed rendering
  xvfb xauth                           # window tests without a display
  clang libclang-rt-14-dev             # fuzzers and sanitizers
  valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
