// Planning a smart cut: the eligibility checks, the packet index and the
// pieces each kept range falls into.
#include "media/smart_cut.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <numeric>

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include "media/av_util.h"
#include "media/errors.h"
#include "media/ffmpeg_compat.h"
#include "media/smart_cut_internal.h"
#include "platform/log.h"

namespace media {

void SmartCutPlanDeleter::operator()(SmartCutPlan* p) const { delete p; }

namespace {

// Frames this close before a range's start still belong to it (as in exportVideo).
constexpr double kInSlackMs = 1.0;
// The deepest reordering the edge encoders reproduce (B-pyramid).
constexpr int kMaxReorder = 2;

bool fail(std::string* reason, const char* word) {
  if (reason) *reason = word;
  return false;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool endsWith(const std::string& s, const char* tail) {
  const std::string t = tail;
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Bytes of each NAL unit's length field; 0 for start codes (Annex B).
int nalLengthSize(const AVCodecParameters* par) {
  const uint8_t* e = par->extradata;
  const int n = par->extradata_size;
  if (!e || n < 4 || AV_RB24(e) == 1 || AV_RB32(e) == 1) return 0;
  if (par->codec_id == AV_CODEC_ID_H264 && n >= 5) return (e[4] & 3) + 1;
  if (par->codec_id == AV_CODEC_ID_HEVC && n >= 23) return (e[21] & 3) + 1;
  return 4;
}

// The type of the first picture (VCL) NAL unit in the packet; -1 when none.
int firstSliceType(const AVPacket* pkt, AVCodecID codec, int lengthSize) {
  const uint8_t* p = pkt->data;
  const uint8_t* end = pkt->data + pkt->size;
  while (p < end) {
    const uint8_t* nal = nullptr;
    const uint8_t* next = end;
    if (lengthSize > 0) {
      if (end - p < lengthSize) return -1;
      uint32_t len = 0;
      for (int i = 0; i < lengthSize; ++i) len = (len << 8) | p[i];
      nal = p + lengthSize;
      if (len > static_cast<uint32_t>(end - nal)) return -1;
      next = nal + len;
    } else {
      const uint8_t* s = p;
      while (s + 3 <= end && !(s[0] == 0 && s[1] == 0 && s[2] == 1)) ++s;
      if (s + 3 > end) return -1;
      nal = s + 3;
      next = nal;
      while (next + 3 <= end && !(next[0] == 0 && next[1] == 0 && (next[2] == 1 || next[2] == 0))) ++next;
      if (next + 3 > end) next = end;
    }
    if (nal < next) {
      const int type = codec == AV_CODEC_ID_H264 ? (nal[0] & 0x1f) : ((nal[0] >> 1) & 0x3f);
      const bool vcl = codec == AV_CODEC_ID_H264 ? (type >= 1 && type <= 5) : type < 32;
      if (vcl) return type;
    }
    p = next;
  }
  return -1;
}

bool isIdr(int type, AVCodecID codec) {
  if (codec == AV_CODEC_ID_H264) return type == 5;
  return type == 19 || type == 20;  // IDR_W_RADL, IDR_N_LP; CRA and BLA lead open groups
}

struct Packet {
  int64_t pts = 0;
  int64_t dts = 0;
  int64_t pos = 0;
  int64_t duration = 0;
  bool key = false;
};

// The source's picture packets in decode order; false with a fallback word.
bool readIndex(AVFormatContext* fmt, int vi, std::vector<Packet>* out, std::string* reason) {
  const AVCodecParameters* par = fmt->streams[vi]->codecpar;
  const int lengthSize = nalLengthSize(par);
  av::PacketPtr pkt = av::makePacket();
  int64_t lastPos = -1;
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index != vi) {
      av_packet_unref(pkt.get());
      continue;
    }
    Packet p;
    p.pts = pkt->pts;
    p.dts = pkt->dts == AV_NOPTS_VALUE ? pkt->pts : pkt->dts;  // Matroska leaves some out
    p.pos = pkt->pos;
    p.duration = pkt->duration;
    p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    const bool discard = (pkt->flags & AV_PKT_FLAG_DISCARD) != 0;
    const int slice = p.key ? firstSliceType(pkt.get(), par->codec_id, lengthSize) : 0;
    av_packet_unref(pkt.get());
    if (p.pts == AV_NOPTS_VALUE || discard || p.pos <= lastPos) {
      return fail(reason, smartcut::kTimestamps);
    }
    if (p.key && !isIdr(slice, par->codec_id)) return fail(reason, smartcut::kOpenGop);
    if (out->empty() && !p.key) return fail(reason, smartcut::kOpenGop);
    lastPos = p.pos;
    out->push_back(p);
  }
  if (out->empty()) return fail(reason, smartcut::kUnreadable);
  return true;
}

// Frames the decoder must hold back to put the packets in time order: the
// largest distance a packet runs ahead of its place among the sorted times.
int measuredReorder(const std::vector<Packet>& pkts) {
  std::vector<int64_t> sorted(pkts.size());
  for (size_t i = 0; i < pkts.size(); ++i) sorted[i] = pkts[i].pts;
  std::sort(sorted.begin(), sorted.end());
  int depth = 0;
  for (size_t i = 0; i < pkts.size(); ++i) {
    const auto rank = std::lower_bound(sorted.begin(), sorted.end(), pkts[i].pts) - sorted.begin();
    depth = std::max(depth, static_cast<int>(static_cast<int64_t>(i) - rank));
  }
  return depth;
}

// Start packet of every group; false when one group shows a frame before its
// key frame or after the next group's (leading pictures of an open group).
bool groupStarts(const std::vector<Packet>& pkts, std::vector<int>* starts) {
  for (int i = 0; i < static_cast<int>(pkts.size()); ++i) {
    if (pkts[i].key) starts->push_back(i);
  }
  starts->push_back(static_cast<int>(pkts.size()));
  int64_t prevMax = INT64_MIN;
  for (size_t g = 0; g + 1 < starts->size(); ++g) {
    int64_t lo = INT64_MAX;
    int64_t hi = INT64_MIN;
    for (int i = (*starts)[g]; i < (*starts)[g + 1]; ++i) {
      lo = std::min(lo, pkts[i].pts);
      hi = std::max(hi, pkts[i].pts);
    }
    if (lo != pkts[(*starts)[g]].pts || lo <= prevMax) return false;
    prevMax = hi;
  }
  return true;
}

bool sourceChecks(const AVFormatContext* fmt, int vi, const std::string& outPath,
                  const SmartCutRequest& req, std::string* reason) {
  const std::string demuxer = fmt->iformat->name;
  if (demuxer.find("mov") == std::string::npos && demuxer.find("matroska") == std::string::npos) {
    return fail(reason, smartcut::kContainer);
  }
  const std::string out = lower(outPath);
  if (!endsWith(out, ".mp4") && !endsWith(out, ".mov")) return fail(reason, smartcut::kContainer);
  const AVStream* vs = fmt->streams[vi];
  const AVCodecParameters* par = vs->codecpar;
  if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC) {
    return fail(reason, smartcut::kCodec);
  }
  if (req.fades) return fail(reason, smartcut::kFades);
  if (req.standardRange &&
      (par->color_trc == AVCOL_TRC_ARIB_STD_B67 || par->color_trc == AVCOL_TRC_SMPTE2084)) {
    return fail(reason, smartcut::kHdr);
  }
  if (req.width > 0 || req.height > 0) {
    const int rot = av::displayRotation(vs);
    const bool turned = rot == 90 || rot == 270;
    const int w = turned ? par->height : par->width;
    const int h = turned ? par->width : par->height;
    if (req.width != w || req.height != h) return fail(reason, smartcut::kResized);
  }
  const AVCodec* enc = avcodec_find_encoder_by_name(par->codec_id == AV_CODEC_ID_H264 ? "libx264" : "libx265");
  if (!enc) return fail(reason, smartcut::kNoEncoder);
  const AVPixelFormat* fmts = compat::encoderPixelFormats(enc);
  bool pixOk = fmts == nullptr;
  for (const AVPixelFormat* f = fmts; f && *f != AV_PIX_FMT_NONE; ++f) pixOk = pixOk || *f == par->format;
  if (!pixOk) return fail(reason, smartcut::kNoEncoder);
  return true;
}

// Splits every segment into copied and encoded pieces and lays the output
// time line out; false when no frame is kept.
bool layOut(const std::vector<Packet>& pkts, const std::vector<int>& starts, double originMs,
            SmartCutPlan* plan) {
  const AVRational tb = plan->timeBase;
  std::vector<int64_t> sorted(pkts.size());
  for (size_t i = 0; i < pkts.size(); ++i) sorted[i] = pkts[i].pts;
  std::sort(sorted.begin(), sorted.end());
  const int64_t lastDur = pkts.back().duration > 0 ? pkts.back().duration
                          : sorted.size() > 1     ? sorted.back() - sorted[sorted.size() - 2]
                                                  : 1;
  auto durationOf = [&](int64_t pts) {
    const auto it = std::upper_bound(sorted.begin(), sorted.end(), pts);
    return it == sorted.end() ? lastDur : *it - pts;
  };
  int64_t outAt = 0;
  for (const Segment& seg : plan->req.segments) {
    if (seg.empty()) continue;
    auto kept = [&](int64_t pts) {
      const double ms = av::tsToMs(pts, tb, 0) - originMs;
      return ms >= seg.inMs - kInSlackMs && ms < seg.outMs;
    };
    const size_t firstPiece = plan->pieces.size();
    int64_t first = INT64_MAX;
    int64_t last = INT64_MIN;
    for (size_t g = 0; g + 1 < starts.size(); ++g) {
      std::vector<int64_t> keep;
      for (int i = starts[g]; i < starts[g + 1]; ++i) {
        if (kept(pkts[i].pts)) keep.push_back(pkts[i].pts);
      }
      if (keep.empty()) continue;
      std::sort(keep.begin(), keep.end());
      first = std::min(first, keep.front());
      last = std::max(last, keep.back());
      const int count = starts[g + 1] - starts[g];
      const bool whole = static_cast<int>(keep.size()) == count;
      if (whole && plan->pieces.size() > firstPiece && plan->pieces.back().copy) {
        plan->pieces.back().packetCount += count;
        continue;
      }
      SmartCutPlan::Piece p;
      p.copy = whole;
      p.firstPacket = starts[g];
      p.packetCount = count;
      if (!whole) p.keep = std::move(keep);
      plan->pieces.push_back(std::move(p));
    }
    if (plan->pieces.size() == firstPiece) continue;
    SmartCutPlan::Span span{first, outAt, outAt + last + durationOf(last) - first};
    for (size_t k = firstPiece; k < plan->pieces.size(); ++k) {
      SmartCutPlan::Piece& p = plan->pieces[k];
      p.offset = span.outStart - span.srcStart;
      if (p.copy) {
        plan->stats.copiedFrames += p.packetCount;
        for (int i = p.firstPacket; i < p.firstPacket + p.packetCount; ++i) plan->outPts.push_back(pkts[i].pts + p.offset);
      } else {
        plan->stats.encodedFrames += static_cast<int64_t>(p.keep.size());
        for (int64_t t : p.keep) plan->outPts.push_back(t + p.offset);
      }
    }
    plan->spans.push_back(span);
    outAt = span.outEnd;
  }
  if (plan->outPts.empty()) return false;
  std::sort(plan->outPts.begin(), plan->outPts.end());
  plan->outDur.resize(plan->outPts.size());
  for (size_t i = 0; i + 1 < plan->outPts.size(); ++i) plan->outDur[i] = plan->outPts[i + 1] - plan->outPts[i];
  plan->outDur.back() = outAt - plan->outPts.back();
  plan->stats.frames = static_cast<int64_t>(plan->outPts.size());
  plan->stats.durationMs = av::tsToMs(outAt, tb, 0);
  return true;
}

}  // namespace

SmartCutPlanPtr planSmartCut(const std::string& srcPath, const std::string& outPath,
                             const SmartCutRequest& req, std::string* reason) {
  for (const Segment& s : req.segments) {
    if (!s.path.empty() && s.path != srcPath) {
      fail(reason, smartcut::kOtherFile);
      return nullptr;
    }
  }
  av::FormatPtr fmt = av::openInput(srcPath);
  const int vi = fmt ? av::firstStream(fmt.get(), AVMEDIA_TYPE_VIDEO) : -1;
  if (vi < 0) {
    fail(reason, smartcut::kUnreadable);
    return nullptr;
  }
  if (!sourceChecks(fmt.get(), vi, outPath, req, reason)) return nullptr;
  const AVStream* vs = fmt->streams[vi];
  std::vector<Packet> pkts;
  if (!readIndex(fmt.get(), vi, &pkts, reason)) return nullptr;
  std::vector<int> starts;
  if (!groupStarts(pkts, &starts)) {
    fail(reason, smartcut::kOpenGop);
    return nullptr;
  }
  SmartCutPlanPtr plan(new SmartCutPlan);
  plan->src = srcPath;
  plan->out = outPath;
  plan->req = req;
  plan->codec = vs->codecpar->codec_id;
  plan->timeBase = vs->time_base;
  plan->reorder = std::max(vs->codecpar->video_delay, measuredReorder(pkts));
  if (plan->reorder > kMaxReorder ||
      (plan->reorder > 0 && (vs->codecpar->profile == FF_PROFILE_H264_BASELINE ||
                             vs->codecpar->profile == FF_PROFILE_H264_CONSTRAINED_BASELINE))) {
    fail(reason, smartcut::kReorder);
    return nullptr;
  }
  plan->sound = av::firstStream(fmt.get(), AVMEDIA_TYPE_AUDIO) >= 0;
  for (const Packet& p : pkts) {
    plan->indexOfPos[p.pos] = static_cast<int>(plan->packetPos.size());
    plan->packetPts.push_back(p.pts);
    plan->packetDts.push_back(p.dts);
    plan->packetPos.push_back(p.pos);
  }
  double originMs = 0;
  if (vs->start_time != AV_NOPTS_VALUE) {
    originMs = av::tsToMs(vs->start_time, vs->time_base, 0);
  } else if (fmt->start_time != AV_NOPTS_VALUE) {
    originMs = static_cast<double>(fmt->start_time) / 1000.0;
  }
  if (!layOut(pkts, starts, originMs, plan.get())) {
    fail(reason, smartcut::kEmpty);
    return nullptr;
  }
  return plan;
}

SmartCutStats planStats(const SmartCutPlan& plan) { return plan.stats; }

bool smartCut(const std::string& srcPath, const std::string& outPath, const SmartCutRequest& req,
              std::atomic<bool>* cancel, const std::function<void(const ExportProgress&)>& progress,
              SmartCutStats* stats, std::string* err) {
  std::string word;
  SmartCutPlanPtr plan = planSmartCut(srcPath, outPath, req, &word);
  if (!plan) {
    diag::write("export", "Schnitt ohne Neuberechnung nicht moeglich (" + word + "), es wird neu gerechnet");
    if (err) *err = word;
    return false;
  }
  const SmartCutStats planned = plan->stats;
  char line[200];
  std::snprintf(line, sizeof line,
                "Schnitt ohne Neuberechnung: %lld Bilder kopiert, %lld neu kodiert, %lld gesamt, %.0f ms",
                static_cast<long long>(planned.copiedFrames), static_cast<long long>(planned.encodedFrames),
                static_cast<long long>(planned.frames), planned.durationMs);
  diag::write("export", line);
  if (!runSmartCut(*plan, cancel, progress, &word)) {
    diag::write("export", "Schnitt ohne Neuberechnung fehlgeschlagen (" + word + ")");
    if (err) *err = word;
    return false;
  }
  if (stats) *stats = planned;
  if (err) err->clear();
  return true;
}

}  // namespace media
