// settings: the user's preferences, one process-wide record loaded lazily
// from "settings.dat" in the data directory and written back sealed (see
// core/save_crypt.h).
//
// Files beside it: "settings.dat.tmp" while saving, "settings.dat.alt" for a
// former plain JSON file after it was taken over, "settings.dat.manipuliert"
// for a file whose seal failed (it is set aside, never read).
//
// Not thread-safe: every caller runs on the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace settings {

// Values of the enumerated fields, identical to media::OutFormat,
// media::FitMode and media::PadMode (this layer does not link media).
inline constexpr int32_t kFormatAuto = 0;
inline constexpr int32_t kFormatJpeg = 1;
inline constexpr int32_t kFormatPng = 2;
inline constexpr int32_t kFormatWebP = 3;
inline constexpr int32_t kFitCover = 0;
inline constexpr int32_t kFitContain = 1;
inline constexpr int32_t kFitStretch = 2;
inline constexpr int32_t kPadBlack = 0;
inline constexpr int32_t kPadWhite = 1;
inline constexpr int32_t kPadBlur = 2;

// The record; each field is stored under its own name as JSON key, the
// enumerated ones as words ("auto", "jpeg", "png", "webp"; "cover",
// "contain", "stretch"; "black", "white", "blur").
struct Data {
  std::string language;              // interface language code; empty follows the system
  int32_t jpegQuality = 92;          // JPEG (and WebP) quality for image output
  int32_t imageFormat = kFormatAuto;  // media::OutFormat
  int32_t imageFitMode = kFitContain;  // media::FitMode for preset sizes
  int32_t imagePadMode = kPadBlur;   // media::PadMode of the border in Contain mode
  int32_t videoResolution = 0;       // target line count (2160 … 480); 0 keeps the source size
  int64_t videoBitrate = 0;          // bits per second; 0 is automatic
  int32_t videoFitMode = kFitContain;  // media::FitMode for video output
  std::string videoEncoder;          // preferred encoder name; empty chooses automatically
  int32_t videoFadeMs = 500;         // length of fades
  int32_t windowW = 0;               // last window size; 0 when none stored
  int32_t windowH = 0;
  int32_t windowX = -1;              // last window position; -1 when none stored
  int32_t windowY = -1;
  bool maximized = false;
  bool fullscreen = false;
  std::string lastOpenDir;           // folder of the last opened file
  std::string lastSaveDir;           // folder of the last saved file
};

// --- Access (load on first use) ------------------------------------------------
// The record, loaded first if this is the first access.
const Data& get();
// The record for changing; call save() afterwards.
Data& mutableData();

// --- File ----------------------------------------------------------------------
// Reads the settings file once per process (later calls return at once).
// A missing or unreadable file keeps the defaults; a broken seal moves the
// file aside and keeps the defaults; a plain JSON file is taken over and
// replaced by a sealed one. Blocks on file I/O.
void load();
// Writes the record sealed: to a temporary, flushed to disk, then renamed
// over the settings file. False when anything failed; the previous file is
// then left as it was. Does not load first. Blocks on file I/O and fsync.
bool save();

}  // namespace settings
