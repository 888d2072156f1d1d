// sheets_video: the rules behind the cut, effects and info sheets that the
// sheets apply (the sheets themselves are drawn through sheet_parts.h). Main
// thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "media/segment.h"

namespace doc {
class Document;
}

namespace ui {

// What removing [from, to] keeps of a video of duration ms: the piece before
// from when it is over 1 ms long, the piece after to likewise; empty when
// the range is the whole video. Paths empty (the current work file).
std::vector<media::Segment> removeRangeSegments(double from, double to, double duration);
// Length of an effect placed from the effects sheet: the settings' fade
// duration, 500 ms when that is 0.
double placedFadeLengthMs();
// The info sheet's rows as (label key, value) for the open document; rows
// whose value is unknown are left out, none when nothing is open.
std::vector<std::pair<std::string, std::string>> infoRows(const doc::Document& d);

}  // namespace ui
