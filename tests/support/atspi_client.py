"""A screen reader's view of a window, through AT-SPI (python3-pyatspi).

Used by the accessibility test and by bench/accessibility_bench.py; Orca, a screen
reader that speaks, for the screen reader test. Every wait here sleeps (in GLib's main
loop, which the AT-SPI events of the window wake, or on Orca's log) and ends at a
deadline: nothing is polled by the clock.

A PrivateSession must be entered before the first Reader is made: libatspi connects
to the accessibility bus when it loads, and finds it through the environment.
"""

import dataclasses
import json
import os
import pathlib
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty

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


class Orca:
    """Orca, GNOME's screen reader, on the session, for as long as the block lasts.

    It speaks to no device: its settings name no speech server, and its debug log keeps
    every phrase it would have spoken ("SPEECH OUTPUT: '...'"). The log goes to a
    terminal (a pty) that this process reads as Orca writes it: Python writes to a
    terminal line by line, so every phrase arrives at once, where a file would hold the
    last ones back until Orca ends. Its settings, data and caches live in `folder`.

    The block is entered once Orca listens on the accessibility bus, so that a program
    started afterwards is heard from its first event. Orca runs in a process group of
    its own, ended with SIGKILL: it would take SIGTERM only at its next AT-SPI event
    (its main loop runs in C, which does not wake for Python's signal handlers), and by
    then its phrases have all been read.

    Orca starts only where no other Orca of this user runs (a blind developer's own, or
    that of a test run beside this one): there entering raises OrcaUnavailable.
    """

    # What Orca must be listening to before the program starts, in the registry's
    # names: the window's activation, a notification that shows, the bar's value.
    LISTENED = ("Window:Activate:", "Object:StateChanged:Showing",
                "Object:PropertyChange:AccessibleValue")
    # A phrase's line: the phrase in quotes, then perhaps the voice's name, then the
    # voice's settings.
    _PHRASE = re.compile(r" - SPEECH OUTPUT: '(.*)'(?: voice=\w+)?\{.*\}$")

    def __init__(self, folder):
        self._folder = folder
        self._output = folder / "orca-output.log"
        self._process = None
        self._terminal = None
        self._reader = None
        self._phrases = []
        self._spoken = threading.Condition()

    def __enter__(self):
        # As Orca itself looks for another one.
        others = subprocess.run(["pgrep", "-u", str(os.getuid()), "-x", "orca"],
                                stdout=subprocess.PIPE, text=True, check=False).stdout.split()
        if others:
            raise OrcaUnavailable(f"another Orca of this user runs (process {', '.join(others)})")
        prefs = self._folder / "orca"
        prefs.mkdir()
        (prefs / "user-settings.conf").write_text(json.dumps({
            # No speech server: the phrases go to the debug log alone. No sound and no
            # braille either.
            "general": {"speechServerFactory": "", "speechFactoryModules": [],
                        "enableSound": False, "enableBraille": False},
            "profiles": {"default": {"profile": ["Default", "default"]}},
            "pronunciations": {}, "keybindings": {}}))
        environment = dict(os.environ, GSETTINGS_BACKEND="memory",
                           XDG_DATA_HOME=str(self._folder / "data"),
                           XDG_CONFIG_HOME=str(self._folder / "config"),
                           XDG_CACHE_HOME=str(self._folder / "cache"))
        self._terminal = pty.openpty()
        tty.setraw(self._terminal[1])  # lines as written, without carriage returns
        self._reader = threading.Thread(target=self._read_log, daemon=True)
        self._reader.start()
        try:
            with open(self._output, "w", encoding="utf-8") as output:
                self._process = subprocess.Popen(
                    ["orca", "--user-prefs", str(prefs),
                     "--debug-file", os.ttyname(self._terminal[1])],
                    env=environment, stdin=subprocess.DEVNULL, stdout=output,
                    stderr=subprocess.STDOUT, start_new_session=True)
            self._await_listening(30)
        except BaseException:
            self._stop()
            raise
        return self

    def __exit__(self, *exception):
        self._stop()

    def phrases(self):
        """The phrases Orca has spoken so far, in order."""
        with self._spoken:
            return list(self._phrases)

    def await_phrase(self, accept, seconds):
        """Waits until Orca has spoken a phrase that accept(phrase) takes, for at most
        `seconds`; whether it has."""
        with self._spoken:
            return self._spoken.wait_for(
                lambda: any(accept(phrase) for phrase in self._phrases), seconds)

    def _read_log(self):
        pending = b""
        while True:
            try:
                chunk = os.read(self._terminal[0], 65536)
            except OSError:  # every writer has gone
                return
            if not chunk:
                return
            *lines, pending = (pending + chunk).split(b"\n")
            found = [match.group(1) for match in
                     map(self._PHRASE.search, (line.decode(errors="replace") for line in lines))
                     if match]
            if found:
                with self._spoken:
                    self._phrases.extend(found)
                    self._spoken.notify_all()

    def _await_listening(self, seconds):
        """Sleeps in GLib's main loop until one client of the accessibility bus's
        registry listens to all of LISTENED: a new listener wakes it, and so does
        Orca's end."""
        bus = Gio.DBusConnection.new_for_address_sync(
            os.environ["AT_SPI_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        registry = ("org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                    "org.a11y.atspi.Registry")
        woken = []

        def wake(*_):
            woken.append(True)
            return GLib.SOURCE_CONTINUE

        subscription = bus.signal_subscribe(
            registry[0], registry[2], "EventListenerRegistered", registry[1], None,
            Gio.DBusSignalFlags.NONE, wake)
        ended = os.pidfd_open(self._process.pid)
        watch = GLib.unix_fd_add_full(GLib.PRIORITY_DEFAULT, ended, GLib.IOCondition.IN, wake)
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        try:
            while not self._listening(bus, registry):
                if self._process.poll() is not None:
                    said = self._output.read_text(encoding="utf-8").strip()
                    raise RuntimeError(f"Orca ended with {self._process.returncode}: {said}")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError(f"Orca did not listen within {seconds} s")
                woken.clear()
                timer = GLib.timeout_add(int(left * 1000) + 1, wake)
                while not woken:
                    context.iteration(True)
                GLib.source_remove(timer)
        finally:
            GLib.source_remove(watch)
            os.close(ended)
            bus.signal_unsubscribe(subscription)
            bus.close_sync(None)

    def _listening(self, bus, registry):
        listeners = bus.call_sync(
            *registry, "GetRegisteredEvents", None, GLib.VariantType("(a(ss))"),
            Gio.DBusCallFlags.NONE, 10_000, None).unpack()[0]
        events = {}
        for sender, event in listeners:
            events.setdefault(sender, set()).add(event)
        return any(all(wanted in found for wanted in self.LISTENED) for found in events.values())

    def _stop(self):
        if self._process is not None:
            try:
                os.killpg(self._process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self._process.wait(10)
        if self._terminal is not None:
            # The reader ends once the last writer, this end, has gone.
            os.close(self._terminal[1])
            self._reader.join(10)
            os.close(self._terminal[0])
            self._terminal = None


class OrcaUnavailable(RuntimeError):
    """Orca cannot start here, and why."""


# The program's window, as a reader finds it.
TITLE = "Setup - Korvani"


class SlowFetch:
    """The program fetching one package from a package host that trickles it at
    `rate` bytes a second, or misbehaves as `fault` says (a --fault mode of the host):
    the program runs from `folder`, where it saves the package, in the session's
    environment, and both processes end with the block."""

    def __init__(self, session, program, package_host, rate, folder, *arguments, fault=None):
        self._host = subprocess.Popen(
            [package_host, "--port", "0", "--generate", "--fault", fault or f"trickle:{rate}"],
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


def test_main(run, doc, prefix):
    """A test's main: run(program, package_host, folder) with the two programs from the
    command line and a scratch folder. Exits 0 when it passes, 1 when it raises
    AssertionError, 77 (skipped) when Orca cannot be had, 2 on a wrong command line."""
    if len(sys.argv) != 3:
        print(doc, file=sys.stderr)
        sys.exit(2)
    with tempfile.TemporaryDirectory(prefix=prefix) as work:
        try:
            run(sys.argv[1], sys.argv[2], pathlib.Path(work))
        except AssertionError as failure:
            print(f"FAIL: {failure}", file=sys.stderr)
            sys.exit(1)
        except OrcaUnavailable as reason:
            print(f"SKIP: Orca runs once for each user, and {reason}")
            sys.exit(77)
    sys.exit(0)
