#!/usr/bin/env bash
# Usage: scripts/screenshots.sh BUILD_DIR OUT_DIR
# Runs the launcher from BUILD_DIR under a private Xvfb (no display of the caller's is used) and
# saves main-pane.png, server-pane.png and server-console.png in OUT_DIR. Everything it starts is
# stopped before it returns. Needs Xvfb, dbus, at-spi2-core, python3-gi, xdotool and ImageMagick.
set -euo pipefail
if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR OUT_DIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
# Debian's interpreter: it carries the accessibility bindings.
python=/usr/bin/python3
for program in "$python" Xvfb dbus-daemon xdotool import; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "screenshots: $program is missing (run scripts/install-deps.sh)" >&2
        exit 1
    fi
done
exec env -u DISPLAY -u WAYLAND_DISPLAY \
    "$python" "$root/tests/e2e/take_screenshots.py" "$1" "$2"
