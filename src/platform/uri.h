// uri: links handed to the desktop's handler, and file URIs turned back into
// local paths. Logs under "uri".
#pragma once

#include <string>

namespace platform {

// Opens a web address or mail link with the desktop's default handler
// (`xdg-open`), fully detached: returns as soon as the handler is launched and
// never waits for it. An empty uri does nothing. Test switch: with
// KORVELLE_NO_OPEN starting with "1" the link is only logged.
void openUri(const std::string& uri);

// The local file a "file:" URI names, percent-decoded; empty when the URI
// names no local file (another scheme, another host, a bad escape, a NUL).
// Safe on untrusted text; thread-safe.
std::string localPathFromUri(const std::string& uri);

}  // namespace platform
