// Performing a smart cut: copied groups through the Annex B filter, edge
// groups encoded again (smart_cut_edge.cpp) while the sound is
// (smart_cut_sound.cpp), all joined in order, the result read back before
// it replaces the target.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

extern "C" {
#include <libavcodec/bsf.h>
}

#include "media/errors.h"
#include "media/ffmpeg_compat.h"
#include "media/smart_cut.h"
#include "media/smart_cut_internal.h"
#include "media/video_export_internal.h"
#include "platform/fs.h"

namespace media {

namespace {

// Edges encoded at once: each encoder leaves cores idle while it starts and
// drains, a second one fills them; more would only share the same cores.
constexpr size_t kEdgeWorkers = 2;
// Progress steps in percent, and the share below which no remaining time is guessed.
constexpr double kProgressStep = 0.5;
constexpr double kEtaFromPercent = 3.0;
// Read-back times may differ by the rounding of one time base into another.
constexpr double kCheckSlackMs = 1.0;

struct BsfFreer {
  void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFreer>;
using Clock = std::chrono::steady_clock;

class Cutter {
 public:
  Cutter(const SmartCutPlan& plan, std::atomic<bool>* cancel,
         const std::function<void(const ExportProgress&)>& progress)
      : plan_(plan), cancel_(cancel), progress_(progress) {}

  bool run(std::string* word);

 private:
  bool fail(const char* w) {
    word_ = w;
    return false;
  }
  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }
  bool openInput();
  bool openOutput();
  bool copyPiece(const SmartCutPlan::Piece& p);
  bool encodeEdges();
  bool writeEdge(size_t piece);
  bool writeVideo(AVPacket* pkt);
  bool writeSoundUntil(double seconds);
  void report(bool last);
  bool verify(const std::string& path) const;

  const SmartCutPlan& plan_;
  std::atomic<bool>* cancel_;
  const std::function<void(const ExportProgress&)>& progress_;
  std::string word_ = err::kWriteFailed;

  smartcut::PacketReader reader_{plan_};
  BsfPtr bsf_;

  platform::fs::PendingReplace temp_;
  exporter::OutputPtr out_;
  AVStream* vs_ = nullptr;
  AVStream* as_ = nullptr;
  smartcut::Sound sound_;
  size_t soundNext_ = 0;

  // Encoded edge packets per piece, made before the output opens.
  std::vector<std::vector<av::PacketPtr>> edges_;

  size_t written_ = 0;  // video packets written
  double lastPercent_ = -1;
  Clock::time_point started_ = Clock::now();
};

bool Cutter::openInput() {
  const char* w = err::kDecodeFailed;
  if (!reader_.open(&w)) return fail(w);
  const AVStream* st = reader_.stream();
  const AVBitStreamFilter* f =
      av_bsf_get_by_name(plan_.codec == AV_CODEC_ID_H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb");
  AVBSFContext* raw = nullptr;
  if (!f || av_bsf_alloc(f, &raw) < 0) return fail(err::kDecodeFailed);
  bsf_.reset(raw);
  avcodec_parameters_copy(bsf_->par_in, st->codecpar);
  bsf_->time_base_in = st->time_base;
  return av_bsf_init(bsf_.get()) >= 0 || fail(err::kDecodeFailed);
}

bool Cutter::openOutput() {
  if (!temp_.create(plan_.out)) return fail(err::kWriteFailed);
  const AVOutputFormat* format = av_guess_format(nullptr, plan_.out.c_str(), nullptr);
  AVFormatContext* raw = nullptr;
  if (!format || avformat_alloc_output_context2(&raw, format, nullptr, temp_.path().c_str()) < 0 || !raw) {
    return fail(err::kWriteFailed);
  }
  out_.reset(raw);
  const AVStream* src = reader_.stream();
  vs_ = avformat_new_stream(out_.get(), nullptr);
  if (!vs_ || avcodec_parameters_copy(vs_->codecpar, bsf_->par_out) < 0) return fail(err::kWriteFailed);
  // Parameter sets in-band before every key frame: the edges carry the
  // encoder's own, the copied groups the source's.
  vs_->codecpar->codec_tag = plan_.codec == AV_CODEC_ID_H264 ? MKTAG('a', 'v', 'c', '3') : MKTAG('h', 'e', 'v', '1');
  vs_->codecpar->video_delay = plan_.reorder;
  vs_->time_base = plan_.timeBase;
  vs_->avg_frame_rate = src->avg_frame_rate;
  vs_->sample_aspect_ratio = src->sample_aspect_ratio;
  compat::copyDisplayMatrix(src, vs_);
  if (sound_.enc) {
    as_ = avformat_new_stream(out_.get(), nullptr);
    if (!as_ || avcodec_parameters_from_context(as_->codecpar, sound_.enc.get()) < 0) return fail(err::kWriteFailed);
    as_->time_base = sound_.enc->time_base;
  }
  const SmartCutRequest& r = plan_.req;
  if (!r.software.empty()) av_dict_set(&out_->metadata, "software", r.software.c_str(), 0);
  if (!r.comment.empty()) {
    av_dict_set(&out_->metadata, "comment", r.comment.c_str(), 0);
    av_dict_set(&out_->metadata, "description", r.comment.c_str(), 0);
  }
  if (avio_open(&out_->pb, temp_.path().c_str(), AVIO_FLAG_WRITE) < 0) return fail(err::kWriteFailed);
  return avformat_write_header(out_.get(), nullptr) >= 0 || fail(err::kWriteFailed);
}

bool Cutter::copyPiece(const SmartCutPlan::Piece& p) {
  av::PacketPtr pkt = av::makePacket();
  for (int i = p.firstPacket; i < p.firstPacket + p.packetCount; ++i) {
    const char* w = err::kDecodeFailed;
    if (!reader_.read(i, pkt.get(), cancel_, &w)) return fail(w);
    if (av_bsf_send_packet(bsf_.get(), pkt.get()) < 0) return fail(err::kDecodeFailed);
    while (av_bsf_receive_packet(bsf_.get(), pkt.get()) == 0) {
      pkt->pts = plan_.packetPts[i] + p.offset;
      if (!writeVideo(pkt.get())) return false;
      av_packet_unref(pkt.get());
    }
  }
  return true;
}

// The edges are encoded side by side on up to kEdgeWorkers threads, the
// calling one among them; each thread writes only the packets and the word
// of the edges it took. A failed edge stops the taking of further ones.
bool Cutter::encodeEdges() {
  std::vector<size_t> todo;
  for (size_t i = 0; i < plan_.pieces.size(); ++i) {
    if (!plan_.pieces[i].copy) todo.push_back(i);
  }
  edges_.resize(plan_.pieces.size());
  std::vector<std::string> words(todo.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  const size_t workers = std::min(kEdgeWorkers, todo.size());
  auto work = [&] {
    for (size_t k = next++; k < todo.size() && !failed.load(); k = next++) {
      const size_t i = todo[k];
      if (!smartcut::encodeEdge(plan_, plan_.pieces[i], cancel_, &edges_[i], &words[k])) failed = true;
    }
  };
  std::vector<std::thread> helpers;
  for (size_t n = 1; n < workers; ++n) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  for (const std::string& w : words) {
    if (!w.empty()) {
      word_ = w;
      return false;
    }
  }
  return true;
}

bool Cutter::writeEdge(size_t piece) {
  for (av::PacketPtr& pkt : edges_[piece]) {
    if (!writeVideo(pkt.get())) return false;
  }
  edges_[piece].clear();
  return true;
}

bool Cutter::writeSoundUntil(double seconds) {
  if (!as_) return true;
  while (soundNext_ < sound_.packets.size()) {
    AVPacket* a = sound_.packets[soundNext_].get();
    if (av_q2d(sound_.enc->time_base) * static_cast<double>(a->pts) > seconds) break;
    a->stream_index = as_->index;
    av_packet_rescale_ts(a, sound_.enc->time_base, as_->time_base);
    if (av_interleaved_write_frame(out_.get(), a) < 0) return fail(err::kWriteFailed);
    ++soundNext_;
  }
  return true;
}

// Every output packet's decode time is set from the planned frame times:
// the n-th packet decodes at the (n - reorder)-th presentation time, which
// rises strictly and never passes a packet's own time across the joins.
// A sample lasts until the next one decodes and the track as long as its
// samples together, with decoding started reorder steps before the first
// picture shows: the last sample takes what is left of the planned length,
// whichever frame the encoder happened to put last.
bool Cutter::writeVideo(AVPacket* pkt) {
  const std::vector<int64_t>& times = plan_.outPts;
  const auto it = std::lower_bound(times.begin(), times.end(), pkt->pts);
  if (it == times.end() || *it != pkt->pts || written_ >= times.size()) return fail(err::kEncoderFailed);
  const int64_t n = static_cast<int64_t>(written_);
  const int64_t step = times.size() > 1 ? times[1] - times[0] : plan_.outDur[0];
  pkt->dts = n >= plan_.reorder ? times[n - plan_.reorder] : times[0] - (plan_.reorder - n) * step;
  const bool lastPacket = written_ + 1 == times.size();
  const int64_t end = times.back() + plan_.outDur.back();
  pkt->duration = lastPacket ? std::max<int64_t>(1, end - pkt->dts - plan_.reorder * step)
                              : plan_.outDur[it - times.begin()];
  pkt->stream_index = vs_->index;
  pkt->pos = -1;
  if (!writeSoundUntil(av_q2d(plan_.timeBase) * static_cast<double>(pkt->dts))) return false;
  av_packet_rescale_ts(pkt, plan_.timeBase, vs_->time_base);
  if (av_interleaved_write_frame(out_.get(), pkt) < 0) return fail(err::kWriteFailed);
  ++written_;
  report(false);
  return !cancelled() || fail(err::kCancelled);
}

void Cutter::report(bool last) {
  if (!progress_) return;
  const double percent = last ? 100.0 : 100.0 * static_cast<double>(written_) / static_cast<double>(plan_.outPts.size());
  if (!last && percent < lastPercent_ + kProgressStep) return;
  lastPercent_ = percent;
  ExportProgress p;
  p.percent = std::min(percent, 100.0);
  const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
  p.etaSeconds = percent >= kEtaFromPercent && !last ? elapsed * (100.0 - percent) / percent : last ? 0 : -1;
  p.encoder.name = plan_.codec == AV_CODEC_ID_H264 ? "libx264" : "libx265";
  progress_(p);
}

// The written file opens, holds the planned number of pictures, shows the
// first and the last where the plan says and lasts as long.
bool Cutter::verify(const std::string& path) const {
  av::FormatPtr f = av::openInput(path);
  const int vi = f ? av::firstStream(f.get(), AVMEDIA_TYPE_VIDEO) : -1;
  if (vi < 0) return false;
  if ((av::firstStream(f.get(), AVMEDIA_TYPE_AUDIO) >= 0) != (sound_.enc != nullptr)) return false;
  const AVStream* st = f->streams[vi];
  av::PacketPtr pkt = av::makePacket();
  int64_t count = 0;
  int64_t lo = INT64_MAX;
  int64_t hi = INT64_MIN;
  while (av_read_frame(f.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi && pkt->pts != AV_NOPTS_VALUE) {
      ++count;
      lo = std::min(lo, pkt->pts);
      hi = std::max(hi, pkt->pts);
    }
    av_packet_unref(pkt.get());
  }
  if (count != plan_.stats.frames) return false;
  const double spanMs = av::tsToMs(hi - lo, st->time_base, 0);
  const double plannedSpanMs = av::tsToMs(plan_.outPts.back() - plan_.outPts.front(), plan_.timeBase, 0);
  if (std::abs(spanMs - plannedSpanMs) > kCheckSlackMs) return false;
  return st->duration <= 0 ||
         std::abs(av::tsToMs(st->duration, st->time_base, 0) - plan_.stats.durationMs) <= kCheckSlackMs;
}

bool Cutter::run(std::string* word) {
  bool ok = openInput();
  // The sound is encoded on a thread of its own while the edges are: each
  // keeps a core busy, and the output needs both before its header.
  std::string soundWord;
  bool soundOk = true;
  std::thread soundThread;
  if (ok) {
    soundThread = std::thread([this, &soundOk, &soundWord] {
      soundOk = smartcut::encodeSound(plan_, cancel_, &sound_, &soundWord);
    });
  }
  ok = ok && encodeEdges();
  if (soundThread.joinable()) soundThread.join();
  if (ok && !soundOk) {
    word_ = soundWord;
    ok = false;
  }
  ok = ok && openOutput();
  for (size_t i = 0; ok && i < plan_.pieces.size(); ++i) {
    ok = plan_.pieces[i].copy ? copyPiece(plan_.pieces[i]) : writeEdge(i);
  }
  ok = ok && written_ == plan_.outPts.size() && writeSoundUntil(1e300);
  if (ok && av_write_trailer(out_.get()) < 0) ok = fail(err::kWriteFailed);
  out_.reset();
  if (ok && !verify(temp_.path())) ok = fail(smartcut::kCheckFailed);
  if (ok && !temp_.commit()) ok = fail(err::kWriteFailed);
  if (!ok) {
    *word = word_;
    return false;
  }
  report(true);
  return true;
}

}  // namespace

bool runSmartCut(const SmartCutPlan& plan, std::atomic<bool>* cancel,
                 const std::function<void(const ExportProgress&)>& progress, std::string* err) {
  std::string word;
  Cutter cutter(plan, cancel, progress);
  const bool ok = cutter.run(&word);
  if (err) *err = ok ? std::string() : word;
  return ok;
}

}  // namespace media
