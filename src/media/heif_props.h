// heif_props: the rotation and mirroring that a HEIF-family file (AVIF)
// asks for its primary picture, read from the container's item properties
// ("irot", "imir"). libheif applies them to HEIC photos itself; FFmpeg 5.1
// ignores them, so the loader applies them to AVIF pictures.
//
// Reads untrusted bytes: every box size and count is checked against what
// is there. Thread-safe (no shared state).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/image.h"

namespace media {

// The operations to apply, in order, to the decoded primary picture to show
// it as intended; empty when it has none, or when the file is not an
// ISO-BMFF file with a readable "meta" box. Blocks for a few small reads.
std::vector<TransformOp> primaryItemTransforms(const std::string& path);

// The same on a whole file held in memory.
std::vector<TransformOp> primaryItemTransformsBytes(const uint8_t* data, size_t size);

// True when the operations turn the picture by a quarter turn (width and
// height trade places).
bool swapsSides(const std::vector<TransformOp>& ops);

}  // namespace media
