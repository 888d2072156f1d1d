// drop_uri: turns the text a desktop delivers for a file dropped on the
// window into a path. The text comes from another program and is treated as
// untrusted bytes.
#pragma once

#include <string>

namespace ui {

// Trailing line feeds and carriage returns are removed; a "file:" URI is then
// decoded by the program's one decoder (platform::localPathFromUri), which
// gives "" for a URI that names no local file; any other text is kept as the
// path it is. Never fails.
std::string decodeDroppedFile(const std::string& text);

}  // namespace ui
