// file_replace: writes a whole file so that readers see either the old
// content or the complete new one, never a partial file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace media {

// Writes the bytes to a temporary file in the target's folder, flushes them to
// disk and renames the temporary file over path (through a symbolic link, the
// file it points to is replaced). An existing file keeps its permission bits.
// On failure the temporary file is removed and an existing file at path is
// untouched. Blocks on file I/O; thread-safe. durable false skips the flushes
// to disk (working files nobody keeps across a crash): readers still never see
// a partial file, but a power cut may lose it.
bool replaceFileContents(const std::string& path, const uint8_t* data, size_t size, bool durable = true);

}  // namespace media
