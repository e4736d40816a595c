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

import pathlib
import statistics
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "support"))
import atspi_client  # noqa: E402

def measure(program, package_host, rate, work):
    with atspi_client.PrivateSession(work) as session:
        reader = atspi_client.Reader()
        with atspi_client.SlowFetch(session, program, package_host, rate, work,
                                    "xp", "de") as fetch:
            window = reader.await_window(atspi_client.TITLE, fetch.process.pid, 10)
            if window is None:
                raise RuntimeError("the window never reached the reader")
            passes = {"fetch": [], "pause": []}
            while fetch.process.poll() is None:
                try:
                    found = atspi_client.read_pass(window)
                except Exception:  # the window went while it was read
                    break
                if found.downloading():
                    passes["fetch"].append(found.seconds)
                elif any(label.startswith("Download ") for label in found.labels):
                    passes["pause"].append(found.seconds)
            fetch.process.wait(30)
            return passes


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
