#!/usr/bin/python3
"""accessibility_test.py PROGRAM PACKAGE_HOST

A screen reader during the fetch. On a private session bus with assistive technology
turned on, the program fetches "xp en" at 120 KB/s (about seven seconds). A reader
finds its window by name, reads it whole (role, the bar's name and value, the labels'
texts), waits for the bar to move on and reads it whole again, both times while the
window still says it is downloading. Needs an X display with a window manager.
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
import atspi_client  # noqa: E402

TITLE = atspi_client.TITLE
PACKAGE = "RUD_UZ7_en.exe"
PACKAGE_BYTES = 793 * 1024
BYTES_PER_SECOND = 120 * 1024


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def run(program, package_host, work):
    folder = work / "program"
    folder.mkdir()
    with atspi_client.PrivateSession(work) as session:
        reader = atspi_client.Reader()
        with atspi_client.SlowFetch(session, program, package_host, BYTES_PER_SECOND, folder,
                                    "xp", "en") as fetch:
            window = reader.await_window(TITLE, fetch.process.pid, 10)
            check(window is not None, f"no window named {TITLE!r} reached the reader")
            first = reader.await_pass(window, atspi_client.Pass.downloading, 5)
            check(first is not None, "the window never said it was downloading")
            check(first.role == "alert", f"the window is presented as a {first.role}")
            check(first.name == TITLE, f"the window is named {first.name!r}")
            check(first.bar_name == "Overall Progress", f"the bar is named {first.bar_name!r}")
            check(PACKAGE in first.labels, f"no label names the package: {first.labels}")

            second = reader.await_pass(
                window, lambda found: found.bar_value > first.bar_value and found.downloading(), 5)
            check(second is not None, "the bar did not move on while the window said it was "
                                      f"downloading; the first pass read {first}")
            reader.close()

            check(fetch.process.wait(60) == 0, "the program did not end well")
            saved = folder / PACKAGE
            check(saved.exists() and saved.stat().st_size == PACKAGE_BYTES,
                  "the package was not saved")
            print(f"passes of {first.seconds * 1000:.0f} and {second.seconds * 1000:.0f} ms; "
                  f"the bar read {first.bar_value} then {second.bar_value}")


if __name__ == "__main__":
    atspi_client.test_main(run, __doc__, "korvani-a11y.")
