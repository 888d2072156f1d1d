// filmstrip: the timeline's thumbnails and sound curve. One collector thread
// decodes the thumbnails of the visible time window (and the sound peaks of
// that window) in the background; the UI thread draws what is ready and never
// waits for decoding.
//
// The collector keeps one demuxer and decoder open for the whole window and
// walks it forward in time (media::FrameReader): a quarter of the time of
// one grabFrame per thumbnail on 1080p clips with long groups of pictures.
//
// Threads: the drawing and reset functions belong to the UI thread; the
// collector shares only the strip's images, ready bits and peaks, guarded by
// the strip's mutex (held to copy or swap, never while decoding), and wakes
// the frame loop (ui::requestFrame) for every thumbnail it publishes.
#pragma once

#include <string>

#include "ui/frame.h"

namespace ui {

// --- Tuning by memory tier ---------------------------------------------------------
struct FilmstripTuning {
  double slotWidth = 70;  // design pixels per thumbnail
  int maxThumbs = 48;
  int decodeSize = 384;   // long side a thumbnail is decoded at
};
// Tier 1 … 3 as the table gives; any other tier the default (70 px, 48, 384).
FilmstripTuning filmstripTuning(int tier);
// Thumbnails for a strip widthPx logical pixels wide: round(width / (slot ×
// uiScale)) limited to [8, tier maximum].
int filmstripCountFor(double widthPx, double uiScale, int tier);

// --- Drawing (UI thread) ---------------------------------------------------------------
// Draws the thumbnails of [fromMs, toMs) of path (document version) into r,
// starting or restarting the collection as the window, file or size needs.
// Nothing below 8 × 4 px or for an empty window.
void drawFilmstrip(Ctx& ctx, const Rect& r, const std::string& path, int version, double fromMs, double toMs);
// Draws the sound peaks of the strip's window; false when there are none yet
// or r is smaller than 4 px either way.
bool drawAudioPeaks(Ctx& ctx, const Rect& r);
// Stops the collector (joins it) and empties the strip.
void resetFilmstrip();

// --- Inspection (tests, benchmarks) ----------------------------------------------------
struct FilmstripStatus {
  int count = 0;        // thumbnail slots
  int ready = 0;        // slots filled
  int collections = 0;  // collections started since the program began
  bool running = false; // a collector is working
  double fromMs = 0;    // the window being collected
  double toMs = 0;
  size_t peaks = 0;     // peak values of that window
};
FilmstripStatus filmstripStatus();

}  // namespace ui
