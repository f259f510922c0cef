#!/bin/sh
# Usage: run-with-xvfb.sh PROGRAM [ARGS...]
# Runs PROGRAM on a private Xvfb server (no window manager) under Qt's xcb platform and stops
# the server afterwards, whatever the outcome. The server picks a free display number itself,
# so several of these can run side by side. Exit status: the program's, or 1 when no server
# could be started.
set -u
if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM [ARGS...]" >&2
    exit 2
fi
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "run-with-xvfb: Xvfb is not installed" >&2
    exit 1
fi

workdir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-xvfb.XXXXXX") || exit 1
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# -displayfd: the server writes its display number once it accepts connections.
# -terminate: it also goes away by itself when its last client leaves, should this script be
# killed too hard to clean up.
: >"$workdir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -terminate \
    3>"$workdir/display" 2>"$workdir/xvfb.log" &
xvfb_pid=$!

tries=0
while [ "$(wc -l <"$workdir/display")" -eq 0 ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "run-with-xvfb: Xvfb exited during start-up:" >&2
        cat "$workdir/xvfb.log" >&2
        xvfb_pid=
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ]; then
        echo "run-with-xvfb: Xvfb did not come up" >&2
        exit 1
    fi
    sleep 0.1
done
display=$(head -n 1 "$workdir/display")

env -u WAYLAND_DISPLAY DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@"
status=$?
exit "$status"
