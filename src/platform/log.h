// log: the diagnostics log, one plain-text file per run in the data
// directory ("Korvelle.log", the previous run's kept as ".1"). Lines are
// written synchronously so the file is complete up to a crash.
//
// A run holds a lock on its log until it ends. A run that starts while
// another one holds "Korvelle.log" writes "Korvelle-<pid>.log" instead, so two
// windows at once each keep a complete log; such logs of ended runs are
// removed after a week. Starts pick their log one after another (under a lock
// on the data directory).
//
// Every writer is thread-safe and does nothing while the log is not running;
// none reports an error. Texts are German developer messages, never shown to
// the user.
#pragma once

#include <string>

namespace diag {

// Starts the log and writes its header; a second call while running does nothing.
void init();
// Writes the closing line and closes the file.
void shutdown();
// The file this run logs to; empty while the log is not running.
std::string path();
// Where the log that an earlier run wrote to loggedPath lies now: this run's
// start moved "Korvelle.log" to "Korvelle.log.1"; other names stay.
std::string earlierRunLog(const std::string& loggedPath);

// One event line: "[hh:mm:ss +    ms.sms] cat    text".
void write(const char* category, const std::string& text);
// A user action; also becomes the crash report's last-action context.
void action(const std::string& text);
// One duration line ("zeit   name: 12.3 ms").
void timing(const char* name, double ms);

// Scope timer: logs a timing line on destruction when at least thresholdMs passed.
class Timed {
 public:
  Timed(const char* name, double thresholdMs);
  ~Timed();
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  const char* name_;
  double thresholdMs_;
  double startMs_;
};

}  // namespace diag
