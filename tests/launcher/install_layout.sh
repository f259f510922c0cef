#!/usr/bin/env bash
# Installs the build into a folder whose name has spaces and non-ASCII letters, and checks that it is
# laid out as the game ships: launcher, help page, icon, desktop entry and the game directory.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/My Gämes/Velmora's \"50%\" \$HOME"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
[[ -x "$prefix/velmora-launcher" ]] || fail "launcher missing"
[[ -f "$prefix/README.html" ]] || fail "README.html missing"
[[ -f "$prefix/README.de.html" ]] || fail "README.de.html missing"
[[ -f "$prefix/velmora-launcher.svg" ]] || fail "icon missing"
[[ -x "$prefix/Orvane/orvane.app/Contents/MacOS/orvane" ]] || fail "game missing"
desktop="$prefix/velmora-launcher.desktop"
[[ -f "$desktop" ]] || fail "desktop entry missing"
# Quoted and escaped as desktop entries need: \" \$ inside the quotes (backslashes doubled once
# more in the file), % doubled.
exec_line=$(grep '^Exec=' "$desktop")
[[ "$exec_line" == *'\\"50%%\\" \\$HOME/velmora-launcher"' ]] || fail "desktop entry Exec: $exec_line"
grep -qxF "Icon=$prefix/velmora-launcher.svg" "$desktop" || fail "desktop entry Icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
# A staged install (DESTDIR) still names the final folder, unquoted where nothing needs quotes.
staged="$tmp/stage"
DESTDIR="$staged" cmake --install "$build" --prefix "/opt/Velmora" >/dev/null
grep -qxF 'Exec=/opt/Velmora/velmora-launcher' "$staged/opt/Velmora/velmora-launcher.desktop" ||
    fail "staged desktop entry: $(grep ^Exec "$staged/opt/Velmora/velmora-launcher.desktop")"
# The installed game still runs as a server from its new home.
out=$("$prefix/Orvane/orvane.app/Contents/MacOS/orvane" -d -nInstalled --exit)
grep -q "Installed" <<<"$out" || fail "installed game did not run: $out"
echo "install layout: 1 passed, 0 failed"
