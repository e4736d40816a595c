#pragma once

// The program prints nothing, whatever the environment it is started in, and the
// libraries it loads do not all agree: libpulse, which ALSA loads to ask whether a
// sound server runs, prints when it cannot make its folder (no XDG_RUNTIME_DIR, no
// ~/.config, or the confinement refuses it) or read its cookie.
namespace korvani::startup {

// Points standard output and standard error at /dev/null for the rest of the process,
// so that nothing any library writes there reaches whoever started the program. Where
// /dev/null cannot be opened, they stay as they are. A build with AddressSanitizer keeps
// its reports (and LeakSanitizer's): they go to a copy of the standard error the process
// was given.
void SilenceOutput();

// Just before the process replaces itself with a new run (exec): standard error as the
// process was given it, so that the new run's sanitizers report where this one's did.
// Does nothing in a build without them; the new run silences its output again first.
void RestoreErrorsForExec();

}  // namespace korvani::startup
