"""A screen reader's view of a window, through AT-SPI (python3-pyatspi).

Used by the accessibility test and by bench/accessibility_bench.py. Every wait here
sleeps in GLib's main loop, which the AT-SPI events of the window wake, and ends at a
deadline: nothing is polled by the clock.

The session bus must be chosen (DBUS_SESSION_BUS_ADDRESS) before this module is
imported: libatspi connects when it loads.
"""

import dataclasses
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Gio, GLib  # noqa: E402
import pyatspi  # noqa: E402

# The events that tell a reader its view may have moved on: an application or a window
# came or went, or a value, a name or a text changed.
_WAKING_EVENTS = (
    "object:children-changed",
    "window:create",
    "object:property-change:accessible-value",
    "object:property-change:accessible-name",
    "object:text-changed",
)


def enable_accessibility():
    """Turns assistive technology on for the session, as a screen reader does when it
    starts, so that toolkits started afterwards expose their windows."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
        None, Gio.DBusCallFlags.NONE, 10_000, None)


@dataclasses.dataclass
class Pass:
    """What one pass over a window read, and how long it took."""
    seconds: float
    role: str
    name: str
    bar_name: str = ""
    bar_value: float = -1.0
    labels: list = dataclasses.field(default_factory=list)


def read_pass(window):
    """Reads the whole window once, as a screen reader reviewing it does: every
    object's role and name, the bar's value and every label's text."""
    started = time.monotonic()
    found = Pass(seconds=0.0, role=window.getRoleName(), name=window.name)
    pending = [window]
    while pending:
        node = pending.pop()
        role = node.getRole()
        name = node.name
        if role == pyatspi.ROLE_PROGRESS_BAR:
            found.bar_name = name
            found.bar_value = node.queryValue().currentValue
        elif role == pyatspi.ROLE_LABEL:
            found.labels.append(name)
        pending.extend(child for child in node if child is not None)
    found.seconds = time.monotonic() - started
    return found


class Reader:
    """Listens to the events that move a window on, so that waits can sleep on them."""

    def __init__(self):
        self._listener = lambda event: None
        for event in _WAKING_EVENTS:
            pyatspi.Registry.registerEventListener(self._listener, event)

    def close(self):
        for event in _WAKING_EVENTS:
            pyatspi.Registry.deregisterEventListener(self._listener, event)

    def await_result(self, attempt, seconds):
        """Calls attempt() until it returns something other than None, sleeping until
        the next AT-SPI event in between; None once `seconds` have passed."""
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        while True:
            result = attempt()
            if result is not None:
                return result
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            expired = []

            def expire():
                expired.append(True)
                return GLib.SOURCE_REMOVE

            timer = GLib.timeout_add(int(left * 1000) + 1, expire)
            context.iteration(True)
            while context.pending():
                context.iteration(False)
            if not expired:
                GLib.source_remove(timer)

    def await_window(self, title, pid, seconds):
        """The top-level object named `title` of the application with process id `pid`."""
        def attempt():
            for application in pyatspi.Registry.getDesktop(0):
                if application is None or application.get_process_id() != pid:
                    continue
                for window in application:
                    if window is not None and window.name == title:
                        return window
            return None
        return self.await_result(attempt, seconds)

    def await_pass(self, window, accept, seconds):
        """The first pass over `window` that accept(pass) takes."""
        def attempt():
            found = read_pass(window)
            return found if accept(found) else None
        return self.await_result(attempt, seconds)
