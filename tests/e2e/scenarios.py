#!/usr/bin/python3
"""End-to-end scenarios: the built launcher, copied beside the stand-in game, driven from outside.

Usage: scenarios.py NAME. Each scenario runs in its own process with its own X server, buses and
launcher (the AT-SPI client binds to one accessibility bus per process). Exit status 0 when it
passes, 1 when it fails, 77 when a program it needs cannot start here.
"""

import os
import re
import signal
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from velmora_session import Failure, Session, is_running, run_scenarios, wait_for  # noqa: E402
from velmora_ui import LauncherWindow  # noqa: E402

BANNER_END = "Server ready."


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


def started(session, display="xvfb", settings=None, extra_env=None):
    session.start_display(display)
    atspi = session.start_buses()
    if settings is not None:
        session.write_settings(settings)
    session.start_launcher(extra_env)
    return LauncherWindow(session, atspi)


def modes_from_xrandr(text):
    """Mode titles of the outputs that are connected and shown, deduplicated, in xrandr's order."""
    titles, active = [], False
    for line in text.splitlines():
        if not line.startswith(" "):
            # "DUMMY0 connected primary 1920x1080+0+0 ...": a geometry means a CRTC drives it.
            active = bool(re.match(r"^\S+ connected (primary )?\d+x\d+\+\d+\+\d+", line))
            continue
        mode = re.match(r"^\s+(\d+)x(\d+)\S*\s", line)
        if active and mode:
            title = "%s x %s" % mode.groups()
            if title not in titles:
                titles.append(title)
    return titles


def console_lines(window):
    """The console's lines as accessibility reads them; the terminal's carriage returns dropped."""
    console = window.get(role="text", name="Server console")
    return [line[:-1] if line.endswith("\r") else line
            for line in window.text_of(console).split("\n")]


def server_button(window):
    # Found by its description: its name is its title, which changes with the server's state.
    return window.get(role="push button",
                      description="Runs the game as a dedicated server, or stops the running one")


def start_server(session, window):
    """Shows the Server pane, presses Start and waits for the banner; returns (button, pid)."""
    window.show_pane("Server", "Server settings")
    button = server_button(window)
    window.press(button)
    wait_for(lambda: BANNER_END in console_lines(window), 30,
             "the server's banner in the console")
    record = wait_for(lambda: (lambda r: r if r and r.get("mode") == "server" else None)(
        session.read_record()), 10, "the stand-in to record the server's start")
    return button, record["pid"]


# ----- scenarios -------------------------------------------------------------------------------


def resolutions_xvfb():
    with Session("resolutions-xvfb") as session:
        window = started(session)
        combo = window.labelled("Resolution:")
        # The single screen of the virtual server, and the saved position 0 selects it.
        check_equal(window.entries(combo), ["1280 x 1024"], "resolution list under Xvfb")
        check_equal(combo.get_name(), "1280 x 1024", "selected resolution")


def resolutions_two_outputs():
    with Session("resolutions-xorg") as session:
        window = started(session, display="dummy", settings={"resolution": 2})
        expected = modes_from_xrandr(session.xrandr("--query"))
        check(len(expected) > 1, "xrandr lists too few modes to compare: %r" % expected)
        combo = window.labelled("Resolution:")
        check_equal(window.entries(combo), expected, "resolution list on two outputs")
        check_equal(combo.get_name(), expected[2], "entry selected by the stored position 2")


def settings_stored():
    with Session("settings") as session:
        window = started(session)
        window.click(window.get(role="check box", name="Full screen"))
        window.choose("Anti-aliasing:", "4×")
        window.choose("Shaders:", "High")
        window.type_into(window.labelled("Extra options:"), "+map arena -nosound")
        window.type_into(window.labelled("Launch with:"), "gamemoderun")
        # Two lines: xdotool types a line feed as a key Qt ignores, so the line break is a Return.
        environment = window.labelled("Environment:")
        window.type_into(environment, "MANGOHUD=1")
        window.focus(environment)
        session.xdotool("key", "--clearmodifiers", "ctrl+End", "Return")
        session.xdotool("type", "--delay", "15", "--file", "-", input="DXVK_HUD=fps")
        session.xdotool("key", "Tab")
        preview = window.text_of(window.labelled("Command:"))
        check(preview.startswith("MANGOHUD=1 DXVK_HUD=fps gamemoderun ")
              and preview.endswith(" -w1280 -h1024 -z32 -a4 -f2 +map arena -nosound"),
              "the command shown: %r" % preview)

        window.show_pane("Server", "Server settings")
        window.type_into(window.labelled("Description:"), "Friday night")
        window.type_into(window.labelled("Password:"), "s3cret")
        window.type_into(window.labelled("Client limit:"), "12")
        window.type_into(window.labelled("Server options:"), "--interval 250")

        expected = {
            "fullscreen": "1",
            "fsaa": "4",
            "shader": "2",
            "advancedOptions": "+map arena -nosound",
            "launchWrapper": "gamemoderun",
            # As the preferences file holds it: quoted, a line break as a backslash escape.
            "launchEnvironment": '"MANGOHUD=1\\nDXVK_HUD=fps"',
            "server_description": "Friday night",
            "server_password": "s3cret",
            "server_maxclients": "12",
            "server_options": "--interval 250",
        }
        stored = wait_for(lambda: (lambda s: s if all(k in s for k in expected) else None)(
            session.stored_settings()), 10, "every setting to reach the preferences file")
        for key, value in expected.items():
            check_equal(stored[key], value, "stored %s" % key)
        check("resolution" not in stored, "the resolution was written without being chosen")
        check(window.showing(window.frame), "the window closed while editing settings")


def play():
    settings = {"fullscreen": 0, "fsaa": 2, "shader": 3, "advancedOptions": "+map arena"}
    with Session("play") as session:
        window = started(session, settings=settings)
        check(os.path.realpath("/proc/%d/exe" % session.launcher.pid)
              == os.path.join(session.folder, "velmora-launcher"),
              "the launcher runs from the folder with a space in its name")
        window.press(window.get(role="push button", name="Play"))
        status = session.wait_launcher_exit(30)
        check_equal(status, 0, "the launcher's exit status after Play")
        record = wait_for(session.read_record, 30, "the stand-in to record its start")
        game_dir = os.path.join(session.folder, "Orvane")
        check_equal(record["mode"], "game", "the stand-in's mode")
        check_equal(record["cwd"], game_dir, "the game's working directory")
        check_equal(record["arguments"],
                    ["-w1280", "-h1024", "-z32", "-t", "-a2", "-f3", "+map", "arena"],
                    "the game's command line")
        check_equal(os.path.realpath(record["argv0"]),
                    os.path.join(game_dir, "orvane.app", "Contents", "MacOS", "orvane"),
                    "the program started")


def server_console():
    settings = {"server_description": "E2E night", "server_maxclients": 6,
                "server_options": "--commands"}
    with Session("server") as session:
        window = started(session, settings=settings)
        window.show_pane("Server", "Server settings")
        check_equal(server_button(window).get_name(), "Start", "the server button before a run")
        window.focus_window()
        button, pid = start_server(session, window)
        check(is_running(pid), "the server is not running while its banner shows")
        check_equal(button.get_name(), "Stop", "the server button while a server runs")
        lines = console_lines(window)
        banner = lines[: lines.index(BANNER_END) + 1]
        check_equal(banner[0], "Orvane dedicated server (stand-in), pid %d" % pid,
                    "the banner's first line")
        for line in ('Description: "E2E night"', "Client limit: 6", "Password: none"):
            check(line in banner, "%r is missing from the banner %r" % (line, banner))

        # The command line under the console: typed, sent with Return, answered, recalled.
        field = window.get(role="text", name="Server command")
        check(window.enabled(field), "the command line is disabled while a server runs")
        wait_for(lambda: field.get_state_set().contains(window.Atspi.StateType.FOCUSED), 10,
                 "the command line to have the focus after Start")
        session.xdotool("type", "--delay", "15", "--file", "-", input="say hello from e2e")
        session.xdotool("key", "Return")
        wait_for(lambda: "Console: hello from e2e" in console_lines(window), 15,
                 "the server's answer to the command in the console")
        check_equal(window.text_of(field), "", "the command line after Return")
        session.xdotool("key", "Up")
        wait_for(lambda: window.text_of(field) == "say hello from e2e", 10,
                 "Up to recall the command")
        session.xdotool("key", "Down")
        wait_for(lambda: window.text_of(field) == "", 10, "Down to return to the empty line")

        window.press(button)
        wait_for(lambda: button.get_name() == "Start", 15, "the button to read Start again")
        after = wait_for(lambda: (lambda ls: ls if " " in ls[ls.index(BANNER_END):] else None)(
            console_lines(window)), 15, "the separator line after the server's output")
        check(after[-1] == " ", "the console ends with %r instead of the separator" % after[-1])
        check(not window.enabled(field), "the command line is enabled with no server running")
        session.wait_gone(pid, 15, "the stopped server to be gone")
        check(session.launcher.poll() is None, "the launcher ended when the server stopped")


def file_size_limit():
    """A file-size limit reached by the server's log ends the log, with a word, not the launcher."""
    with Session("fsize") as session:
        limited = os.path.join(session.folder, "limited-launcher")
        with open(limited, "w") as f:
            f.write('#!/bin/sh\nexec prlimit --fsize=65536 "$(dirname "$0")/velmora-launcher"\n')
        os.chmod(limited, 0o755)
        session.start_display("xvfb")
        atspi = session.start_buses()
        session.write_settings({"server_options": "--flood 20000"})
        session.start_launcher(program=limited)
        window = LauncherWindow(session, atspi)
        window.show_pane("Server", "Server settings")
        button = server_button(window)
        window.press(button)
        # The console's line scrolls away under the flood; the window's message stays.
        wait_for(lambda: any("File too large" in (label.get_description() or "")
                             for label in window.find_all(role="label", name="Message")), 30,
                 "the window to say that the log could not be written")
        pid = session.read_record()["pid"]
        check(session.launcher.poll() is None, "the launcher ended at the file-size limit")
        check(is_running(pid), "the server ended with its log")
        window.press(button)
        wait_for(lambda: button.get_name() == "Start", 15, "the button to read Start again")


def pane_switch():
    with Session("panes") as session:
        window = started(session)
        before = window.wait_frame_settled()
        before_a11y = window.extents(window.frame)
        window.show_pane("Server", "Server settings")
        server = window.wait_frame_settled()
        check(server[2:] != before[2:], "the window kept its size %r for the Server pane"
              % (server[2:],))
        check_equal(server[:2], before[:2], "top-left corner after showing the Server pane")
        check_equal(window.extents(window.frame)[:2], before_a11y[:2],
                    "top-left corner (accessibility) after showing the Server pane")
        window.show_pane("Main", "Main settings")
        main = window.wait_frame_settled()
        check_equal(main[:2], before[:2], "top-left corner after returning to the Main pane")
        check_equal(main[2:], before[2:], "size after returning to the Main pane")


def close_with_server():
    with Session("close") as session:
        window = started(session, settings={"server_options": "--interval 60000"})
        _, pid = start_server(session, window)
        launcher_pid = session.launcher.pid
        # A window manager's close button asks the window through WM_DELETE_WINDOW.
        from xclose import request_close
        request_close(session.display, int(window.window_id))
        status = session.wait_launcher_exit(30)
        check_equal(status, 0, "the launcher's exit status after closing its window")
        session.wait_gone(pid, 15, "the server to be gone after the window closed")
        left = wait_for(lambda: not session.game_processes() or None, 10,
                        "no launcher or game process to be left") and session.game_processes()
        check(not left, "processes left behind: %r" % left)
        check(not is_running(launcher_pid), "the launcher process is still there")


def helper_pids(window, count):
    """The pids of the stand-in's helpers (--children), once `count` have announced themselves."""
    pids = [int(line.split()[1]) for line in console_lines(window)
            if re.fullmatch(r"(child|grandchild) \d+", line)]
    return pids if len(pids) >= count else None


def start_server_with_helpers(session, window):
    """Starts a server whose helpers ignore the hang-up and SIGTERM; returns (pid, helper pids)."""
    try:
        os.remove(session.record)
    except FileNotFoundError:
        pass
    _, pid = start_server(session, window)
    helpers = wait_for(lambda: helper_pids(window, 2), 15, "the server's helpers to start")
    for helper in helpers:
        check(os.getpgid(helper) == pid, "helper %d is not in the server's group" % helper)
    return pid, helpers


# Helpers that write rarely: one that ignores the hang-up lives on until its next write fails.
HELPER_SETTINGS = {"server_options": "--children 1 --interval 60000",
                   "server_description": "Kept"}


def signals_with_server():
    """A termination signal ends the real launcher as closing its window does: main.cpp wires it,
    the exit status is 0, nothing of the server's group is left and the settings stay as they
    were. (That SIGINT and SIGHUP arrive as SIGTERM does, and that closing ends each of the
    server's helpers, are tst_server's; that a launcher killed outright takes its server along is
    tst_ServerRunLifecycle's.)"""
    with Session("signals") as session:
        session.start_display()
        atspi = session.start_buses()
        session.write_settings(HELPER_SETTINGS)
        with open(os.path.join(session.config_home, "Velmora", "Launcher.conf"), "rb") as f:
            stored = f.read()
        session.start_launcher()
        window = LauncherWindow(session, atspi)
        pid, _ = start_server_with_helpers(session, window)
        os.kill(session.launcher.pid, signal.SIGTERM)
        status = session.wait_launcher_exit(30)
        check_equal(status, 0, "the launcher's exit status after SIGTERM")
        session.wait_gone(pid, 15, "the server to be gone after SIGTERM")
        with open(os.path.join(session.config_home, "Velmora", "Launcher.conf"), "rb") as f:
            check_equal(f.read(), stored, "the preferences file after SIGTERM")
        left = wait_for(lambda: not session.game_processes() or None, 10,
                        "no launcher or game process to be left") and session.game_processes()
        check(not left, "processes left behind: %r" % left)


def display_lost_with_server():
    """A launcher whose X server goes away takes its server's whole group with it."""
    with Session("display-lost") as session:
        window = started(session, settings=HELPER_SETTINGS)
        pid, helpers = start_server_with_helpers(session, window)
        xvfb = next(process for what, process in session._children if what == "xvfb")
        xvfb.kill()
        xvfb.wait(15)
        session.wait_launcher_exit(30)
        session.wait_gone(pid, 15, "the server to be gone with the display")
        for helper in helpers:
            session.wait_gone(helper, 15, "the server's helper to be gone with the display")


def help_page():
    with Session("help") as session:
        fake_bin = os.path.join(session.root, "bin")
        opened = os.path.join(session.root, "opened.txt")
        os.makedirs(fake_bin)
        # The desktop's opener, replaced by one that notes what it was asked to open.
        with open(os.path.join(fake_bin, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n' % opened)
        os.chmod(os.path.join(fake_bin, "xdg-open"), 0o755)
        path = fake_bin + os.pathsep + session.env.get("PATH", "/usr/bin:/bin")
        window = started(session, extra_env={"PATH": path, "BROWSER": ""})
        window.click(window.toolbar_item("Help"))

        def request():
            try:
                with open(opened) as f:
                    return f.read().splitlines()
            except OSError:
                return None

        urls = wait_for(request, 20, "the opener to be asked to open the help page")
        check_equal(len(urls), 1, "number of pages opened")
        url = urllib.parse.urlsplit(urls[0])
        check_equal(url.scheme, "file", "scheme of the help page's address")
        check_equal(urllib.parse.unquote(url.path), os.path.join(session.folder, "README.html"),
                    "the help page opened")
        check(session.launcher.poll() is None, "the launcher ended after Help")
        check(window.showing(window.get(role="filler", name="Main settings")),
              "Help changed the pane shown")


def assistive_actions():
    """What a screen reader offers its user: each control's own accessibility actions."""
    with Session("assistive") as session:
        window = started(session)
        window.act(window.get(role="check box", name="Full screen"), "Toggle")
        stored = wait_for(session.stored_settings, 10,
                          "the full screen setting to be stored after its Toggle action")
        check_equal(stored.get("fullscreen"), "1", "stored fullscreen")

        server = window.toolbar_item("Server")
        window.act(server, server.get_action_name(0))
        window.get(role="filler", name="Server settings")
        check(window.find(role="filler", name="Main settings") is None,
              "the Main pane is still shown beside the Server pane")


SCENARIOS = {
    "resolutions_xvfb": resolutions_xvfb,
    "resolutions_two_outputs": resolutions_two_outputs,
    "settings_stored": settings_stored,
    "play": play,
    "server_console": server_console,
    "file_size_limit": file_size_limit,
    "pane_switch": pane_switch,
    "close_with_server": close_with_server,
    "signals_with_server": signals_with_server,
    "display_lost_with_server": display_lost_with_server,
    "help_page": help_page,
    "assistive_actions": assistive_actions,
}

if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, sys.argv))
