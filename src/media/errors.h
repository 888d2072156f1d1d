// errors: the media layer's error words, written into the optional error
// out-parameters of loading, saving, probing, playback and export. Screens map
// them to catalogue texts, so the values are fixed; compare against these
// names, never against spelled-out words.
#pragma once

#include <string>

namespace media::err {

// --- Reading files -------------------------------------------------------------
inline constexpr char kUnsupportedFormat[] = "UNSUPPORTED_FORMAT";  // no decoder, or not a picture or video
inline constexpr char kDecodeFailed[] = "DECODE_FAILED";            // the decoder gave no picture
inline constexpr char kNoVideoTrack[] = "NO_VIDEO_TRACK";           // a file without a picture stream
inline constexpr char kOutOfMemory[] = "OUT_OF_MEMORY";             // an allocation failed

// --- Writing files --------------------------------------------------------------
inline constexpr char kEmptyImage[] = "EMPTY_IMAGE";                // nothing to save
inline constexpr char kWriteFailed[] = "WRITE_FAILED";              // the file could not be written or put in place

// --- Video export ---------------------------------------------------------------
inline constexpr char kEmptySelection[] = "EMPTY_SELECTION";        // the segments hold no time
inline constexpr char kBadSize[] = "BAD_SIZE";                      // target smaller than 2 × 2
inline constexpr char kContainerMismatch[] = "CONTAINER_MISMATCH";  // extension and codec disagree
inline constexpr char kNoEncoder[] = "NO_ENCODER";                  // no encoder for the codec opens
inline constexpr char kEncoderFailed[] = "ENCODER_FAILED";          // the encoder refused a frame
inline constexpr char kFilterFailed[] = "FILTER_FAILED";            // the filter graph could not run
inline constexpr char kCancelled[] = "CANCELLED";                   // the caller's cancel flag was set

// Writes word into *err when err is given.
inline void setError(std::string* err, const char* word) {
  if (err != nullptr) *err = word;
}

}  // namespace media::err
