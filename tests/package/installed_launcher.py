#!/usr/bin/python3
"""The launcher as the package installed it, started the way its desktop entry starts it, under a
private X server: the window comes up, lists the server's resolution, and Play starts the game from
the installed game folder.

Environment: VELMORA_INSTALLED_ROOT, the folder the package was installed into, and
VELMORA_INSTALLED_COMMAND, the desktop entry's command (an absolute path, taken under that root).
Exit status 0 when it passes, 1 when it fails, 77 when a program it needs cannot start here.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))

from velmora_session import Failure, Session, run_scenarios, wait_for  # noqa: E402
from velmora_ui import LauncherWindow  # noqa: E402


class InstalledSession(Session):
    """A session whose launcher folder is the installed one rather than a copy of the build's."""

    def __init__(self, root):
        self.installed_root = root
        super().__init__("package")

    def _copy_launcher(self):
        self.folder = os.path.join(self.installed_root, "usr", "lib", "velmora")


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


def installed():
    root = os.environ["VELMORA_INSTALLED_ROOT"]
    command = os.environ["VELMORA_INSTALLED_COMMAND"]
    if not os.path.isabs(command):
        raise Failure("the desktop entry's command %r is not an absolute path" % command)
    with InstalledSession(root) as session:
        session.start_display()
        atspi = session.start_buses()
        session.write_settings({"fullscreen": 0, "fsaa": 4, "shader": 1})
        session.start_launcher(program=root + command)
        window = LauncherWindow(session, atspi)

        # The command is a link: the launcher runs from the package's folder and finds its game
        # there, not beside the link.
        check_equal(os.path.realpath("/proc/%d/exe" % session.launcher.pid),
                    os.path.join(session.folder, "velmora-launcher"), "the running launcher")
        combo = window.labelled("Resolution:")
        check_equal(window.entries(combo), ["1280 x 1024"], "resolution list under Xvfb")

        window.press(window.get(role="push button", name="Play"))
        check_equal(session.wait_launcher_exit(30), 0, "the launcher's exit status after Play")
        record = wait_for(session.read_record, 30, "the installed stand-in to record its start")
        game_dir = os.path.join(session.folder, "Orvane")
        check_equal(record["mode"], "game", "the stand-in's mode")
        check_equal(record["cwd"], game_dir, "the game's working directory")
        check_equal(os.path.realpath(record["argv0"]),
                    os.path.join(game_dir, "orvane.app", "Contents", "MacOS", "orvane"),
                    "the program started")
        check_equal(record["arguments"], ["-w1280", "-h1024", "-z32", "-t", "-a4", "-f1"],
                    "the game's command line")


if __name__ == "__main__":
    sys.exit(run_scenarios({"installed": installed}, [sys.argv[0], "installed"]))
