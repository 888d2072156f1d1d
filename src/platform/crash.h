// crash: a short plain-text report written from inside the fatal-signal
// handler (build, signal, last user action), moved into the data directory
// at the next start. The report is never sent anywhere.
#pragma once

#include <string>

namespace platform {

// Prepares the report buffers and installs the handler for SIGSEGV, SIGABRT,
// SIGFPE, SIGILL, SIGBUS and SIGTRAP. Call once, after diag::init().
void installCrashHandler();
// Remembers the last action (first 120 bytes); null clears it. Any thread.
void setCrashContext(const char* text);
// Moves a report left by an earlier run into the data directory and returns
// its new path; empty when there is none.
std::string takeLastCrashReport();

}  // namespace platform
