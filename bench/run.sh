#!/bin/sh
# Builds the benchmarks (RelWithDebInfo, no sanitizers) and runs them all under a private Xvfb.
# Usage: bench/run.sh [build-dir] [options of run_benchmarks.py, e.g. --pairs 7 --xterm-runs 0 --no-hidden]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench}
[ $# -gt 0 ] && shift

mkdir -p "$build_dir"
log=$build_dir/bench-build.log
if ! { cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
           -DBUILD_TESTING=OFF -DVELMORA_SANITIZE=OFF -DVELMORA_BUILD_BENCH=ON &&
       cmake --build "$build_dir" --target velmora_bench -j2; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "bench/run.sh: the build failed; the whole log is in $log" >&2
    exit 1
fi
exec python3 "$here/run_benchmarks.py" "$build_dir" "$@"
