// crash: a short plain-text report written from inside the fatal-signal
// handler (build, signal, last user action), moved into the data directory
// at the next start. The report is never sent anywhere.
#pragma once

#include <string>

namespace platform {

// Prepares the report buffers and installs the handler for SIGSEGV, SIGABRT,
// SIGFPE, SIGILL, SIGBUS and SIGTRAP. Call once from the main thread, after
// diag::init(); the report goes to $XDG_RUNTIME_DIR (else the data directory)
// as "Korvelle_crash.txt" and names this run's log ("Protokoll: ") when the
// log runs. The handler runs on a stack of its own for that
// thread, so a stack overflow is reported too, and then ends the process with
// the signal it received.
void installCrashHandler();
// Remembers the last action (first 120 bytes); null clears it. Any thread.
void setCrashContext(const char* text);
// Moves a report left by an earlier run into the data directory
// ("Korvelle_crash_YYYYMMDD-HHMMSS.txt", written atomically, so across file
// systems too) and returns its new path; empty when there is none or it could
// not be moved (it is then deleted). The log it names is updated to where
// that log lies now (diag::earlierRunLog). Blocks on a little file I/O.
std::string takeLastCrashReport();

}  // namespace platform
