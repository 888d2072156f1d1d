// drop_uri: turns the text a desktop delivers for a file dropped on the
// window into a path. The text comes from another program and is treated as
// untrusted bytes.
#pragma once

#include <string>

namespace ui {

// "file://" + percent-encoded path → the decoded path; any other text is
// kept. A "%" followed by two hexadecimal digits becomes that byte (except
// "%00": a path cannot hold a NUL byte, so it stays as written); any other
// "%" is copied. Trailing line feeds and carriage returns are removed.
// Pure, never fails.
std::string decodeDroppedFile(const std::string& text);

}  // namespace ui
