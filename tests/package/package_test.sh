#!/usr/bin/env bash
# Usage: package_test.sh SOURCE_DIR WORK_DIR PROJECT_VERSION
# Builds the Debian package from a copy of the source tree in WORK_DIR (kept there afterwards to be
# looked at), checks its files, version and dependencies, runs lintian, appstreamcli and
# desktop-file-validate on it, installs it into a throwaway root with dpkg --root, and starts the
# installed launcher through its desktop entry's command under Xvfb.
#
# The throwaway root starts with a copy of this machine's dpkg database, so that the package's
# dependencies are checked against what is really installed here and its files against every
# installed package's. Its maintainer scripts and triggers would run chrooted into that root, where
# no shell lies: the package has none of its own, and the triggers it sets off (desktop database,
# icon cache, manual pages) are left pending with the root.
set -euo pipefail
source_dir=$1
work=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*"; exit 1; }
for tool in dpkg-buildpackage dh lintian appstreamcli desktop-file-validate python3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# The same folder each run, so that a compiler cache finds the same paths.
tree="$work/velmora-launcher"
rm -rf "$work"
mkdir -p "$tree"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Tracked and new files as they are in the working tree; build folders are ignored.
    git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
        (cd "$source_dir" && xargs -0 sh -c 'for f; do [ ! -e "$f" ] || printf "%s\0" "$f"; done' sh) |
        tar -C "$source_dir" --null -T - -cf - | tar -C "$tree" -xf -
else
    tar -C "$source_dir" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -C "$tree" -xf -
fi

echo "== dpkg-buildpackage -us -uc -b"
DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
export DEB_BUILD_OPTIONS
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
    # debhelper gives the build a HOME of its own, where ccache would look for an empty cache.
    CCACHE_DIR=$(ccache --get-config cache_dir)
    export CCACHE_DIR
fi
start=$(date +%s)
(cd "$tree" && dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 ||
    { tail -n 60 "$work/build.log"; fail "dpkg-buildpackage failed (log: $work/build.log)"; }
echo "built in $(($(date +%s) - start)) s"

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb="$work/velmora-launcher_${version}_${arch}.deb"
changes="$work/velmora-launcher_${version}_${arch}.changes"
[[ -f "$deb" ]] || fail "no $(basename "$deb"): $(ls "$work")"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version $(dpkg-deb -f "$deb" Version)"

echo "== files"
# Every file and link the package holds (directories aside), with link targets.
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' |
    sed 's|^\./|/|' | sort)
expected=$(sort <<'LIST'
/usr/games/velmora-launcher -> ../lib/velmora/velmora-launcher
/usr/games/velmora-server -> ../lib/velmora/velmora-server
/usr/lib/velmora/velmora-launcher
/usr/lib/velmora/velmora-server
/usr/lib/systemd/user/velmora-server.service
/usr/lib/velmora/README.html
/usr/lib/velmora/README.de.html
/usr/lib/velmora/Orvane/orvane.app/Contents/MacOS/orvane
/usr/lib/velmora/Orvane/orvane.app/Contents/MacOS/orvane-window
/usr/share/applications/velmora-launcher.desktop
/usr/share/icons/hicolor/scalable/apps/velmora-launcher.svg
/usr/share/metainfo/example.velmora.launcher.metainfo.xml
/usr/share/man/man6/velmora-launcher.6.gz
/usr/share/man/man6/velmora-server.6.gz
/usr/share/doc/velmora-launcher/changelog.gz
/usr/share/doc/velmora-launcher/copyright
/usr/share/lintian/overrides/velmora-launcher
LIST
)
diff <(echo "$expected") <(echo "$actual") || fail "the package's files differ from the layout (< expected, > packaged)"

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
# Computed from the launcher's libraries, and the X11 plugin Qt loads at run time. The Wayland
# plugin and Qt's translations are recommended: the launcher runs without either.
names() { grep -qE "(^|, )$1( |,|$)" <<<"$2"; }
for needed in libc6 libqt6widgets6 libx11-6 libqt6gui6; do
    names "$needed" "$depends" || fail "Depends lacks $needed"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for wanted in qt6-wayland qt6-translations-l10n; do
    names "$wanted" "$recommends" || fail "Recommends lacks $wanted"
    ! names "$wanted" "$depends" || fail "$wanted is a hard dependency"
done

echo "== lintian"
# Nothing may be reported, information tags included: a tag that stays is overridden in the
# package's override file under a comment that explains it (an override that no longer applies is
# reported too). The overridden ones and their comments (N:) are shown for the log.
report=$(lintian --display-info --pedantic --show-overrides --tag-display-limit 0 "$changes" 2>&1 |
    grep -v 'running with root privileges is not recommended' || true)
grep -E '^(O|N): ' <<<"$report" || true
unexplained=$(grep -v -E '^(O|N): ' <<<"$report" || true)
[[ -z "$unexplained" ]] || { echo "$unexplained"; fail "lintian reported tags"; }
overrides="$tree/debian/velmora-launcher.lintian-overrides"
awk '/^#/ { explained = 1; next } /^[^#[:space:]]/ { if (!explained) { print; bad = 1 } explained = 0 }
     END { exit bad }' "$overrides" || fail "an override in $(basename "$overrides") has no comment above it"

echo "== desktop entry and metainfo"
extracted="$work/extracted"
dpkg-deb -x "$deb" "$extracted"
desktop="$extracted/usr/share/applications/velmora-launcher.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
metainfo="$extracted/usr/share/metainfo/example.velmora.launcher.metainfo.xml"
# --no-net: the screenshots' web addresses are not fetched.
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
# The release named in the metainfo is the project's version, dated as the changelog's entry.
changelog_date=$(date -u -d "@$(cd "$tree" && dpkg-parsechangelog -STimestamp)" +%F)
grep -qF "<release version=\"$version\" date=\"$changelog_date\"/>" "$metainfo" ||
    fail "metainfo release: $(grep '<release ' "$metainfo"), changelog: $version on $changelog_date"

echo "== install into a throwaway root"
root=$(mktemp -d "${TMPDIR:-/tmp}/velmora-root.XXXXXX")
trap 'rm -rf "$root"' EXIT
admin="$root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
cp /var/lib/dpkg/info/*.list "$admin/info/"
: >"$admin/available"
as_root=()
if [[ $(id -u) != 0 ]]; then
    # Unpacking sets owners: a user namespace lends the root user for that.
    as_root=(unshare --map-root-user)
fi
"${as_root[@]}" dpkg --root="$root" --no-triggers -i "$deb" || fail "dpkg --root -i"
status=$(dpkg --root="$root" -s velmora-launcher | sed -n 's/^Status: //p')
[[ "$status" == "install ok installed" ]] || fail "installed package's status: $status"

echo "== velmora-server"
unit="$root/usr/lib/systemd/user/velmora-server.service"
grep -qxF 'ExecStart="/usr/games/velmora-server" run' "$unit" || fail "user unit: $(grep ^ExecStart "$unit")"
server_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/games/velmora-server" --version)
[[ "$server_version" == "velmora-server $version" ]] || fail "installed velmora-server --version: $server_version"

exec_line=$(grep '^Exec=' "$root/usr/share/applications/velmora-launcher.desktop")
echo "$exec_line"
VELMORA_INSTALLED_ROOT="$root" VELMORA_INSTALLED_COMMAND="${exec_line#Exec=}" \
    /usr/bin/python3 "$here/installed_launcher.py"
