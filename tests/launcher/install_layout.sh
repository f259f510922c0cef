#!/usr/bin/env bash
# Installs the build into a folder whose name has spaces and non-ASCII letters, and checks that it is
# laid out as the game ships: launcher, help page, icon, desktop entry and the game directory.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/My Gämes/Velmora"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
[[ -x "$prefix/velmora-launcher" ]] || fail "launcher missing"
[[ -f "$prefix/README.html" ]] || fail "README.html missing"
[[ -f "$prefix/velmora-launcher.svg" ]] || fail "icon missing"
[[ -x "$prefix/Orvane/orvane.app/Contents/MacOS/orvane" ]] || fail "game missing"
desktop="$prefix/velmora-launcher.desktop"
[[ -f "$desktop" ]] || fail "desktop entry missing"
grep -qxF "Exec=\"$prefix/velmora-launcher\"" "$desktop" || fail "desktop entry Exec: $(grep ^Exec "$desktop")"
grep -qxF "Icon=$prefix/velmora-launcher.svg" "$desktop" || fail "desktop entry Icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
# The installed game still runs as a server from its new home.
out=$("$prefix/Orvane/orvane.app/Contents/MacOS/orvane" -d -nInstalled --exit)
grep -q "Installed" <<<"$out" || fail "installed game did not run: $out"
echo "install layout: 1 passed, 0 failed"
