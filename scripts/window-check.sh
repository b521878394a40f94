#!/usr/bin/env bash
# Opens the viewer's window under a virtual X display for ten frames, takes
# a screenshot of the last one and checks that it shows a character, not
# just the background. Usage: window-check.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ ! -x "$build/bin/rigweave-view" ] || [ ! -x "$build/bin/rigweave-raw" ]; then
  "$root/scripts/build.sh" "$build"
fi
if ! command -v xvfb-run >/dev/null; then
  echo "window-check: xvfb-run is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

xvfb-run -a -s "-screen 0 640x480x24" "$build/bin/rigweave-view" --root "$build" \
  --window --frames 10 --screenshot "$tmp/window.png"

# The screenshot is decoded by another reader than the viewer's (stb_image,
# through the texture converter); then one line per pixel.
"$build/bin/rigweave-raw" "$tmp/window.png" "$tmp/window.raw" >/dev/null
tail -c +13 "$tmp/window.raw" | od -An -v -tx1 -w3 >"$tmp/pixels"
total=$(wc -l <"$tmp/pixels")
background=$(head -n 1 "$tmp/pixels")
plain=$(grep -cxF "$background" "$tmp/pixels" || true)
colours=$(sort -u "$tmp/pixels" | wc -l)
percent=$(((total - plain) * 100 / total))
if [ "$percent" -lt 3 ] || [ "$colours" -lt 50 ]; then
  echo "window-check: FAILED: the screenshot is blank ($percent% off the background, $colours colours)" >&2
  exit 1
fi
echo "window-check: ok: the window showed the character ($percent% of the picture, $colours colours)"
