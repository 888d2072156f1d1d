// player: plays one video inside the editor. A decode thread reads and
// decodes the file, queues RGBA frames already scaled to the preview size and
// turned upright, and feeds sound converted to 16-bit stereo at 48 kHz to an
// SDL audio device. The UI thread takes the frame that is due once per frame
// and reads the play position: the audio device's consumption when there is
// sound, the monotonic wall clock otherwise (or when the device stalls).
//
// Threads: every public call belongs to the UI thread and never waits for
// decoding; seeks are requests that the decode thread carries out. The decode
// thread and SDL's audio callback live from a successful open() to close().
// close() stops the decode thread within about one frame's decoding time and
// joins it before anything it touches is freed.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "media/image.h"

namespace media {

class Player {
 public:
  Player();
  ~Player();  // closes
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // --- Opening and closing ---------------------------------------------------
  // Opens a file paused at 0 with frames whose long edge is at most maxEdge
  // before turning (maxEdge < 1: full size). Blocks while the file's header
  // is read. A problem with the sound only leaves the video silent. Errors:
  // "UNSUPPORTED_FORMAT", "NO_VIDEO_TRACK"; the player is then closed.
  bool open(const std::string& path, int maxEdge, std::string* err = nullptr);
  // Stops the threads and the sound and frees everything; harmless when closed.
  void close();

  // --- Transport ---------------------------------------------------------------
  // Starts the clock; at the end of the file it starts again from 0.
  void play();
  void pause();
  // Jumps the position to ms clamped to [0, duration] at once; the pictures
  // follow when the decode thread has sought.
  void seek(double ms);
  // The play position in milliseconds.
  double positionMs() const;
  // Stored as 0 … 1 (not-a-number counts as 1); applies to sound decoded from now on.
  void setVolume(double v);

  // --- Pictures ----------------------------------------------------------------
  // Moves the frame that is due into out (while paused after open or a seek:
  // the first frame at or after the position). False when there is no new
  // frame. Reaching the end while playing pauses.
  bool takeFrame(Image* out, double* ptsMs = nullptr);
  // Frames decoded from now on have a long edge of at most maxEdge before
  // turning (below 1: full size); frames already queued keep their size.
  // Never waits: the decode thread picks the request up.
  void setMaxEdge(int maxEdge);
  // Decoded frames waiting in the queue (at most about six).
  size_t queuedFrames() const;

  std::atomic<bool> isOpen{false};
  std::atomic<bool> isPlaying{false};
  std::atomic<bool> hasAudio{false};  // sound is decoded and a device is open
  std::atomic<double> volume{1.0};    // read by the decode thread
  double durationMs = 0;              // 0 when unknown

  struct Impl;

 private:
  std::unique_ptr<Impl> impl;
};

}  // namespace media
