// stillcache: single video frames produced in the background.
//
// Placeholder for the stills module: nothing is cached yet.
#pragma once

namespace ui {

// Stops the worker and empties the cache.
void resetStills();

}  // namespace ui
