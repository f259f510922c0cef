#!/usr/bin/python3
"""Saves PNG pictures of the launcher under a private Xvfb: the Main pane, the Server pane, and the
console of a running server. Usage: take_screenshots.py BUILD_DIR OUT_DIR."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from velmora_session import SKIP, Failure, Session, Skip, wait_for  # noqa: E402
from velmora_ui import LauncherWindow  # noqa: E402
from xclose import request_close  # noqa: E402

SETTINGS = {
    "fullscreen": 1,
    "fsaa": 4,
    "shader": 2,
    "advancedOptions": "+map harbour",
    "launchWrapper": "gamescope -W 1920 -H 1080 --",
    # Written as the preferences file writes a line break: the backslash escape.
    "launchEnvironment": "MANGOHUD=1\\nDXVK_HUD=fps",
    "server_description": "Velmora evening games",
    "server_maxclients": 16,
}


def log_lines(window):
    console = window.get(role="text", name="Server console")
    text = console.get_text(0, console.get_character_count())
    return [line for line in text.split("\n") if line.startswith("[")]


def capture(session, window, path):
    # Give the last change a moment to reach the screen; nothing reports a finished paint.
    time.sleep(0.5)
    result = subprocess.run(["import", "-display", session.display, "-window", window.window_id,
                             path], env=session.env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    if result.returncode != 0 or not os.path.isfile(path):
        raise Failure("import could not save %s: %s" % (path, result.stderr.decode()))
    print("saved", path)


def take(build_dir, out_dir):
    os.environ["VELMORA_BUILD_DIR"] = build_dir
    os.makedirs(out_dir, exist_ok=True)
    with Session("screenshots") as session:
        session.start_display("xvfb")
        atspi = session.start_buses()
        session.write_settings(SETTINGS)
        session.start_launcher()
        window = LauncherWindow(session, atspi)
        window.wait_frame_settled()
        capture(session, window, os.path.join(out_dir, "main-pane.png"))

        window.show_pane("Server", "Server settings")
        capture(session, window, os.path.join(out_dir, "server-pane.png"))

        window.press(window.get(role="push button", description=(
            "Runs the game as a dedicated server, or stops the running one")))
        # The banner, then a few of the log's once-a-second lines.
        wait_for(lambda: len(log_lines(window)) >= 4, 30, "the server's log in the console")
        capture(session, window, os.path.join(out_dir, "server-console.png"))

        # Closed as a user would: the launcher stops its server and ends.
        request_close(session.display, int(window.window_id))
        session.wait_launcher_exit(30)


def main(argv):
    if len(argv) != 3:
        print("usage: %s BUILD_DIR OUT_DIR" % argv[0], file=sys.stderr)
        return 2
    try:
        take(os.path.abspath(argv[1]), os.path.abspath(argv[2]))
    except Skip as why:
        print("screenshots: cannot run: %s" % why, file=sys.stderr)
        return SKIP
    except Failure as why:
        print("screenshots: %s" % why, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
