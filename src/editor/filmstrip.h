// filmstrip: the timeline's thumbnails and sound curve.
//
// Placeholder for the filmstrip module: nothing is collected yet.
#pragma once

namespace ui {

// Stops the collector and empties the strip.
void resetFilmstrip();

}  // namespace ui
