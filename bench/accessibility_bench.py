#!/usr/bin/python3
"""accessibility_bench.py PROGRAM PACKAGE_HOST BYTES_PER_SECOND

How long a screen reader takes to read the window, during the fetch and in the pause.
On a private session bus with assistive technology turned on, the program fetches
"xp de" from a package host that trickles BYTES_PER_SECOND, and an AT-SPI client reads
the whole window (role and name of every object, the bar's value) again and again for
as long as it shows. Each pass counts as "fetch" while a label says "Downloading ... ",
and as "pause" once it shows the result. Prints one line:
  fetch_passes=N fetch_median_ms=... fetch_longest_ms=... pause_passes=M pause_median_ms=...
"""

import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "support"))
import atspi_client  # noqa: E402

TITLE = "Setup - Korvani"


def measure(program, package_host, rate, work):
    with atspi_client.PrivateSession(work) as session:
        reader = atspi_client.Reader()
        host = subprocess.Popen([package_host, "--port", "0", "--generate", "--fault",
                                 f"trickle:{rate}"], stdout=subprocess.PIPE, text=True)
        fetch = None
        try:
            port = atspi_client.first_line(host, 10)
            shutil.copy(program, work)
            fetch = subprocess.Popen(
                [str(work / pathlib.Path(program).name), "xp", "de"],
                env=session.program_environment(KORVANI_PACKAGE_HOST=f"127.0.0.1:{port}"))
            window = reader.await_window(TITLE, fetch.pid, 10)
            if window is None:
                raise RuntimeError("the window never reached the reader")
            passes = {"fetch": [], "pause": []}
            while fetch.poll() is None:
                try:
                    found = atspi_client.read_pass(window)
                except Exception:  # the window went while it was read
                    break
                if any(label.startswith("Downloading ... ") for label in found.labels):
                    passes["fetch"].append(found.seconds)
                elif any(label.startswith("Download ") for label in found.labels):
                    passes["pause"].append(found.seconds)
            fetch.wait(30)
            return passes
        finally:
            for process in (fetch, host):
                if process is not None and process.poll() is None:
                    process.kill()
                    process.wait()


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="korvani-a11y-bench.") as work:
        passes = measure(sys.argv[1], sys.argv[2], int(sys.argv[3]), pathlib.Path(work))
    fetch, pause = passes["fetch"], passes["pause"]
    if not fetch or not pause:
        print(f"accessibility_bench: passes during the fetch: {len(fetch)}, in the pause: "
              f"{len(pause)}; both are needed", file=sys.stderr)
        return 1
    print(f"fetch_passes={len(fetch)} fetch_median_ms={statistics.median(fetch) * 1000:.1f} "
          f"fetch_longest_ms={max(fetch) * 1000:.1f} pause_passes={len(pause)} "
          f"pause_median_ms={statistics.median(pause) * 1000:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
