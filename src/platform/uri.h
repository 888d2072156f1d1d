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

// The program's one file-URI decoder, for the portal's answers and for
// dropped files alike: the local file a "file:" URI names, percent-decoded.
// Local means no host, "localhost" or this machine's own name
// ("file:///home/a.jpg", "file://localhost/home/a.jpg"). Empty when the URI
// names no local file: another host (logged), another scheme, a bad escape,
// an escaped "/" or NUL. Safe on untrusted text; thread-safe.
std::string localPathFromUri(const std::string& uri);

}  // namespace platform
