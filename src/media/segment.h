// segment: the two value types a video work is described by. A Segment is a
// stretch of one video file; a Fade is an effect placed on the timeline. The
// editor keeps its clip and effect lists in them and the export renders them.
//
// All times are milliseconds as doubles; plain values, copied freely.
#pragma once

#include <string>

namespace media {

// A piece of a video file. outMs <= inMs makes it empty: every consumer
// skips it.
struct Segment {
  std::string path;  // the video file the piece is taken from
  double inMs = 0;   // start, on the file's own time stamps
  double outMs = 0;  // end

  double lengthMs() const { return outMs - inMs; }
  bool empty() const { return outMs <= inMs; }
};

// One effect on the timeline. A fade in or out spans [atMs - lengthMs, atMs]
// (it ends at its anchor); a cross fade spans [atMs - lengthMs, atMs +
// lengthMs] around the clip boundary it sits on.
struct Fade {
  enum Kind : int { In = 0, Out = 1, Cross = 2 };

  int kind = In;
  double atMs = 0;      // anchor on the timeline
  double lengthMs = 0;  // length of the fade
};

}  // namespace media
