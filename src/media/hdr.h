// hdr: high-dynamic-range video (HLG and PQ, as phones record it by default)
// turned into standard-range BT.709 pictures wherever pictures leave the
// decoder: playback, grabbed frames and exports.
//
// Reference white (203 cd/m², 75 % of an HLG signal) becomes standard white;
// only what lies above it is rolled off, so ordinary scenes keep their
// brightness and colour. Standard-range pictures never pass through here.
// Internal to src/media. Everything is thread-safe except a ToneMapper, which
// belongs to one thread.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <string>

#include "media/image.h"
#include "media/video_export_internal.h"

namespace media {

// --- Recognising -----------------------------------------------------------------
enum class DynamicRange { Standard, Hlg, Pq };

// From a transfer characteristic; anything but HLG and PQ (unknown included)
// is standard range.
DynamicRange dynamicRangeOf(AVColorTransferCharacteristic trc);
// "HLG", "PQ", or empty for standard range.
const char* dynamicRangeName(DynamicRange range);
// The brightest signal the frame may hold, as a multiple of reference white:
// from its mastering or content light metadata, else 1000 cd/m², the usual
// grade of a phone.
double signalPeak(const AVFrame* frame);
// The same from a stream's metadata, for plans made before the first frame.
double streamPeak(const AVStream* stream);

// --- Converting ---------------------------------------------------------------------
// The filter chain (no commas at its ends) that turns an HDR picture into
// BT.709 standard range at its own size; its output is a YUV or RGB format
// the following filters negotiate.
std::string toneMapChain(double peak);

// Converts HDR frames to RGBA, scaled in the same pass. Keeps its filter
// graph while the input and output stay the same.
class ToneMapper {
 public:
  // false when the graph cannot be built or the frame cannot be converted.
  bool toRgba(const AVFrame* frame, int width, int height, Image* out);

 private:
  exporter::Graph graph_;
  int inWidth_ = 0;
  int inHeight_ = 0;
  int inFormat_ = -1;
  int inTrc_ = -1;
  int outWidth_ = 0;
  int outHeight_ = 0;
};

}  // namespace media
