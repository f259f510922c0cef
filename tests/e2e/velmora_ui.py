"""The launcher's window as a person (or a screen reader) meets it: found and operated through the
accessibility bus, with keyboard and pointer input sent through the X server.

Names used here are the accessible names the launcher gives its controls. Combo boxes are named
after their current entry, so they are found through the label that names them.
"""

import time

from velmora_session import Failure, wait_for


def _vanished(error):
    """Whether an AT-SPI call failed because its object no longer exists."""
    return "No such object" in str(error) or "UnknownObject" in str(error)

# A push button's press is carried out about 100 ms after the request, and a second request in
# that window is dropped; every press waits this long before anything else is sent.
PRESS_SETTLE = 0.3


class LauncherWindow:
    def __init__(self, session, atspi, timeout=30):
        self.session = session
        self.Atspi = atspi
        self.app = wait_for(self._find_app, timeout,
                            "the launcher to appear on the accessibility bus")
        # Names and states change under us (combo titles, the button's title, panes shown):
        # always ask the launcher rather than a cache.
        self.app.set_cache_mask(atspi.Cache.NONE)
        self.frame = wait_for(lambda: self.find(role="frame", name="Velmora"), timeout,
                              "the launcher window")
        self.window_id = wait_for(self._x_window, timeout, "the launcher's X window")

    def _find_app(self):
        if self.session.launcher.poll() is not None:
            raise Failure("the launcher ended during start-up (status %s)"
                          % self.session.launcher.returncode)
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == self.session.launcher.pid:
                return app
        return None

    def _x_window(self):
        try:
            ids = self.session.xdotool("search", "--onlyvisible", "--pid",
                                       self.session.launcher.pid).split()
        except Failure:
            return None
        return ids[0] if len(ids) == 1 else None

    # ----- finding ---------------------------------------------------------------------------

    def _walk(self, accessible):
        yield accessible
        try:
            children = [accessible.get_child_at_index(i) for i in range(accessible.get_child_count())]
        except Exception as error:  # GLib.Error: the object went away while we walked
            if not _vanished(error):
                raise
            return
        for child in children:
            if child is not None:
                yield from self._walk(child)

    def showing(self, accessible):
        return accessible.get_state_set().contains(self.Atspi.StateType.SHOWING)

    def enabled(self, accessible):
        return accessible.get_state_set().contains(self.Atspi.StateType.ENABLED)

    def find_all(self, role=None, name=None, description=None, showing=True, within=None):
        found = []
        for accessible in self._walk(within or self.app):
            try:
                if role is not None and accessible.get_role_name() != role:
                    continue
                if name is not None and accessible.get_name() != name:
                    continue
                if description is not None and accessible.get_description() != description:
                    continue
                if showing and not self.showing(accessible):
                    continue
            except Exception as error:
                # A widget that is going away (the blank view of a pane switch, say) may vanish
                # between listing it and asking about it: it is no longer there to be found.
                if not _vanished(error):
                    raise
                continue
            found.append(accessible)
        return found

    def find(self, **criteria):
        found = self.find_all(**criteria)
        if len(found) > 1:
            raise Failure("more than one control matches %r" % criteria)
        return found[0] if found else None

    def get(self, timeout=15, **criteria):
        """Waits until exactly one control matches. While a pane switch moves a pane from one
        parent to another, the accessibility tree may list it twice for a moment; a control that
        is still listed twice when the time is up is a failure."""
        seen = []

        def single():
            seen[:] = self.find_all(**criteria)
            return seen[0] if len(seen) == 1 else None

        try:
            return wait_for(single, timeout, "a control matching %r" % criteria)
        except Failure:
            if len(seen) > 1:
                raise Failure("more than one control matches %r" % criteria)
            raise

    def labelled(self, label_text, timeout=15):
        """The control that the label reading `label_text` names (its buddy)."""
        label = self.get(timeout, role="label", name=label_text)
        for relation in label.get_relation_set():
            if relation.get_relation_type() == self.Atspi.RelationType.LABEL_FOR:
                return relation.get_target(0)
        raise Failure("the label %r names no control" % label_text)

    # ----- acting ----------------------------------------------------------------------------

    def act(self, accessible, action):
        names = [accessible.get_action_name(i) for i in range(accessible.get_n_actions())]
        if action not in names:
            raise Failure("%r offers no %r action (it offers %r)"
                          % (accessible.get_name(), action, names))
        accessible.do_action(names.index(action))
        time.sleep(PRESS_SETTLE)

    def press(self, accessible):
        self.act(accessible, "Press")

    def toolbar_item(self, label):
        toolbar = self.get(role="tool bar", name="Panes")
        return self.get(name=label, within=toolbar)

    def show_pane(self, label, pane_name):
        """Clicks a pane's toolbar item and waits until the window shows the pane."""
        self.click(self.toolbar_item(label))
        self.get(role="filler", name=pane_name)
        self.wait_frame_settled()

    def focus_window(self):
        # No window manager runs: the X input focus is given to the window directly.
        self.session.xdotool("windowfocus", "--sync", self.window_id)

    def focus(self, accessible):
        self.focus_window()
        accessible.grab_focus()
        wait_for(lambda: accessible.get_state_set().contains(self.Atspi.StateType.FOCUSED), 10,
                 "%r to take the focus" % accessible.get_name())

    def type_into(self, accessible, text):
        """Replaces a field's text by typing, and leaves the field so that it is committed."""
        self.focus(accessible)
        self.session.xdotool("key", "--clearmodifiers", "ctrl+a", "BackSpace")
        # From standard input, so that a text starting with "-" is not read as an option.
        self.session.xdotool("type", "--delay", "15", "--file", "-", input=text)
        self.session.xdotool("key", "Tab")
        wait_for(lambda: not accessible.get_state_set().contains(self.Atspi.StateType.FOCUSED),
                 10, "%r to give up the focus" % accessible.get_name())

    def text_of(self, accessible):
        return accessible.get_text(0, accessible.get_character_count())

    def click(self, accessible, clip=None):
        """Clicks the middle of a control, or of the part of it inside `clip` (x, y, w, h)."""
        x, y, w, h = self.extents(accessible)
        if clip is not None:
            # A list item reports the width of its column, which can exceed its popup.
            right, bottom = min(x + w, clip[0] + clip[2]), min(y + h, clip[1] + clip[3])
            x, y = max(x, clip[0]), max(y, clip[1])
            w, h = right - x, bottom - y
            if w <= 0 or h <= 0:
                raise Failure("%r lies outside its popup" % accessible.get_name())
        self.session.xdotool("mousemove", "--sync", x + w // 2, y + h // 2, "click", "1")

    def choose(self, label_text, entry):
        """Opens the popup of the combo box named by `label_text` and clicks `entry` in it."""
        combo = self.labelled(label_text)
        self.focus_window()
        self.act(combo, "ShowMenu")
        item = self.get(role="list item", name=entry, within=combo)
        popup = item.get_parent()
        wait_for(lambda: self.showing(popup), 10, "the %r popup to open" % label_text)
        self.click(item, clip=self.extents(popup))
        wait_for(lambda: not self.showing(popup), 10, "the %r popup to close" % label_text)
        wait_for(lambda: combo.get_name() == entry, 10,
                 "the %r list to show %r" % (label_text, entry))
        return combo

    def entries(self, combo):
        return [item.get_name() for item in
                self.find_all(role="list item", within=combo, showing=False)]

    # ----- geometry --------------------------------------------------------------------------

    def extents(self, accessible):
        rect = accessible.get_extents(self.Atspi.CoordType.SCREEN)
        return rect.x, rect.y, rect.width, rect.height

    def x_geometry(self):
        """The window's position and size as the X server has them."""
        values = {}
        for line in self.session.xdotool("getwindowgeometry", "--shell",
                                         self.window_id).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def wait_frame_settled(self, timeout=15):
        """Waits for the window's animated resize to end: two reads apart give the same frame."""
        last = [None]

        def settled():
            now = self.x_geometry()
            same = now == last[0]
            last[0] = now
            return now if same else None

        return wait_for(settled, timeout, "the window to stop resizing", interval=0.25)
