"""One end-to-end session: a private X server, session bus and accessibility bus, and the built
launcher copied into a folder (whose name holds a space) beside README.html and the stand-in game.

Everything a session starts carries a token in its environment and, for direct children, dies with
this process; `close()` stops what is left, reaps it, and removes the session folder. This process
is a child subreaper, so that children the launcher leaves behind (the stand-in game, a server on
its pseudo-terminal) come back to it and can be waited for instead of lingering as zombies.

Call order: `Session(...)`, `start_display()`, `start_buses()`, then `start_launcher()` (once or
more), then `close()` (also through `with`). The AT-SPI client library binds to the first
accessibility bus it meets, so a Python process holds at most one session that uses it.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import uuid

SKIP = 77
PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36

_libc = ctypes.CDLL(None, use_errno=True)


class Skip(Exception):
    """A program the session needs cannot start on this machine."""


class Failure(AssertionError):
    pass


def wait_for(predicate, timeout, what, interval=0.05):
    """Polls `predicate` until it answers something true and returns that answer."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %gs waiting for %s" % (timeout, what))
        time.sleep(interval)


def _die_with_parent():
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def _read_proc(pid, name):
    try:
        with open("/proc/%d/%s" % (pid, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def _stat_fields(pid):
    """The fields of /proc/PID/stat after the command name (state, parent, ...), None when gone."""
    stat = _read_proc(pid, "stat")
    return None if stat is None else stat[stat.rfind(b")") + 2 :].split()


def process_state(pid):
    """'R', 'S', 'Z', ... for a process that exists, None for one that is gone."""
    fields = _stat_fields(pid)
    return None if fields is None else fields[0].decode()


def parent_of(pid):
    fields = _stat_fields(pid)
    return None if fields is None else int(fields[1])


def is_running(pid):
    state = process_state(pid)
    return state is not None and state != "Z"


class Session:
    def __init__(self, name):
        self.name = name
        self.build_dir = os.environ.get("VELMORA_BUILD_DIR", "")
        self.tests_dir = os.environ.get(
            "VELMORA_TEST_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        )
        self.token = uuid.uuid4().hex
        self.root = tempfile.mkdtemp(prefix="velmora-e2e-%s-" % name)
        self.folder = os.path.join(self.root, "Velmora Game")
        self.config_home = os.path.join(self.root, "config")
        self.runtime_dir = os.path.join(self.root, "runtime")
        self.record = os.path.join(self.root, "orvane-record.json")
        self.logs = os.path.join(self.root, "logs")
        for path in (self.config_home, self.runtime_dir, self.logs):
            os.makedirs(path, mode=0o700)
        self.display = None
        self.bus_address = None
        self.launcher = None
        self._children = []  # (what, Popen), started in this order, stopped in reverse
        self._log_files = []
        _libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        self.env = self._base_environment()
        self._copy_launcher()

    # ----- set-up ------------------------------------------------------------------------------

    def _base_environment(self):
        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                    "XAUTHORITY", "LANGUAGE", "SESSION_MANAGER", "XDG_CURRENT_DESKTOP"):
            env.pop(key, None)
        env.update({
            "VELMORA_E2E_SESSION": self.token,
            "XDG_CONFIG_HOME": self.config_home,
            # Server logs of the session's runs stay with its preferences.
            "XDG_STATE_HOME": os.path.join(self.config_home, "state"),
            "XDG_RUNTIME_DIR": self.runtime_dir,
            # The texts checked below are the untranslated ones.
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "NO_AT_BRIDGE": "0",
        })
        return env

    def _copy_launcher(self):
        if not self.build_dir:
            raise Failure("VELMORA_BUILD_DIR is not set")
        launcher = os.path.join(self.build_dir, "velmora-launcher")
        game = os.path.join(self.build_dir, "Orvane", "orvane.app", "Contents", "MacOS", "orvane")
        for path in (launcher, game, os.path.join(self.build_dir, "README.html")):
            if not os.path.isfile(path):
                raise Failure("%s is missing: build the launcher and the stand-in game first" % path)
        os.makedirs(self.folder)
        shutil.copy2(launcher, self.folder)
        shutil.copy2(os.path.join(self.build_dir, "README.html"), self.folder)
        shutil.copytree(os.path.join(self.build_dir, "Orvane"), os.path.join(self.folder, "Orvane"),
                        symlinks=True)
        # The server's host, beside the launcher as it is installed.
        host = os.path.join(self.build_dir, "velmora-server")
        if os.path.isfile(host):
            shutil.copy2(host, self.folder)

    def _spawn(self, what, argv, env=None, cwd=None, stdout=None, pass_fds=()):
        log = open(os.path.join(self.logs, what + ".log"), "wb")
        self._log_files.append(log)
        try:
            process = subprocess.Popen(
                argv, env=env or self.env, cwd=cwd or self.root, stdin=subprocess.DEVNULL,
                stdout=stdout if stdout is not None else log, stderr=log, pass_fds=pass_fds,
                start_new_session=True, preexec_fn=_die_with_parent)
        except OSError as error:
            raise Skip("%s cannot start: %s" % (argv[0], error))
        self._children.append((what, process))
        return process

    def _read_line(self, fd, process, what, timeout=30):
        """The first line written to `fd`, or Skip when `process` ends before writing one."""
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise Skip("%s did not come up within %ds%s" % (what, timeout, self.log_tail(what)))
            ready, _, _ = select.select([fd], [], [], min(remaining, 0.2))
            if ready:
                chunk = os.read(fd, 256)
                if not chunk:
                    raise Skip("%s ended during start-up%s" % (what, self.log_tail(what)))
                data += chunk
            elif process.poll() is not None:
                raise Skip("%s ended during start-up%s" % (what, self.log_tail(what)))
        return data.decode().strip()

    def start_display(self, kind="xvfb"):
        """Starts Xvfb (one 1280x1024 screen) or Xorg with the dummy driver and two outputs."""
        read_end, write_end = os.pipe()
        try:
            if kind == "xvfb":
                if not shutil.which("Xvfb"):
                    raise Skip("Xvfb is not installed (package xvfb)")
                argv = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                        "-nolisten", "tcp", "-noreset"]
            else:
                if not shutil.which("Xorg"):
                    raise Skip("Xorg is not installed (xserver-xorg-core, xserver-xorg-video-dummy)")
                config_dir = os.path.join(self.root, "xorg.conf.d")
                os.makedirs(config_dir)
                argv = ["Xorg", "-config",
                        os.path.join(self.tests_dir, "displays", "fixtures", "xorg-dummy.conf"),
                        "-configdir", config_dir, "-logfile", os.path.join(self.logs, "Xorg.log"),
                        "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                        "-novtswitch", "-sharevts"]
            process = self._spawn(kind, argv, pass_fds=(write_end,))
            os.close(write_end)
            write_end = -1
            number = self._read_line(read_end, process, kind, timeout=60)
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.display = ":" + number
        self.env["DISPLAY"] = self.display
        if kind != "xvfb":
            # DUMMY1 starts without modes; it takes two the server already knows.
            self.xrandr("--addmode", "DUMMY1", "1024x768")
            self.xrandr("--addmode", "DUMMY1", "800x600")
            self.xrandr("--output", "DUMMY1", "--mode", "1024x768", "--right-of", "DUMMY0")

    def start_buses(self):
        """A private session bus, then the accessibility bus on it; returns the Atspi module."""
        if not shutil.which("dbus-daemon"):
            raise Skip("dbus-daemon is not installed (package dbus)")
        bus_launcher = "/usr/libexec/at-spi-bus-launcher"
        if not os.access(bus_launcher, os.X_OK):
            raise Skip("%s is missing (package at-spi2-core)" % bus_launcher)
        read_end, write_end = os.pipe()
        try:
            process = self._spawn("dbus", ["dbus-daemon", "--session", "--nofork",
                                           "--print-address=%d" % write_end], pass_fds=(write_end,))
            os.close(write_end)
            write_end = -1
            self.bus_address = self._read_line(read_end, process, "dbus")
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self._spawn("at-spi", [bus_launcher, "--launch-immediately", "--a11y=1"])
        wait_for(self._a11y_bus_owned, 30, "org.a11y.Bus to have an owner")

        # The client library finds the accessibility bus through these, on first use.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        os.environ["DISPLAY"] = self.display
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        try:
            import gi
            gi.require_version("Atspi", "2.0")
            from gi.repository import Atspi
        except (ImportError, ValueError) as error:
            raise Skip("gi.repository.Atspi is not available (python3-gi, gir1.2-atspi-2.0): %s"
                       % error)
        Atspi.init()
        return Atspi

    def _a11y_bus_owned(self):
        result = subprocess.run(
            ["dbus-send", "--bus=" + self.bus_address, "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env)
        return result.returncode == 0 and b"boolean true" in result.stdout

    def write_settings(self, values):
        """Writes the preferences file the launcher reads, as a previous run would have left it."""
        folder = os.path.join(self.config_home, "Velmora")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "Launcher.conf"), "w") as f:
            f.write("[General]\n")
            for key, value in values.items():
                f.write("%s=%s\n" % (key, value))

    def stored_settings(self):
        """The [General] section of the preferences file as the launcher left it ({} if none)."""
        path = os.path.join(self.config_home, "Velmora", "Launcher.conf")
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            return {}
        values, section = {}, None
        for line in text.splitlines():
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif section == "General" and "=" in line:
                key, value = line.split("=", 1)
                values[key.strip()] = value.strip()
        return values

    def start_launcher(self, extra_env=None, program=None):
        """Starts the launcher in the session folder, or `program` (a command that leads to it)."""
        env = dict(self.env)
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "ORVANE_RECORD": self.record,
        })
        env.update(extra_env or {})
        # Started from elsewhere: the launcher must find its game beside itself, not in its cwd.
        program = program or os.path.join(self.folder, "velmora-launcher")
        self.launcher = self._spawn("launcher", [program], env=env, cwd=self.root)
        return self.launcher

    def xrandr(self, *args):
        result = subprocess.run(["xrandr", "-display", self.display] + list(args), env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if result.returncode != 0:
            raise Failure("xrandr %s failed: %s" % (" ".join(args), result.stderr.decode()))
        return result.stdout.decode()

    def xdotool(self, *args, input=None):
        result = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                                input=input.encode() if input is not None else None,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if result.returncode != 0:
            raise Failure("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                      result.stderr.decode()))
        return result.stdout.decode()

    # ----- what the launcher left behind -------------------------------------------------------

    def read_record(self):
        """The stand-in's record of its last start (argv, cwd, mode, pid), or None."""
        try:
            with open(self.record, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    def token_processes(self):
        """Live (non-zombie) processes started within this session, by pid, with their exe."""
        found = {}
        needle = ("VELMORA_E2E_SESSION=" + self.token).encode() + b"\0"
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            pid = int(entry)
            environ = _read_proc(pid, "environ")
            if environ and needle in environ and is_running(pid):
                try:
                    found[pid] = os.readlink("/proc/%d/exe" % pid)
                except OSError:
                    found[pid] = "?"
        return found

    def game_processes(self):
        """Live processes running a program from the launcher folder (launcher, game, server)."""
        return {pid: exe for pid, exe in self.token_processes().items()
                if exe.startswith(self.folder + "/")}

    def reap_orphans(self):
        """Waits for zombies that were handed to this subreaper and are not ours to wait for."""
        own = {process.pid for _, process in self._children}
        me = os.getpid()
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                pid = int(entry)
                if pid not in own and parent_of(pid) == me and process_state(pid) == "Z":
                    try:
                        os.waitpid(pid, os.WNOHANG)
                    except ChildProcessError:
                        pass

    def wait_gone(self, pid, timeout, what):
        def gone():
            self.reap_orphans()
            return not is_running(pid)

        wait_for(gone, timeout, what)

    def wait_launcher_exit(self, timeout):
        try:
            return self.launcher.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the launcher is still running after %gs" % timeout)

    def log_tail(self, what, lines=25):
        try:
            with open(os.path.join(self.logs, what + ".log"), "rb") as f:
                text = f.read().decode(errors="replace").splitlines()
        except OSError:
            return ""
        if not text:
            return ""
        return "\n--- %s output ---\n%s" % (what, "\n".join(text[-lines:]))

    # ----- tear-down ---------------------------------------------------------------------------

    def close(self):
        for what, process in reversed(self._children):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    pass
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            if process.poll() is None:
                process.kill()
                process.wait(5)
        # Whatever left its process group (a server on its own terminal, a detached game).
        for _ in range(3):
            left = self.token_processes()
            if not left:
                break
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)
            self.reap_orphans()
        self.reap_orphans()
        for log in self._log_files:
            log.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            # The launcher's own output explains most failures; the folder goes with close().
            print(self.log_tail("launcher", 60))
        self.close()
        return False


def run_scenarios(scenarios, argv, budgets=None):
    """Runs the one scenario named on the command line; exit 0 pass, 1 fail, 77 skip. A scenario
    has 100 seconds unless `budgets` gives it more."""
    if len(argv) != 2 or argv[1] not in scenarios:
        print("usage: %s {%s}" % (argv[0], "|".join(sorted(scenarios))), file=sys.stderr)
        return 2

    def interrupted(signum, _frame):
        raise Failure("interrupted by signal %d" % signum)

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM):
        signal.signal(signum, interrupted)
    # Well inside the test's own time-out, so that the session is still torn down by us.
    name = argv[1]
    signal.alarm((budgets or {}).get(name, 100))
    try:
        scenarios[name]()
    except Skip as why:
        print("SKIP %s: %s" % (name, why))
        return SKIP
    except Failure as why:
        print("FAIL %s: %s" % (name, why))
        return 1
    print("PASS %s" % name)
    return 0
