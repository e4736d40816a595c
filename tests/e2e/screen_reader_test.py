#!/usr/bin/python3
"""screen_reader_test.py PROGRAM PACKAGE_HOST

What Orca, GNOME's screen reader, says of two runs of "xp de": on a private session bus
with Orca listening, the program fetches the package from a package host that trickles
it over about three seconds, then from one that answers 404. Of the first run Orca must
say, in this order, the window's title, the file name, a percentage and the result line
with the size; of the second, "Download Failed". Needs an X display with a window
manager, and Orca (Debian's orca), which speaks to no device here: its debug log has
every phrase. Exits 77 (skipped) where another Orca of this user runs: Orca starts
only once for each user.
"""

import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
import atspi_client  # noqa: E402

PACKAGE = "RUD_UZ7_de.exe"
BYTES_PER_SECOND = 300 * 1024
# In order, and each may share a phrase with the one before.
GOOD_RUN = [re.escape(atspi_client.TITLE), re.escape(PACKAGE), r"\b\d+ percent",
            re.escape("Download Complete: 883 KB")]


def spoken_in_order(phrases, patterns):
    """Whether `patterns` match, one after the other, in what Orca said."""
    return re.search(".*".join(f"({pattern})" for pattern in patterns), "\n".join(phrases),
                     re.DOTALL) is not None


def hear_run(session, orca, program, package_host, work, result, fault=None):
    """What Orca says from the start of one run of the program until it says `result`."""
    folder = work / result.replace(" ", "_").strip(":_")
    folder.mkdir()
    before = len(orca.phrases())
    with atspi_client.SlowFetch(session, program, package_host, BYTES_PER_SECOND, folder,
                                "xp", "de", fault=fault) as fetch:
        if fetch.process.wait(60) != 0:
            raise AssertionError(f"the run that ends in {result!r} did not end well")
    # Announced before the pause, two seconds before the window went: with the end of
    # the run, the phrase is on its way.
    orca.await_phrase(lambda phrase: result in phrase, 10)
    return orca.phrases()[before:]


def run(program, package_host, work):
    with atspi_client.PrivateSession(work) as session, atspi_client.Orca(work) as orca:
        good = hear_run(session, orca, program, package_host, work, "Download Complete: ")
        if not spoken_in_order(good, GOOD_RUN):
            raise AssertionError(f"Orca did not say the title, {PACKAGE}, a percentage and "
                                 f"the result with the size in this order, but: {good}")
        failed = hear_run(session, orca, program, package_host, work, "Download Failed",
                          fault="status:404")
        if not any("Download Failed" in phrase for phrase in failed):
            raise AssertionError(f"Orca did not say the failure, but: {failed}")
        print("good run:", " | ".join(good))
        print("failed run:", " | ".join(failed))


if __name__ == "__main__":
    atspi_client.test_main(run, __doc__, "korvani-orca.")
