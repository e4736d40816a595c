#!/usr/bin/python3
"""silence_bench.py PROGRAM PACKAGE_HOST [SILENCE_SECONDS]

What a silent server costs the program. The package host sends the first 64 KiB of
"xp de" and then nothing for SILENCE_SECONDS (default 20); the program runs from a
scratch folder on $DISPLAY. From one second after the request until one second before
the silence ends, the program's CPU time and its wake-ups (voluntary context switches)
are read from /proc, for its main thread and for all its threads. Prints one line:
  window_s=... cpu_s=... wakeups_main=... wakeups_all=...
"""

import os
import pathlib
import select
import shutil
import subprocess
import sys
import tempfile
import time

MARGIN_S = 1.0


def ticks_per_second():
    return os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of the whole process."""
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks_per_second()


def voluntary_switches(status_file):
    for line in pathlib.Path(status_file).read_text().splitlines():
        if line.startswith("voluntary_ctxt_switches:"):
            return int(line.split()[1])
    raise RuntimeError(f"no voluntary_ctxt_switches in {status_file}")


def wakeups(pid):
    """Voluntary context switches: of the main thread, and of all threads together."""
    main = voluntary_switches(f"/proc/{pid}/status")
    tasks = pathlib.Path(f"/proc/{pid}/task")
    every = sum(voluntary_switches(task / "status") for task in tasks.iterdir())
    return main, every


def read_line(process, seconds):
    ready, _, _ = select.select([process.stdout], [], [], seconds)
    if not ready:
        raise RuntimeError(f"{process.args[0]} said nothing within {seconds} s")
    return process.stdout.readline().strip()


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    program, package_host = sys.argv[1], sys.argv[2]
    silence = float(sys.argv[3]) if len(sys.argv) == 4 else 20.0
    with tempfile.TemporaryDirectory(prefix="korvani-silence.") as work:
        folder = pathlib.Path(work)
        # The host logs each request on its standard output, after the port.
        host = subprocess.Popen([package_host, "--port", "0", "--generate", "--fault",
                                 f"stall:{silence}", "--log", "/dev/stdout"],
                                stdout=subprocess.PIPE, text=True)
        fetch = None
        try:
            port = read_line(host, 10)
            shutil.copy(program, folder)
            fetch = subprocess.Popen([str(folder / pathlib.Path(program).name), "xp", "de"],
                                     env=dict(os.environ, KORVANI_PACKAGE_HOST=f"127.0.0.1:{port}"))
            read_line(host, 10)  # the request: the silence starts as the first 64 KiB go out
            time.sleep(MARGIN_S)  # a measuring window, not a wait for a condition
            cpu_before, (main_before, all_before) = cpu_seconds(fetch.pid), wakeups(fetch.pid)
            window = silence - 2 * MARGIN_S
            time.sleep(window)
            cpu_after, (main_after, all_after) = cpu_seconds(fetch.pid), wakeups(fetch.pid)
            if fetch.wait(60) != 0 or not (folder / "RUD_UZ7_de.exe").exists():
                raise RuntimeError("the program did not save the package after the silence")
        finally:
            for process in (fetch, host):
                if process is not None and process.poll() is None:
                    process.kill()
                    process.wait()
    print(f"window_s={window:.1f} cpu_s={cpu_after - cpu_before:.3f} "
          f"wakeups_main={main_after - main_before} wakeups_all={all_after - all_before}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
