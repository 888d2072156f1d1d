// stillcache: single video frames decoded in the background for the stage's
// cross-fade previews. A lookup never decodes: a miss queues a request that
// one worker thread serves, and a later lookup finds the frame. At most 8
// frames are kept, all of one document version.
//
// Threads: stillAt and resetStills belong to the UI thread; the worker shares
// only the entry list, guarded by one mutex that is never held while
// decoding, and wakes the frame loop when a frame is ready.
#pragma once

#include <cstddef>
#include <string>

#include "media/image.h"

namespace ui {

// The frame of path (document version) at ms when decoded; null while it is
// being decoded, after a failed decode, for an empty path or a negative time.
// A request within 10 ms of a cached one shares its entry; a request of
// another version drops the entries of all others.
const media::Image* stillAt(const std::string& path, int version, double ms);
// Stops the worker (joins it) and empties the cache.
void resetStills();
// Entries held (tests).
size_t stillEntryCount();

}  // namespace ui
