#!/usr/bin/env bash
# Installs what is missing, builds the launcher and starts it from the build folder, beside
# README.html and the stand-in game. Without a display it runs the launcher under Xvfb, saves
# screenshots instead, and says where they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VELMORA_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target velmora-launcher orvane
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    cd "$build"
    exec ./velmora-launcher
fi
echo "No display found: running the launcher under Xvfb and taking screenshots instead."
out="$build/screenshots"
"$root/scripts/screenshots.sh" "$build" "$out"
echo "Screenshots saved in $out"
