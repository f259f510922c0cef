#!/usr/bin/env python3
"""Runs every launcher benchmark under a private Xvfb and prints the figures side by side.

Called by bench/run.sh once the programs are built; see bench/README.md for what each figure
means. Nothing here is a test: it measures and reports, and its exit status says only whether
the measurements could be made.
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TARGETS = {
    "flood_cpu_ratio": 1.50,
    "flood_ratio": 1.10,
    "coloured_cpu_over_plain": 1.25,
    "coloured_ratio": 1.25,
    "max_gap_ms": 33.0,
    "memory_mib": 10.0,
    "startup_ratio": 1.05,
    "play_ms": 5.0,
    # The flood through the server host to an attached window: host and window together against
    # the plain pty reader.
    "host_cpu_ratio": 2.5,
    "host_wall_ratio": 1.3,
}


def goal(name, figure, target, unit="x"):
    """One line per goal: its figure, its target and whether it was met."""
    verdict = "met" if figure <= target else "MISSED"
    print("  GOAL %-44s %8.2f%s  target <= %.2f%s  %s" % (name, figure, unit, target, unit,
                                                       verdict))


def parse_key_values(text):
    values = {}
    for line in text.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key.strip()] = value.strip()
    return values


def run_program(args, env, cwd=None, timeout=900):
    done = subprocess.run(args, env=env, cwd=cwd, timeout=timeout,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (os.path.basename(args[0]), done.returncode,
                                                     done.stderr.strip()[-2000:]))
    return parse_key_values(done.stdout)


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


class Xvfb:
    """A private X server on a display number of its own choosing; stopped on exit."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as reader:
            while not number.endswith(b"\n"):
                chunk = reader.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def fmt_ratio(value, target):
    verdict = "met" if value <= target else "MISSED by %.0f%%" % ((value / target - 1) * 100)
    return "%.2fx (target <= %.2fx: %s)" % (value, target, verdict)


def flood(args, env, paths, colour=False):
    lines = str(args.lines)
    server_args = ["-d", "--flood", lines, "--then-exit"] + (["--colour"] if colour else [])
    drain_cmd = [paths["ptydrain"], paths["game_dir"], paths["game"]] + server_args
    launcher_cmd = [paths["flood"], "--lines", lines] + (["--colour"] if colour else [])

    run_program(drain_cmd, env)  # warm-up: page cache and the stand-in's first start
    pairs = []
    for i in range(args.pairs):
        load = load_average()
        launcher = run_program(launcher_cmd, env)
        if launcher.get("ok") != "1":
            raise RuntimeError("launcher flood run %d did not finish" % i)
        limit = run_program(drain_cmd, env)
        # Diagnosis, not a target: the same flood with the console never painted tells the cost
        # of reading and of the console's rules apart from the cost of drawing.
        hidden = (run_program(launcher_cmd + ["--main-pane"], env)
                  if args.hidden and not colour else None)
        pairs.append((launcher, limit, hidden, load))

    if colour:
        print("\n1c. Coloured flood of %s lines (the same text with SGR colour sequences around"
              " five words, 119 bytes each with the line feed)" % lines)
    else:
        print("\n1-3. Flood of %s lines (61 bytes each with the line feed)" % lines)
    print("  wall s = Start until the separator line is painted (launcher) or the end of output"
          " (limit);\n  CPU s = user+system time of that process over the same span")
    print("  pair  launcher s (CPU)   limit s (CPU)  ratio  CPU ratio  hidden-console s (CPU)"
          "  max gap ms  idle MiB  peak MiB  +MiB  load")
    ratios, cpu_ratios, gaps, growth, hidden_ratios = [], [], [], [], []
    for i, (launcher, limit, hidden, load) in enumerate(pairs, 1):
        ls = float(launcher["flood_seconds"])
        ps = float(limit["drain_seconds"])
        idle = int(launcher["idle_rss_kib"]) / 1024
        peak = int(launcher["peak_rss_kib"]) / 1024
        ratios.append(ls / ps)
        lc = float(launcher["flood_cpu_seconds"])
        pc = float(limit["drain_cpu_seconds"])
        cpu_ratios.append(lc / pc)
        gaps.append(float(launcher["max_gap_ms"]))
        growth.append(peak - idle)
        hidden_text = "-"
        if hidden:
            hs = float(hidden["flood_seconds"])
            hidden_ratios.append(hs / ps)
            hidden_text = "%.3f (%.3f)" % (hs, float(hidden["flood_cpu_seconds"]))
        print("  %4d  %8.3f (%.3f)  %7.3f (%.3f)  %5.2f  %9.2f  %22s  %10.1f  %8.1f  %8.1f  %4.1f"
              "  %s" % (i, ls, lc, ps, pc, ls / ps, lc / pc, hidden_text, gaps[-1], idle, peak,
                        growth[-1], load))
    last = pairs[-1][0]
    print("  last console line before the separator: %r" % last.get("line_before_separator"))
    print("  paint events per widget during the last launcher flood: %s"
          % " ".join(last.get("paints", "").split()[:8]))
    print("  end seen by: %s; reads by the limit: %s per run; by the launcher process: %s read"
          " calls, %s wake-ups of the main thread, %s of its other threads"
          % (last.get("detected_by"), pairs[-1][1].get("drain_reads"), last.get("reads"),
             last.get("wakeups"), last.get("other_thread_wakeups", "-")))
    main_cpu = [float(p[0]["flood_main_cpu_seconds"]) for p in pairs
                if "flood_main_cpu_seconds" in p[0]]
    if main_cpu:
        other_cpu = [float(p[0]["flood_cpu_seconds"]) - float(p[0]["flood_main_cpu_seconds"])
                     for p in pairs]
        print("  launcher CPU by thread (medians): main thread %.3f s (decoding, console,"
              " painting), other threads %.3f s (the server log's writer, Qt's X event reader)"
              % (statistics.median(main_cpu), statistics.median(other_cpu)))
    launcher_median = statistics.median(float(p[0]["flood_seconds"]) for p in pairs)
    limit_median = statistics.median(float(p[1]["drain_seconds"]) for p in pairs)
    launcher_cpu = statistics.median(float(p[0]["flood_cpu_seconds"]) for p in pairs)
    limit_cpu = statistics.median(float(p[1]["drain_cpu_seconds"]) for p in pairs)

    xterm_times = []
    if args.xterm_runs > 0 and shutil.which("xterm") and not colour:
        for _ in range(args.xterm_runs):
            start = time.monotonic()
            subprocess.run(["xterm", "-e", paths["game"]] + server_args, env=env,
                           cwd=paths["game_dir"], timeout=1800,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            xterm_times.append(time.monotonic() - start)
    return {
        "flood_ratio": statistics.median(ratios),
        "flood_cpu_ratio": statistics.median(cpu_ratios),
        "launcher_median": launcher_median,
        "limit_median": limit_median,
        "xterm": xterm_times,
        "launcher_cpu": launcher_cpu,
        "limit_cpu": limit_cpu,
        "hidden_ratio": statistics.median(hidden_ratios) if hidden_ratios else None,
        "max_gap_ms": max(gaps),
        "median_gap_ms": statistics.median(gaps),
        "memory_mib": max(growth),
    }


def host_flood(args, env, paths):
    lines = str(args.lines)
    drain_cmd = [paths["ptydrain"], paths["game_dir"], paths["game"], "-d", "--flood", lines,
                 "--then-exit"]
    host_cmd = [paths["hostflood"], "--lines", lines]
    run_program(drain_cmd, env)  # warm-up
    rows = []
    for i in range(args.pairs):
        load = load_average()
        host = run_program(host_cmd, env)
        if host.get("ok") != "1":
            raise RuntimeError("host flood run %d did not finish" % i)
        rows.append((host, run_program(drain_cmd, env), load))
    print("\n6. Flood of %s lines through the server host (velmora-server) to an attached window"
          % lines)
    print("  wall s = command to the painted separator (host) or forkpty to the end of output"
          " (limit);\n  CPU s = the host's own process and the window's process over that span")
    print("  pair  wall s  limit s  ratio  host CPU s  window CPU s  limit CPU s  CPU ratio"
          "  gap ms  load")
    walls, cpus, gaps = [], [], []
    for i, (host, limit, load) in enumerate(rows, 1):
        wall = float(host["flood_seconds"])
        limit_wall = float(limit["drain_seconds"])
        host_cpu = float(host["host_cpu_seconds"])
        window_cpu = float(host["window_cpu_seconds"])
        limit_cpu = float(limit["drain_cpu_seconds"])
        walls.append(wall / limit_wall)
        cpus.append((host_cpu + window_cpu) / limit_cpu)
        gaps.append(float(host["max_gap_ms"]))
        print("  %4d  %6.3f  %7.3f  %5.2f  %10.3f  %12.3f  %11.3f  %9.2f  %6.1f  %s"
              % (i, wall, limit_wall, walls[-1], host_cpu, window_cpu, limit_cpu, cpus[-1],
                 gaps[-1], load))
    return {"host_wall_ratio": statistics.median(walls),
            "host_cpu_ratio": statistics.median(cpus),
            "host_max_gap_ms": max(gaps)}


def startup(args, env, paths):
    bare_cmd = [paths["startup"], paths["bare"]]
    launcher_cmd = [paths["startup"], paths["launcher"]]
    run_program(bare_cmd, env)  # warm-up of both: the first start loads the libraries from disk
    run_program(launcher_cmd, env)
    rows = []
    for i in range(args.startup_runs):
        # Alternate which goes first, so neither always follows the other's caches.
        if i % 2 == 0:
            bare = float(run_program(bare_cmd, env)["startup_ms"])
            launcher = float(run_program(launcher_cmd, env)["startup_ms"])
        else:
            launcher = float(run_program(launcher_cmd, env)["startup_ms"])
            bare = float(run_program(bare_cmd, env)["startup_ms"])
        rows.append((launcher, bare, load_average()))
    print("\n4. Start-up: exec until the X server maps the first top-level window")
    print("   run  launcher ms  bare ms  ratio  load")
    for i, (launcher, bare, load) in enumerate(rows, 1):
        print("  %4d  %11.1f  %7.1f  %5.2f  %s" % (i, launcher, bare, launcher / bare, load))
    return {
        "startup_ratio": statistics.median(l / b for l, b, _ in rows),
        "launcher_ms": statistics.median(l for l, _, _ in rows),
        "bare_ms": statistics.median(b for _, b, _ in rows),
    }


def play(args, env, paths):
    values = run_program([paths["play"], "--runs", str(args.play_runs)], env)
    series = {key: [float(t) for t in values[key].split(",")]
              for key in ("play_ms", "play_return_ms", "start_detached_ms", "spawn_ms")}
    print("\n5. Play: playAction() until the stand-in game's main runs, %d runs"
          % len(series["play_ms"]))
    print("  Yardsticks from the same process, alternating with each Play: the same executable"
          " started by\n  QProcess::startDetached alone, and by posix_spawn (no Qt at all).")
    labels = {"play_ms": "Play", "play_return_ms": "playAction() returned",
              "start_detached_ms": "QProcess::startDetached", "spawn_ms": "posix_spawn"}
    for key, label in labels.items():
        times = series[key]
        print("  %-24s median %6.2f ms  min %6.2f  max %6.2f" % (label, statistics.median(times),
                                                               min(times), max(times)))
    return {"play_ms": statistics.median(series["play_ms"]),
            "play_max_ms": max(series["play_ms"]),
            "start_detached_ms": statistics.median(series["start_detached_ms"]),
            "spawn_ms": statistics.median(series["spawn_ms"])}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("build_dir")
    parser.add_argument("--lines", type=int, default=1000000)
    parser.add_argument("--pairs", type=int, default=5)
    parser.add_argument("--xterm-runs", type=int, default=1)
    parser.add_argument("--no-colour", dest="colour", action="store_false",
                        help="skip the coloured flood")
    parser.add_argument("--no-hidden", dest="hidden", action="store_false",
                        help="skip the diagnostic flood runs with the console not shown")
    parser.add_argument("--startup-runs", type=int, default=7)
    parser.add_argument("--play-runs", type=int, default=15)
    parser.add_argument("--only", choices=("flood", "startup", "play", "host"), action="append",
                        help="run only these parts (repeatable); all by default")
    args = parser.parse_args()
    parts = args.only or ["flood", "startup", "play", "host"]

    build = os.path.abspath(args.build_dir)
    game_dir = os.path.join(build, "Orvane")
    paths = {
        "launcher": os.path.join(build, "velmora-launcher"),
        "game_dir": game_dir,
        "game": os.path.join(game_dir, "orvane.app/Contents/MacOS/orvane"),
    }
    for name in ("flood", "play", "ptydrain", "bare", "startup", "hostflood"):
        paths[name] = os.path.join(build, "bench", "velmora-bench-" + name)

    print("Machine: %d cores (nproc), %s, kernel %s" % (os.cpu_count(), cpu_model(),
                                                        platform.release()))
    print("Command: %s" % " ".join([os.path.basename(sys.argv[0])] + sys.argv[1:]))
    print("Load before: %s" % load_average())

    scratch = tempfile.mkdtemp(prefix="velmora-bench-")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    server = Xvfb()
    try:
        env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVANE_RECORD", "ORVANE_RECORD_TIME"):
            env.pop(name, None)
        env.update({
            "DISPLAY": server.display,
            "QT_QPA_PLATFORM": "xcb",
            "XDG_RUNTIME_DIR": runtime,
            # The launcher started for start-up reads preferences: never the user's own.
            "XDG_CONFIG_HOME": os.path.join(scratch, "config"),
            "XDG_STATE_HOME": os.path.join(scratch, "state"),
        })
        print("X server: Xvfb %s, 1280x1024x24" % server.display)
        results = {}
        coloured = None
        for name, part in (("flood", flood), ("startup", startup), ("play", play),
                           ("host", host_flood)):
            if name in parts:
                results.update(part(args, env, paths))
            if name == "flood" and name in parts and args.colour:
                coloured = flood(args, env, paths, colour=True)
    finally:
        server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    print("\nSummary")
    if "flood" in parts:
        print_flood_summary(results, coloured)
    if "startup" in parts:
        print("  4. Start-up: launcher %.1f ms, bare window %.1f ms (medians); median ratio %s"
              % (results["launcher_ms"], results["bare_ms"],
                 fmt_ratio(results["startup_ratio"], TARGETS["startup_ratio"])))
    if "play" in parts:
        print_play_summary(results)
    if "host" in parts:
        gap = results["host_max_gap_ms"]
        print("  6. Flood through the server host: CPU of host and window together, median of pair"
              " ratios %s;\n     wall %s; largest gap %.1f ms (target <= %.0f ms: %s)"
              % (fmt_ratio(results["host_cpu_ratio"], TARGETS["host_cpu_ratio"]),
                 fmt_ratio(results["host_wall_ratio"], TARGETS["host_wall_ratio"]), gap,
                 TARGETS["max_gap_ms"], "met" if gap <= TARGETS["max_gap_ms"] else "MISSED"))
    print("\nGoals")
    if "flood" in parts:
        goal("plain flood CPU / reader's", results["flood_cpu_ratio"],
             TARGETS["flood_cpu_ratio"])
        goal("plain flood wall / reader's", results["flood_ratio"], TARGETS["flood_ratio"])
        goal("largest event-loop gap, any run", results["max_gap_ms"], TARGETS["max_gap_ms"],
             " ms")
        if coloured:
            goal("coloured flood CPU / plain flood's", coloured["launcher_cpu"]
                 / results["launcher_cpu"], TARGETS["coloured_cpu_over_plain"])
            goal("coloured flood wall / reader's", coloured["flood_ratio"],
                 TARGETS["coloured_ratio"])
            # The coloured flood is twice the bytes: what the reader alone pays for them is the
            # floor under the launcher's own coloured-over-plain figure.
            print("  (the reader alone: coloured flood CPU / plain flood's %.2fx)"
                  % (coloured["limit_cpu"] / results["limit_cpu"]))
    if "startup" in parts:
        goal("start-up / bare window", results["startup_ratio"], TARGETS["startup_ratio"])
    print("Load after: %s" % load_average())
    return 0


def print_flood_summary(results, coloured):
    print("  1. Flood CPU: launcher %.3f s, limit %.3f s (medians); median of pair ratios %s"
          % (results["launcher_cpu"], results["limit_cpu"],
             fmt_ratio(results["flood_cpu_ratio"], TARGETS["flood_cpu_ratio"])))
    print("     Flood wall: launcher %.3f s, limit %.3f s (medians); median of pair ratios %s"
          % (results["launcher_median"], results["limit_median"],
             fmt_ratio(results["flood_ratio"], TARGETS["flood_ratio"])))
    if results["hidden_ratio"] is not None:
        print("     console never painted (diagnosis): median ratio %.2fx"
              % results["hidden_ratio"])
    for seconds in results["xterm"]:
        print("     xterm: %.3f s = %.1fx the limit's median, %.2fx the launcher's median"
              % (seconds, seconds / results["limit_median"],
                 seconds / results["launcher_median"]))
    if coloured:
        print("  1c. Coloured flood CPU: launcher %.3f s, limit %.3f s (medians); median of pair"
              " ratios %.2fx (its goal is against the plain flood's CPU: see Goals)"
              % (coloured["launcher_cpu"], coloured["limit_cpu"], coloured["flood_cpu_ratio"]))
        print("      Coloured flood wall: launcher %.3f s, limit %.3f s (medians); median of pair"
              " ratios %s; largest gap %.1f ms; +%.1f MiB"
              % (coloured["launcher_median"], coloured["limit_median"],
                 fmt_ratio(coloured["flood_ratio"], TARGETS["coloured_ratio"]),
                 coloured["max_gap_ms"], coloured["memory_mib"]))
    gap = results["max_gap_ms"]
    print("  2. Largest gap between 10 ms ticks during the flood: %.1f ms (median of runs %.1f);"
          " target <= %.0f ms: %s" % (gap, results["median_gap_ms"], TARGETS["max_gap_ms"],
                                      "met" if gap <= TARGETS["max_gap_ms"] else "MISSED"))
    mem = results["memory_mib"]
    print("  3. Peak RSS during the flood over idle: +%.1f MiB (worst run); target <= %.0f MiB:"
          " %s" % (mem, TARGETS["memory_mib"], "met" if mem <= TARGETS["memory_mib"] else "MISSED"))


def print_play_summary(results):
    p = results["play_ms"]
    print("  5. Play: median %.2f ms, worst %.2f ms; target <= %.0f ms: %s"
          % (p, results["play_max_ms"], TARGETS["play_ms"],
             "met" if p <= TARGETS["play_ms"] else "MISSED by %.0f%%"
             % ((p / TARGETS["play_ms"] - 1) * 100)))
    print("     (QProcess::startDetached alone %.2f ms, posix_spawn %.2f ms: medians)"
          % (results["start_detached_ms"], results["spawn_ms"]))


if __name__ == "__main__":
    sys.exit(main())
