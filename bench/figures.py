#!/usr/bin/env python3
"""The statistics of bench/run: medians and spreads of the figures it recorded.

  figures.py report FOLDER RUNS    prints the table and the details
  figures.py cpu TIMES_FILE        the children's CPU seconds in the output of `times`
  figures.py pings LONGEST_S MEDIAN_S ANSWERED UNANSWERED
                                   the row of the ping run (one run, not a median)
  figures.py accessibility LINE    the row of accessibility_bench.py's line
  figures.py silence LINE          the row of silence_bench.py's line
  figures.py confinement LINE      the row of confine_bench's line

FOLDER holds one file per measurement, one line per round, each line "key=value ...";
a value of "-" is a moment that did not happen. Environment: BIG_BYTES, SMALL_BYTES,
HUGE_BYTES, PAUSE_SECONDS, and the notes printed in the heading (BUILD_TYPE,
DISPLAY_NOTE, HOST, NGINX, FILES_NOTE, LOAD_BEFORE, LOAD_AFTER, STARTED).
"""

import os
import re
import statistics
import sys
from pathlib import Path


def times_seconds(text):
    """Seconds in `times`' notation, such as 1m2.345s."""
    minutes, seconds = re.fullmatch(r"(\d+)m([\d.]+)s", text).groups()
    return int(minutes) * 60 + float(seconds)


def children_cpu(path):
    user, system = Path(path).read_text().split("\n")[1].split()
    return times_seconds(user) + times_seconds(system)


class Figures:
    def __init__(self, folder):
        self.rounds = {}
        for file in Path(folder).iterdir():
            self.rounds[file.name] = [
                dict(field.split("=", 1) for field in line.split())
                for line in file.read_text().splitlines()
                if line.strip()
            ]

    def values(self, name, expression):
        """One value per round: KEY, or keys joined by + and -, left to right."""
        terms = expression.split()
        result = []
        for fields in self.rounds[name]:
            value = float(fields[terms[0]])
            for sign, key in zip(terms[1::2], terms[2::2]):
                value = value - float(fields[key]) if sign == "-" else value + float(fields[key])
            result.append(value)
        return result

    def median(self, name, expression):
        return statistics.median(self.values(name, expression))

    def paired_median(self, first, second, expression):
        """The median of each round's own difference, first minus second: rounds measure
        both back to back, so this holds less of the machine's drift than the difference
        of the two medians."""
        return statistics.median(a - b for a, b in zip(self.values(first, expression),
                                                       self.values(second, expression)))

    def spread_ms(self, name, expression):
        values = self.values(name, expression)
        return f"{min(values) * 1000:.1f} to {max(values) * 1000:.1f} ms"


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def sec(seconds):
    return f"{seconds:.3f} s"


def mib(kib):
    return f"{kib / 1024:.1f} MiB"


def verdict(met):
    return "pass" if met else "MISS"


def report(folder, runs):
    env = os.environ
    big_bytes = int(env["BIG_BYTES"])
    huge_bytes = int(env["HUGE_BYTES"])
    pause_seconds = float(env["PAUSE_SECONDS"])
    f = Figures(folder)
    med = f.median

    fetch_big = med("fetch_big", "fetch_s")
    fetch_big_pinned = med("fetch_big_pinned", "fetch_s")
    fetch_paced = med("fetch_paced", "fetch_s")
    fetch_paced_pinned = med("fetch_paced_pinned", "fetch_s")
    # SHA-256 of the same 64 MiB by libcrypto alone, best of three in each round.
    digest_big = med("digest", "openssl_s")
    pinned_extra = f.paired_median("fetch_big_pinned", "fetch_big", "fetch_s")
    curl_checked_big = med("curl_checked_big", "wall_s")
    curl_big = med("curl_big", "wall_s")
    fetch_small = med("fetch_small", "fetch_s")
    curl_small = med("curl_small", "wall_s")
    # Both processes: the window's, and the fetcher's since it was forked.
    both = "peak_kib - idle_kib + fetcher_peak_kib - fetcher_idle_kib"
    growth_big = med("fetch_big", both)
    growth_huge = med("fetch_huge", both)
    fetch_in_process = med("fetch_big_in_process", "fetch_s")
    apart_ratio = f.paired_median("fetch_big", "fetch_big_in_process", "fetch_s") / fetch_in_process + 1
    startup = med("program", "painted_s")
    anchor_startup = med("anchor_startup", "painted_s")
    pause_length = med("program", "gone_s - file_s")
    pause_cpu = med("program", "cpu_gone_s - cpu_file_s")
    whole_wall = med("program", "exit_s")
    whole_cpu = med("program", "user_s + sys_s")
    # The extra time a 64 MiB package costs a whole run over a 1 KB one, from nginx.
    run_extra = med("run_big", "exit_s") - med("run_tiny", "exit_s")
    curl_extra = med("curl_nginx_big", "wall_s") - med("curl_nginx_tiny", "wall_s")
    # The same for `curl -o FILE && sync FILE`: the durability the program gives its file.
    synced_extra = med("curl_synced_nginx_big", "wall_s") - med("curl_synced_nginx_tiny", "wall_s")
    whole_anchor_wall = anchor_startup + curl_small + pause_seconds
    whole_anchor_cpu = med("anchor_startup", "cpu_painted_s") + med("curl_small", "cpu_s")

    big_ratio = fetch_big / curl_big
    extra_ratio = run_extra / curl_extra
    synced_ratio = run_extra / synced_extra
    small_more = fetch_small - curl_small
    startup_ratio = startup / anchor_startup
    unconfined_startup = med("unconfined", "painted_s")
    pause_share = 100 * pause_cpu / pause_length

    print()
    print(f"korvani-download benchmarks, {env['STARTED']}; {env['CORES']}")
    print(f"Build: {env['BUILD_TYPE']}; display: {env['DISPLAY_NOTE']}; package host on "
          f"{env['HOST']}, nginx on {env['NGINX']}; files under {env['FILES_NOTE']}")
    print(f"Median of {runs} rounds each. Load average before: {env['LOAD_BEFORE']}; "
          f"after: {env['LOAD_AFTER']}.")
    print()
    widths = (32, 11, 15, 15, 20, 5)
    row = lambda *cells: print(
        "| " + " | ".join(f"{cell:<{width}}" for cell, width in zip(cells, widths)) + " |")
    row("Figure", "Ours", "Anchor", "Ratio / diff.", "Target", "Met")
    print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    row("Run: 64 MiB over 1 KB (nginx)", ms(run_extra), ms(synced_extra) + " +sync",
        f"{synced_ratio:.2f} x", "<= 1.25 x", verdict(synced_ratio <= 1.25))
    row("Run: same, vs curl without sync", ms(run_extra), ms(curl_extra) + " curl",
        f"{extra_ratio:.2f} x", "none (reported)", "-")
    row("Fetch 64 MiB (vs curl -s -o)", ms(fetch_big), ms(curl_big), f"{big_ratio:.2f} x",
        "<= 1.5 x", verdict(big_ratio <= 1.5))
    row("Fetch 64 MiB pinned (vs not)", ms(fetch_big_pinned), ms(fetch_big),
        f"{fetch_big_pinned / fetch_big:.3f} x", "none (reported)", "-")
    row("Pinned's extra (vs SHA-256)", ms(pinned_extra), ms(digest_big),
        f"{pinned_extra / digest_big:.2f} x", "<= 1.1 x", verdict(pinned_extra / digest_big <= 1.1))
    row("Fetch 64 MiB paced, pinned/not", ms(fetch_paced_pinned), ms(fetch_paced),
        f"{fetch_paced_pinned / fetch_paced:.3f} x", "<= 1.05 x",
        verdict(fetch_paced_pinned / fetch_paced <= 1.05))
    row("Pinned (vs curl && sha256sum)", ms(fetch_big_pinned), ms(curl_checked_big),
        f"{fetch_big_pinned / curl_checked_big:.2f} x", "<= 1 x",
        verdict(fetch_big_pinned <= curl_checked_big))
    digest_qt = med("digest", "qt_s")
    row("SHA-256 of 64 MiB, libcrypto", ms(digest_big), "Qt " + ms(digest_qt),
        f"{digest_qt / digest_big:.1f} x faster", "none (the choice)", "-")
    row("Fetch 883 KB (vs curl -s -o)", ms(fetch_small), ms(curl_small),
        f"{small_more * 1000:+.1f} ms", "<= +20 ms", verdict(small_more <= 0.020))
    row("Fetch 64 MiB, fetcher apart (vs in process)", ms(fetch_big), ms(fetch_in_process),
        f"{apart_ratio:.3f} x", "<= 1.1 x", verdict(apart_ratio <= 1.1))
    row("Memory growth, 64 MiB, both processes", mib(growth_big), "16.0 MiB",
        f"{growth_big * 1024 / big_bytes:.3f} x body", "<= 16 MiB", verdict(growth_big <= 16384))
    row("Memory growth, 1 GiB, both processes", mib(growth_huge), "16.0 MiB",
        f"{growth_huge * 1024 / huge_bytes:.4f} x body", "<= 16 MiB",
        verdict(growth_huge <= 16384))
    row("Start-up to painted window", ms(startup), ms(anchor_startup), f"{startup_ratio:.2f} x",
        "<= 1.3 x", verdict(startup_ratio <= 1.3))
    confining = f.paired_median("program", "unconfined", "painted_s")
    row("Start-up, confined (vs not)", ms(startup), ms(unconfined_startup),
        f"{confining * 1000:+.1f} ms", "< +1 ms", verdict(confining < 0.001))
    # Both unconfined: the fetcher's own cost, its fork and the channel, at start-up.
    apart = f.paired_median("unconfined", "in_process", "painted_s")
    row("Start-up, fetcher apart (vs in process)", ms(unconfined_startup),
        ms(med("in_process", "painted_s")), f"{apart * 1000:+.1f} ms", "<= +3 ms",
        verdict(apart <= 0.003))
    row("Pause: CPU share of one core", f"{pause_share:.1f} %", "100 % (1 core)",
        ms(pause_cpu) + " CPU", "< 5 %", verdict(pause_share < 5))
    row("Pause: length", sec(pause_length), sec(pause_seconds),
        f"{(pause_length - pause_seconds) * 1000:+.1f} ms", "2.0 to 2.1 s",
        verdict(2.0 <= pause_length <= 2.1))
    row("Whole run xp de: wall time", sec(whole_wall), sec(whole_anchor_wall),
        f"{whole_wall / whole_anchor_wall:.2f} x", "none (reported)", "-")
    row("Whole run xp de: CPU time", ms(whole_cpu), ms(whole_anchor_cpu),
        f"{whole_cpu / whole_anchor_cpu:.2f} x", "none (reported)", "-")
    print()
    print("Details:")
    print(f"- Runs against nginx: 64 MiB {sec(med('run_big', 'exit_s'))}, 1 KB "
          f"{sec(med('run_tiny', 'exit_s'))} (package saved at {ms(med('run_big', 'file_s'))} "
          f"and {ms(med('run_tiny', 'file_s'))}); curl -s -o 64 MiB "
          f"{ms(med('curl_nginx_big', 'wall_s'))}, 1 KB {ms(med('curl_nginx_tiny', 'wall_s'))}; "
          f"with sync FILE after it, 64 MiB {ms(med('curl_synced_nginx_big', 'wall_s'))}, 1 KB "
          f"{ms(med('curl_synced_nginx_tiny', 'wall_s'))}.")
    print(f"- curl's own transfer time (-w %{{time_total}}, without its start-up), package host: "
          f"64 MiB {ms(med('curl_big', 'transfer_s'))}, 883 KB "
          f"{ms(med('curl_small', 'transfer_s'))}; nginx: 64 MiB "
          f"{ms(med('curl_nginx_big', 'transfer_s'))}.")
    print(f"- Spread over the rounds: run 64 MiB {f.spread_ms('run_big', 'exit_s')}, run 1 KB "
          f"{f.spread_ms('run_tiny', 'exit_s')}, curl nginx 64 MiB "
          f"{f.spread_ms('curl_nginx_big', 'wall_s')}, and synced "
          f"{f.spread_ms('curl_synced_nginx_big', 'wall_s')}; fetch 64 MiB "
          f"{f.spread_ms('fetch_big', 'fetch_s')}, curl 64 MiB {f.spread_ms('curl_big', 'wall_s')}; "
          f"fetch 883 KB {f.spread_ms('fetch_small', 'fetch_s')}, curl 883 KB "
          f"{f.spread_ms('curl_small', 'wall_s')}; start-up {f.spread_ms('program', 'painted_s')}, "
          f"unconfined {f.spread_ms('unconfined', 'painted_s')}, "
          f"anchor {f.spread_ms('anchor_startup', 'painted_s')}.")
    for name, label in (("fetch_big", "64 MiB"), ("fetch_huge", "1 GiB"),
                        ("fetch_small", "883 KB")):
        print(f"- {label} fetch: idle {mib(med(name, 'idle_kib'))}, peak "
              f"{mib(med(name, 'peak_kib'))}; growth {mib(med(name, 'peak_kib - idle_kib'))}.")
    print(f"- Pinned 64 MiB fetch: spread {f.spread_ms('fetch_big_pinned', 'fetch_s')}; CPU "
          f"{ms(med('fetch_big_pinned', 'cpu_s'))} against {ms(med('fetch_big', 'cpu_s'))}, peak "
          f"memory growth {mib(med('fetch_big_pinned', 'peak_kib - idle_kib'))}; at 128 MiB/s: "
          f"spreads {f.spread_ms('fetch_paced', 'fetch_s')} and "
          f"{f.spread_ms('fetch_paced_pinned', 'fetch_s')} (pinned), CPU "
          f"{ms(med('fetch_paced', 'cpu_s'))} and {ms(med('fetch_paced_pinned', 'cpu_s'))}.")
    print(f"- Fetch CPU (ours, in-process): 64 MiB {ms(med('fetch_big', 'cpu_s'))}, 883 KB "
          f"{ms(med('fetch_small', 'cpu_s'))}; 1 GiB fetch {sec(med('fetch_huge', 'fetch_s'))}.")
    text_startup = med("text_anchor_startup", "painted_s")
    print(f"- Start-up: first drawing into the window at {ms(med('program', 'drawn_s'))} (anchor "
          f"{ms(med('anchor_startup', 'drawn_s'))}); a Qt window with two \"#\" labels "
          f"(startup_anchor --labels) is painted at {ms(text_startup)}, ours is "
          f"{startup / text_startup:.2f} x that.")
    print(f"- Whole run: window exposed at {ms(med('program', 'exposed_s'))}, package saved at "
          f"{ms(med('program', 'file_s'))}, window gone at {sec(med('program', 'gone_s'))}, "
          f"exit at {sec(whole_wall)}.")
    print(f"- Whole-run anchors: wall = start-up anchor + curl 883 KB command + the "
          f"{pause_seconds:g} s pause; CPU = start-up anchor's CPU to painted + curl 883 KB CPU.")


def row(what, figure, anchor, spread, target, met):
    print(f"| {what:<32} | {figure:<11} | {anchor:<15} | {spread:<15} | {target:<20} | "
          f"{verdict(met):<5} |")


def fields(line):
    return {key: float(value) for key, value in (field.split("=", 1) for field in line.split())}


def pings(longest, median, answered, unanswered):
    longest, median = float(longest), float(median)
    met = longest <= 0.02 and median <= 0.005 and int(unanswered) == 0
    row("Ping answer, 10 s fetch", "med " + ms(median), "-", "longest " + ms(longest),
        "med <= 5, max <= 20 ms", met)
    print(f"- Pings: {answered} answered, {unanswered} unanswered; one run, not a median.")


def accessibility(line):
    f = fields(line)
    met = f["fetch_median_ms"] <= 3 * f["pause_median_ms"]
    row("Screen-reader pass, 10 s fetch", f"{f['fetch_median_ms']:.1f} ms",
        f"pause {f['pause_median_ms']:.1f} ms", f"longest {f['fetch_longest_ms']:.1f} ms",
        "<= 3 x the pause", met)
    print(f"- Screen-reader passes: {f['fetch_passes']:.0f} during the fetch, "
          f"{f['pause_passes']:.0f} in the pause; medians of one run.")


def silence(line):
    f = fields(line)
    met = f["cpu_s"] <= 0.05 and f["wakeups_all"] <= 40
    row("Silent server, CPU and wake-ups", sec(f["cpu_s"]), "-",
        f"{f['wakeups_all']:.0f} wake-ups", "<= 0.05 s, <= 40", met)
    print(f"- Silent server: {f['window_s']:g} s of a 20 s silence; wake-ups are voluntary "
          f"context switches of all threads ({f['wakeups_main']:.0f} of the main thread).")


def confinement(line):
    f = fields(line)
    row("Confining the process", f"{f['median_us']:.0f} us", "-",
        f"slowest {f['slowest_us']:.0f} us", "< 1 ms", f["median_us"] < 1000)
    print(f"- Confinement: rules made and applied (Landlock ABI {f['abi']:.0f}) in a fresh child, "
          f"median of {f['runs']:.0f}.")


def main(argv):
    if len(argv) == 6 and argv[1] == "pings":
        pings(*argv[2:])
    elif len(argv) == 3 and argv[1] in ("accessibility", "silence", "confinement"):
        {"accessibility": accessibility, "silence": silence,
         "confinement": confinement}[argv[1]](argv[2])
    elif len(argv) == 3 and argv[1] == "cpu":
        print(f"{children_cpu(argv[2]):.6f}")
    elif len(argv) == 4 and argv[1] == "report":
        report(argv[2], int(argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
