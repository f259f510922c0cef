#!/bin/sh
# How long the display-mode sources take under real headless compositors, answering and stopped
# (SIGSTOP, a compositor that hangs). Each source has DisplayModeSource::SourceTimeoutMs (200 ms)
# and the first that runs out of time ends the asking, so "total" (the launcher's whole choice)
# stays near 200 ms with a stopped compositor.
# Usage: bench/displaymodes.sh [build-dir]   (needs sway, mutter and dbus-daemon; run as root,
# sway runs as nobody)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench}
mkdir -p "$build_dir"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      -DVELMORA_SANITIZE=OFF -DVELMORA_BUILD_BENCH=ON >"$build_dir/bench-build.log" 2>&1
cmake --build "$build_dir" --target velmora-bench-displaymodes -j2 >>"$build_dir/bench-build.log" 2>&1
bench=$build_dir/bench/velmora-bench-displaymodes

work=$(mktemp -d)
chmod 711 "$work"
pids=""
cleanup() {
    for pid in $pids; do kill -CONT "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

measure() { # label, then the environment for the bench
    label=$1; shift
    echo "== $label"
    env -i PATH="$PATH" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/client" "$@" "$bench"
}
mkdir -m 700 "$work/client"

# sway, headless, two outputs, as an unprivileged user.
mkdir -m 700 "$work/sway"
printf 'xwayland disable\noutput HEADLESS-1 mode 1920x1080 scale 1.5\n' >"$work/sway.conf"
chmod 644 "$work/sway.conf"
if [ "$(id -u)" = 0 ]; then chown nobody "$work/sway"; run_as="setpriv --reuid=nobody --regid=nogroup --clear-groups --"; else run_as=""; fi
env -i PATH="$PATH" XDG_RUNTIME_DIR="$work/sway" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=2 SWAYSOCK="$work/sway/ipc.sock" \
    $run_as sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
sway_pid=$!; pids="$pids $sway_pid"
for _ in $(seq 100); do [ -S "$work/sway/ipc.sock" ] && [ -S "$work/sway/wayland-1" ] && break; sleep 0.1; done
sway_env="WAYLAND_DISPLAY=$work/sway/wayland-1 SWAYSOCK=$work/sway/ipc.sock DBUS_SESSION_BUS_ADDRESS=unix:path=$work/nobus"
measure "sway warming up" $sway_env >/dev/null
measure "sway answering" $sway_env
kill -STOP "$sway_pid"
measure "sway stopped" $sway_env
kill -CONT "$sway_pid"

# mutter, headless, two virtual monitors, on a private bus.
mkdir -m 700 "$work/mutter"
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus.address" 4>"$work/bus.pid"
pids="$pids $(cat "$work/bus.pid")"
bus=$(head -n1 "$work/bus.address")
env -i PATH="$PATH" XDG_RUNTIME_DIR="$work/mutter" DBUS_SESSION_BUS_ADDRESS="$bus" \
    mutter --headless --wayland --no-x11 --wayland-display=wl-bench \
    --virtual-monitor 1920x1080 --virtual-monitor 1280x1024 >"$work/mutter.log" 2>&1 &
mutter_pid=$!; pids="$pids $mutter_pid"
for _ in $(seq 300); do
    env DBUS_SESSION_BUS_ADDRESS="$bus" gdbus introspect --session --dest org.gnome.Mutter.DisplayConfig \
        --object-path /org/gnome/Mutter/DisplayConfig >/dev/null 2>&1 && break
    sleep 0.1
done
mutter_env="WAYLAND_DISPLAY=$work/mutter/wl-bench DBUS_SESSION_BUS_ADDRESS=$bus"
measure "mutter warming up" $mutter_env >/dev/null
measure "mutter answering" $mutter_env
kill -STOP "$mutter_pid"
measure "mutter stopped" $mutter_env
kill -CONT "$mutter_pid"
