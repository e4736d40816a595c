"""A screen reader's view of a window, through AT-SPI (python3-pyatspi).

Used by the accessibility test and by bench/accessibility_bench.py. Every wait here
sleeps in GLib's main loop, which the AT-SPI events of the window wake, and ends at a
deadline: nothing is polled by the clock.

A PrivateSession must be entered before the first Reader is made: libatspi connects
to the accessibility bus when it loads, and finds it through the environment.
"""

import dataclasses
import os
import pathlib
import select
import shutil
import signal
import subprocess
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

# The events that tell a reader its view may have moved on: an application or a window
# came or went, or a value or a name changed.
_WAKING_EVENTS = (
    "object:children-changed",
    "window:create",
    "object:property-change:accessible-value",
    "object:property-change:accessible-name",
)


def first_line(process, seconds):
    """The first line `process` writes to its standard output, read with a deadline."""
    ready, _, _ = select.select([process.stdout], [], [], seconds)
    if not ready:
        raise RuntimeError(f"{process.args[0]} wrote nothing within {seconds} s")
    return process.stdout.readline().strip()


class PrivateSession:
    """A session bus of its own and the accessibility bus it starts on demand, for
    this process and the programs it starts afterwards (through os.environ).

    This process reaches the accessibility bus through AT_SPI_BUS_ADDRESS, which
    libatspi takes before anything else, so that a bus another session left announced
    on the X display cannot get in the way. Programs find it as a desktop's programs
    do, through the session bus and the bus launcher's announcement on the display
    (Qt exposes nothing on a bus named in the variable): start them with
    program_environment(). The buses run in a process group of their own and are
    stopped with SIGTERM, so that the launcher takes its announcement off the display
    as it goes.
    """

    def __init__(self, folder):
        self._folder = folder
        self._bus = None

    def __enter__(self):
        runtime = self._folder / "runtime"
        runtime.mkdir(mode=0o700)
        os.environ["XDG_RUNTIME_DIR"] = str(runtime)
        self._bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        try:
            os.environ["DBUS_SESSION_BUS_ADDRESS"] = first_line(self._bus, 10)
            session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
            address = session.call_sync(
                "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 10_000, None).unpack()[0]
            os.environ["AT_SPI_BUS_ADDRESS"] = address
            # What a screen reader says when it starts: toolkits started from now on
            # expose their windows.
            session.call_sync(
                "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                None, Gio.DBusCallFlags.NONE, 10_000, None)
        except BaseException:
            self._stop()
            raise
        return self

    def __exit__(self, *exception):
        self._stop()

    @staticmethod
    def program_environment(**extra):
        """The environment for a program that the reader is to see."""
        environment = dict(os.environ, **extra)
        environment.pop("AT_SPI_BUS_ADDRESS", None)
        return environment

    def _stop(self):
        try:
            os.killpg(self._bus.pid, signal.SIGTERM)
            self._bus.wait(5)
        except subprocess.TimeoutExpired:
            os.killpg(self._bus.pid, signal.SIGKILL)
            self._bus.wait()
        except ProcessLookupError:
            self._bus.wait()


# The program's window, as a reader finds it.
TITLE = "Setup - Korvani"


class SlowFetch:
    """The program fetching one package from a package host that trickles it at
    `rate` bytes a second: the program runs from `folder`, where it saves the package,
    in the session's environment, and both processes end with the block."""

    def __init__(self, session, program, package_host, rate, folder, *arguments):
        self._host = subprocess.Popen(
            [package_host, "--port", "0", "--generate", "--fault", f"trickle:{rate}"],
            stdout=subprocess.PIPE, text=True)
        self.process = None
        try:
            port = first_line(self._host, 10)
            shutil.copy(program, folder)
            self.process = subprocess.Popen(
                [str(folder / pathlib.Path(program).name), *arguments],
                env=session.program_environment(KORVANI_PACKAGE_HOST=f"127.0.0.1:{port}"))
        except BaseException:
            self.__exit__()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        for process in (self.process, self._host):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()


@dataclasses.dataclass
class Pass:
    """What one pass over a window read, and how long it took."""
    seconds: float
    role: str
    name: str
    bar_name: str = ""
    bar_value: float = -1.0
    labels: list = dataclasses.field(default_factory=list)

    def downloading(self):
        """Whether the window said it was downloading."""
        return any(label.startswith("Downloading ... ") for label in self.labels)


def read_pass(window):
    """Reads the whole window once, as a screen reader reviewing it does: every
    object's role and name, and the bar's value. A label's text is its name."""
    import pyatspi  # here, not at the top: libatspi connects as it loads
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
        import pyatspi  # here, not at the top: libatspi connects as it loads
        self._registry = pyatspi.Registry
        self._listener = lambda event: None
        for event in _WAKING_EVENTS:
            self._registry.registerEventListener(self._listener, event)

    def close(self):
        for event in _WAKING_EVENTS:
            self._registry.deregisterEventListener(self._listener, event)

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
            for application in self._registry.getDesktop(0):
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
