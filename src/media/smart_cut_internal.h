// smart_cut_internal: the plan a smart cut follows, shared by the planner
// (smart_cut.cpp), the picture writer (smart_cut_write.cpp), the edge
// encoder (smart_cut_edge.cpp) and the sound re-encoder
// (smart_cut_sound.cpp). Internal to src/media.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

#include "media/av_util.h"
#include "media/smart_cut.h"

namespace media {

struct SmartCutPlan {
  std::string src;
  std::string out;
  SmartCutRequest req;
  AVCodecID codec = AV_CODEC_ID_NONE;
  AVRational timeBase{1, 1};  // the picture stream's; every piece keeps it
  int reorder = 0;            // frames the decoder holds back (0 … 2)

  // A run of packets in the source's decode order: whole groups copied as
  // they are, or one group decoded of which the frames at keep are encoded.
  struct Piece {
    bool copy = false;
    int firstPacket = 0;
    int packetCount = 0;
    std::vector<int64_t> keep;  // encoded pieces: source times kept, rising
    int64_t offset = 0;         // output time = source time + offset
  };
  std::vector<Piece> pieces;

  // One kept range on the picture's time line (ticks of timeBase).
  struct Span {
    int64_t srcStart = 0;  // the first kept frame's source time
    int64_t outStart = 0;
    int64_t outEnd = 0;
  };
  std::vector<Span> spans;

  // Every output frame's time and length, rising.
  std::vector<int64_t> outPts;
  std::vector<int64_t> outDur;

  // The source's packets in decode order.
  std::vector<int64_t> packetPts;
  std::vector<int64_t> packetDts;
  std::vector<int64_t> packetPos;
  std::unordered_map<int64_t, int> indexOfPos;  // packet number by file position

  bool sound = false;  // the source has a sound track to carry over
  SmartCutStats stats;
};

namespace smartcut {

// Encoded sound packets on the encoder's time base, and its parameters.
struct Sound {
  av::CodecPtr enc;  // null when there is no sound
  std::vector<av::PacketPtr> packets;
};

// Decodes the sound of every span, joins it sample-exact to the picture's
// spans and encodes it as AAC (global header). False with "CANCELLED",
// "DECODE_FAILED" or "ENCODER_FAILED".
bool encodeSound(const SmartCutPlan& plan, std::atomic<bool>* cancel, Sound* out, std::string* err);

// Reads the source's picture packets by their number in decode order,
// seeking when the one asked for is not close ahead. One per thread.
class PacketReader {
 public:
  explicit PacketReader(const SmartCutPlan& plan) : plan_(plan) {}
  // False with "DECODE_FAILED" when the source does not open or has no picture.
  bool open(const char** word);
  const AVStream* stream() const { return in_->streams[vi_]; }
  // Packet number index into pkt; false with "DECODE_FAILED" or "CANCELLED"
  // (cancel, which may be null, is polled before every packet read).
  bool read(int index, AVPacket* pkt, std::atomic<bool>* cancel, const char** word);

 private:
  const SmartCutPlan& plan_;
  av::FormatPtr in_;
  int vi_ = -1;
  int next_ = -1;  // number of the packet the next read returns; -1 unknown
};

// Decodes the group of one encoded piece with a reader of its own and
// encodes its kept frames again (output times) into *out. Safe to run for
// several pieces at once. False with "CANCELLED", "DECODE_FAILED" or
// "ENCODER_FAILED".
bool encodeEdge(const SmartCutPlan& plan, const SmartCutPlan::Piece& piece, std::atomic<bool>* cancel,
                std::vector<av::PacketPtr>* out, std::string* err);

}  // namespace smartcut
}  // namespace media
