#include "media/player.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "media/av_util.h"
#include "media/errors.h"
#include "media/hdr.h"
#include "platform/log.h"

namespace media {

namespace {

// Six preview frames are 200 ms at 30 fps: enough to ride out a slow decode,
// little enough to keep memory bounded.
constexpr size_t kQueueFrames = 6;
// Converted sound: 48000 Hz × 2 channels × 2 bytes.
constexpr double kAudioBytesPerSecond = 192000.0;
// Below half a second of converted sound the decoder reads ahead for more,
// even with a full picture queue.
constexpr size_t kAudioLowBytes = 96000;
// Four seconds: room for the sound of badly interleaved files. Only beyond
// this is sound dropped.
constexpr size_t kAudioBufferLimit = 4 * 192000;
// Compressed video held back while reading ahead for sound: two seconds of a
// 60 Mbit/s phone clip.
constexpr size_t kStashBytes = 16u << 20;
// How often the decoder looks at the sound level while sound plays.
constexpr auto kSoundPoll = std::chrono::milliseconds(10);
// Ahead of the played sound by more than this, the device counts as stalled
// and the wall clock takes over.
constexpr double kAudioStallMs = 500.0;
// Play pressed this close to the end starts again from the beginning.
constexpr double kRestartMarginMs = 30.0;

// Process-wide monotonic milliseconds since first use.
int64_t wallMs() {
  static const auto kStart = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               kStart)
      .count();
}

using err::setError;

// A byte queue for the sound. Only push() allocates (on the decode thread);
// pop() runs in the audio callback and only copies.
class ByteRing {
 public:
  size_t size() const { return size_; }
  void clear() {
    head_ = 0;
    size_ = 0;
  }
  void reserve(size_t n) {
    if (n > buf_.size()) grow(n);
  }
  void push(const uint8_t* src, size_t n) {
    if (size_ + n > buf_.size()) grow(std::max(size_ + n, buf_.size() * 2));
    size_t tail = (head_ + size_) % buf_.size();
    const size_t first = std::min(n, buf_.size() - tail);
    std::memcpy(buf_.data() + tail, src, first);
    std::memcpy(buf_.data(), src + first, n - first);
    size_ += n;
  }
  size_t pop(uint8_t* dst, size_t n) {
    n = std::min(n, size_);
    if (n == 0) return 0;
    const size_t first = std::min(n, buf_.size() - head_);
    std::memcpy(dst, buf_.data() + head_, first);
    std::memcpy(dst + first, buf_.data(), n - first);
    head_ = (head_ + n) % buf_.size();
    size_ -= n;
    return n;
  }

 private:
  void grow(size_t capacity) {
    std::vector<uint8_t> bigger(capacity);
    const size_t have = size_;
    pop(bigger.data(), have);
    buf_.swap(bigger);
    head_ = 0;
    size_ = have;
  }

  std::vector<uint8_t> buf_;
  size_t head_ = 0;
  size_t size_ = 0;
};

// The lossless turn that makes a frame upright; false when none is needed.
bool uprightTurn(int rotation, TransformOp* op) {
  switch (rotation) {
    case 90: *op = TransformOp::RotateCW; return true;
    case 180: *op = TransformOp::Rotate180; return true;
    case 270: *op = TransformOp::RotateCCW; return true;
    default: return false;
  }
}

}  // namespace

struct Player::Impl {
  struct VFrame {
    Image image;  // RGBA, no alpha, already upright
    double ptsMs = 0;
  };

  // The open file; written by the UI thread before the decode thread starts
  // and after it has been joined, used by the decode thread in between.
  av::FormatPtr format;
  av::CodecPtr videoCodec;
  av::CodecPtr audioCodec;
  int videoStream = -1;
  int audioStream = -1;
  int rotation = 0;
  int codedWidth = 0;
  int codedHeight = 0;
  // The size frames are converted to: set at open, then by the decode thread
  // when the UI thread asks for another long edge.
  int outWidth = 0;
  int outHeight = 0;
  std::atomic<int> maxEdge{0};  // the requested long edge; below 1: full size
  double durationMs = 0;  // 0 when unknown
  av::SwsPtr scaler;     // decode thread
  av::SwrPtr resampler;  // decode thread
  const std::atomic<double>* volume = nullptr;

  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> playing{false};
  std::atomic<bool> seekPending{false};
  std::atomic<double> seekTargetMs{0};
  // Counts seek requests. Frames and sound decoded for an older request are
  // dropped instead of queued, so nothing from before a seek shows after it.
  std::atomic<uint64_t> seekSerial{0};
  std::atomic<bool> eof{false};
  std::atomic<bool> needFrame{true};

  std::deque<VFrame> frames;
  mutable std::mutex framesMutex;
  std::condition_variable framesCond;

  ByteRing audioBuffer;
  std::mutex audioMutex;  // guards audioBuffer; held by the audio callback
  SDL_AudioDeviceID audioDevice = 0;
  bool audioSubsystem = false;  // this player holds a reference on SDL audio

  std::atomic<double> audioPlayedMs{0};
  std::atomic<double> basePositionMs{0};
  std::atomic<int64_t> baseWallMs{0};
  double lastShownMs = 0;  // UI thread

  // --- UI thread -------------------------------------------------------------
  bool openAudio(int streamIndex);
  void closeAudio();
  void startClock(double positionMs);
  // Wakes the decode thread after a flag it waits on has changed. Taking the
  // mutex orders the change before the thread's next look at its predicate.
  void wake() {
    { std::lock_guard<std::mutex> lock(framesMutex); }
    framesCond.notify_all();
  }
  void release();
  // Sets outWidth × outHeight from the coded size and a long edge.
  void fitOutput(int edge);

  // --- Decode thread ----------------------------------------------------------
  void run();
  static int interrupted(void* self) {
    return static_cast<Impl*>(self)->stop.load(std::memory_order_relaxed) ? 1 : 0;
  }
  static void audioCallback(void* self, Uint8* stream, int len);
};

// ============================================================================
// Audio callback (SDL's audio thread): copies what is ready, nothing more.
// ============================================================================

void Player::Impl::audioCallback(void* self, Uint8* stream, int len) {
  auto* m = static_cast<Impl*>(self);
  const auto want = static_cast<size_t>(std::max(len, 0));
  size_t copied = 0;
  {
    std::lock_guard<std::mutex> lock(m->audioMutex);
    copied = m->audioBuffer.pop(stream, want);
  }
  if (copied < want) std::memset(stream + copied, 0, want - copied);
  // Silence counts: the clock follows what the device consumed.
  m->audioPlayedMs.fetch_add(static_cast<double>(want) / kAudioBytesPerSecond * 1000.0);
}

// ============================================================================
// Decode thread
// ============================================================================

namespace {

// Whether a time falls before a skip mark (set by a seek); the first time at
// or after the mark clears it.
bool skipBefore(double tMs, double* skipMs) {
  if (*skipMs < 0) return false;
  if (tMs < *skipMs) return true;
  *skipMs = -1;
  return false;
}

// The decode thread's work. It reads packets while the picture queue has room
// or the sound runs low; video packets read ahead for the sound's sake wait
// compressed in a stash until the picture queue has room. Files interleave
// sound up to a second or more away from the pictures it belongs to (phones
// write one-second chunks), so without the read-ahead the sound would run dry
// or overflow while the picture queue is full.
class DecodeLoop {
 public:
  explicit DecodeLoop(Player::Impl& m) : m_(m) {}

  void run() {
    if (!packet_ || !frame_ || !skipped_) return;
    videoTb_ = m_.format->streams[m_.videoStream]->time_base;
    if (m_.audioStream >= 0) audioTb_ = m_.format->streams[m_.audioStream]->time_base;
    while (!m_.stop) {
      if (m_.seekPending.exchange(false)) carryOutSeek();
      const bool room = pictureRoom();
      if (soundWanted()) {
        // Sound first: a gap in it is worse than a late picture.
        readPacket(false);
      } else if (room && !stash_.empty()) {
        decodeVideo(stash_.front().get());
        stashBytes_ -= static_cast<size_t>(stash_.front()->size);
        stash_.pop_front();
      } else if (room && !inputDone_) {
        readPacket(true);
      } else if (room && inputDone_ && !videoDrained_) {
        drainVideo();
      } else {
        waitForWork();
      }
    }
  }

 private:
  bool pictureRoom() {
    std::lock_guard<std::mutex> lock(m_.framesMutex);
    return m_.frames.size() < kQueueFrames;
  }

  bool soundWanted() {
    if (!m_.audioCodec || inputDone_ || stashBytes_ >= kStashBytes) return false;
    std::lock_guard<std::mutex> lock(m_.audioMutex);
    return m_.audioBuffer.size() < kAudioLowBytes;
  }

  // Sleeps until the UI takes a frame, seeks, plays, pauses or closes. While
  // sound plays it also looks again every few milliseconds, as the device
  // drains the sound buffer without telling anyone.
  void waitForWork() {
    std::unique_lock<std::mutex> lock(m_.framesMutex);
    const bool playing = m_.playing;
    auto ready = [&] {
      return m_.stop || m_.seekPending || m_.playing != playing ||
             (m_.frames.size() < kQueueFrames && !(inputDone_ && stash_.empty() && videoDrained_));
    };
    if (playing && m_.audioCodec) {
      m_.framesCond.wait_for(lock, kSoundPoll, ready);
    } else {
      m_.framesCond.wait(lock, ready);
    }
  }

  void carryOutSeek() {
    double target = 0;
    {
      std::lock_guard<std::mutex> lock(m_.framesMutex);
      target = m_.seekTargetMs.load();
      serial_ = m_.seekSerial.load();
      m_.frames.clear();
    }
    if (av_seek_frame(m_.format.get(), -1, static_cast<int64_t>(target * 1000.0),
                      AVSEEK_FLAG_BACKWARD) < 0 &&
        target <= 0) {
      // Streams without timestamps cannot seek by time, but their start is
      // still reachable by position.
      av_seek_frame(m_.format.get(), -1, 0, AVSEEK_FLAG_BYTE);
    }
    avcodec_flush_buffers(m_.videoCodec.get());
    if (m_.audioCodec) {
      avcodec_flush_buffers(m_.audioCodec.get());
      swr_init(m_.resampler.get());  // drops the resampler's tail from before the jump
    }
    {
      std::lock_guard<std::mutex> lock(m_.audioMutex);
      m_.audioBuffer.clear();
    }
    m_.audioPlayedMs = 0;
    m_.basePositionMs = target;
    m_.baseWallMs = wallMs();
    m_.eof = false;
    stash_.clear();
    stashBytes_ = 0;
    av_frame_unref(skipped_.get());
    videoSkipMs_ = target - 1.0;
    audioSkipMs_ = target - 1.0;
    // The last second is decoded in full: a seek to the end shows the very
    // last frame even when nothing refers to it.
    skipDecodeUntilMs_ = std::min(videoSkipMs_, m_.durationMs - 1000.0);
    inputDone_ = false;
    videoDrained_ = false;
  }

  // Reads one packet: sound is decoded at once, video too when pictureRoom
  // (and nothing older waits in the stash), else it goes to the stash.
  void readPacket(bool pictureRoom) {
    AVPacket* pkt = packet_.get();
    const int r = av_read_frame(m_.format.get(), pkt);
    if (r == AVERROR(EAGAIN)) return;
    if (r < 0) {
      // End of input (or a read error). The sound decoder gives up what it
      // holds now; the video decoder once the stash is decoded.
      inputDone_ = true;
      if (m_.audioCodec) {
        avcodec_send_packet(m_.audioCodec.get(), nullptr);
        receiveAudio();
      }
      return;
    }
    if (pkt->stream_index == m_.videoStream) {
      if (pictureRoom && stash_.empty()) {
        decodeVideo(pkt);
      } else {
        av::PacketPtr kept = av::makePacket();
        if (kept) {
          av_packet_move_ref(kept.get(), pkt);
          stashBytes_ += static_cast<size_t>(kept->size);
          stash_.push_back(std::move(kept));
        }
      }
    } else if (pkt->stream_index == m_.audioStream && m_.audioCodec) {
      avcodec_send_packet(m_.audioCodec.get(), pkt);  // a damaged packet is skipped
      receiveAudio();
    }
    av_packet_unref(pkt);
  }

  void decodeVideo(const AVPacket* pkt) {
    // After a seek, frames before the target are dropped; those nothing
    // refers to need no decoding at all.
    av::skipUnneededFrames(m_.videoCodec.get(), pkt, videoTb_,
                           videoSkipMs_ >= 0 ? skipDecodeUntilMs_ : -1e300);
    avcodec_send_packet(m_.videoCodec.get(), pkt);  // a damaged packet is skipped
    while (!m_.stop && avcodec_receive_frame(m_.videoCodec.get(), frame_.get()) == 0) {
      handleVideo(frame_.get());
      av_frame_unref(frame_.get());
    }
  }

  // After the end of input: one frame per turn, so the queue bound holds.
  void drainVideo() {
    if (!videoFlushed_) {
      avcodec_send_packet(m_.videoCodec.get(), nullptr);
      videoFlushed_ = true;
    }
    if (avcodec_receive_frame(m_.videoCodec.get(), frame_.get()) == 0) {
      handleVideo(frame_.get());
      av_frame_unref(frame_.get());
      return;
    }
    // A seek to or past the last frame still shows the last frame.
    if (videoSkipMs_ >= 0 && skipped_->buf[0]) {
      videoSkipMs_ = -1;
      showVideo(skipped_.get(), av::tsToMs(av::framePts(skipped_.get()), videoTb_, 0));
      av_frame_unref(skipped_.get());
    }
    videoDrained_ = true;
    m_.eof = true;
  }

  void receiveAudio() {
    while (!m_.stop && avcodec_receive_frame(m_.audioCodec.get(), frame_.get()) == 0) {
      handleAudio(frame_.get());
      av_frame_unref(frame_.get());
    }
  }

  void handleVideo(AVFrame* f) {
    const double t = av::tsToMs(av::framePts(f), videoTb_, 0);
    if (skipBefore(t, &videoSkipMs_)) {
      av_frame_unref(skipped_.get());
      av_frame_move_ref(skipped_.get(), f);
      return;
    }
    av_frame_unref(skipped_.get());
    if (!m_.stop) showVideo(f, t);
  }

  // Scales, turns and queues one frame.
  void showVideo(const AVFrame* f, double t) {
    const int edge = m_.maxEdge.load();
    if (edge != appliedEdge_) {
      m_.fitOutput(edge);
      appliedEdge_ = edge;
      colourFor_ = nullptr;  // a scaler of the new size may reuse the old one's address
    }
    Image img;
    if (dynamicRangeOf(f->color_trc) != DynamicRange::Standard) {
      if (!toneMapper_.toRgba(f, m_.outWidth, m_.outHeight, &img)) return;  // the next frame may convert
    } else if (!scaleStandard(f, &img)) {
      return;
    }
    TransformOp op{};
    if (uprightTurn(m_.rotation, &op)) img = transform(img, op);
    std::lock_guard<std::mutex> lock(m_.framesMutex);
    if (serial_ == m_.seekSerial.load()) m_.frames.push_back(Player::Impl::VFrame{std::move(img), t});
  }

  // Standard range to RGBA at the output size. A frame to be shrunk is first
  // scaled in its own format and converted to RGBA after, at the small size:
  // libswscale's vectorised paths make that several times cheaper than one
  // pass that scales and converts at once (1080p to 1173 × 660: 10 ms in one
  // pass, 1.5 ms in two).
  bool scaleStandard(const AVFrame* f, Image* out) {
    const int w = m_.outWidth;
    const int h = m_.outHeight;
    const AVFrame* from = (f->width != w || f->height != h) && shrink(f) ? shrunk_.get() : f;
    SwsContext* sws = sws_getCachedContext(m_.scaler.release(), from->width, from->height,
                                           static_cast<AVPixelFormat>(from->format), w, h, AV_PIX_FMT_RGBA,
                                           SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_.scaler.reset(sws);
    if (!sws) return false;
    if (colourFor_ != sws || colourSpace_ != f->colorspace || colourRange_ != f->color_range) {
      av::setSourceColour(sws, f);  // the decoded frame's tags and size decide the matrix
      colourFor_ = sws;
      colourSpace_ = f->colorspace;
      colourRange_ = f->color_range;
    }
    Image img = Image::create(w, h, false);
    if (!av::scaleInto(sws, from, w, h, img.pixels.data(), &rows_)) return false;
    *out = std::move(img);
    return true;
  }

  // Scales f into shrunk_ at the output size, keeping its pixel format;
  // false when libswscale cannot write that format.
  bool shrink(const AVFrame* f) {
    const auto format = static_cast<AVPixelFormat>(f->format);
    if (!sws_isSupportedOutput(format)) return false;
    if (!shrunk_ || shrunk_->width != m_.outWidth || shrunk_->height != m_.outHeight || shrunk_->format != f->format) {
      shrunk_ = av::makeFrame();
      if (!shrunk_) return false;
      shrunk_->width = m_.outWidth;
      shrunk_->height = m_.outHeight;
      shrunk_->format = f->format;
      // Rows are padded (read by the conversion's 16-pixel blocks): zeroed once.
      if (av_frame_get_buffer(shrunk_.get(), 0) < 0) {
        shrunk_.reset();
        return false;
      }
      for (AVBufferRef* b : shrunk_->buf) {
        if (b) std::memset(b->data, 0, b->size);
      }
    }
    SwsContext* sws = sws_getCachedContext(shrinker_.release(), f->width, f->height, format, m_.outWidth,
                                           m_.outHeight, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    shrinker_.reset(sws);
    return sws && sws_scale(sws, f->data, f->linesize, 0, f->height, shrunk_->data, shrunk_->linesize) > 0;
  }

  // Converts to 16-bit stereo at 48 kHz, applies the volume and queues it.
  void handleAudio(const AVFrame* f) {
    const double t = av::tsToMs(av::framePts(f), audioTb_, 0);
    if (skipBefore(t, &audioSkipMs_)) return;
    const int room = swr_get_out_samples(m_.resampler.get(), f->nb_samples);
    if (room <= 0) return;
    samples_.resize(static_cast<size_t>(room) * 2);
    auto* out = reinterpret_cast<uint8_t*>(samples_.data());
    const int got = swr_convert(m_.resampler.get(), &out, room,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= 0) return;
    const size_t count = static_cast<size_t>(got) * 2;
    const double v = m_.volume->load();
    if (v < 0.999) {
      for (size_t i = 0; i < count; ++i) {
        samples_[i] = static_cast<int16_t>(samples_[i] * v);  // truncates toward zero
      }
    }
    std::lock_guard<std::mutex> lock(m_.audioMutex);
    if (serial_ != m_.seekSerial.load() || m_.audioBuffer.size() >= kAudioBufferLimit) return;
    m_.audioBuffer.push(out, count * sizeof(int16_t));
  }

  Player::Impl& m_;
  av::PacketPtr packet_ = av::makePacket();
  av::FramePtr frame_ = av::makeFrame();
  // The latest frame dropped before the skip mark: shown when the file ends
  // before the mark.
  av::FramePtr skipped_ = av::makeFrame();
  std::deque<av::PacketPtr> stash_;  // video packets read ahead for the sound
  size_t stashBytes_ = 0;
  std::vector<int16_t> samples_;     // conversion scratch
  AVRational videoTb_{1, 1};
  AVRational audioTb_{1, 1};
  uint64_t serial_ = 0;       // the seek request being served
  double videoSkipMs_ = -1;   // frames before this are dropped (after a seek)
  double audioSkipMs_ = -1;
  double skipDecodeUntilMs_ = -1;  // unreferenced frames before this are not decoded
  bool inputDone_ = false;    // every packet read
  bool videoFlushed_ = false; // the video decoder was told the end
  bool videoDrained_ = false; // ... and has given up every frame
  int appliedEdge_ = m_.maxEdge.load();  // the long edge outWidth × outHeight follow
  av::SwsPtr shrinker_;  // scales in the source's format, before the conversion
  av::FramePtr shrunk_;  // its output, reused from frame to frame
  std::vector<uint8_t> rows_;  // scratch for conversions of widths off 16 pixels
  // Colour set-up the scaler was last given.
  const SwsContext* colourFor_ = nullptr;
  int colourSpace_ = -1;
  int colourRange_ = -1;
  ToneMapper toneMapper_;  // high-dynamic-range frames only
};

}  // namespace

void Player::Impl::run() { DecodeLoop(*this).run(); }

void Player::Impl::fitOutput(int edge) {
  outWidth = codedWidth;
  outHeight = codedHeight;
  const int longEdge = std::max(codedWidth, codedHeight);
  if (edge >= 1 && edge < longEdge) {
    const double f = static_cast<double>(edge) / longEdge;
    outWidth = std::max(2, static_cast<int>(std::lround(codedWidth * f)));
    outHeight = std::max(2, static_cast<int>(std::lround(codedHeight * f)));
  }
}

// ============================================================================
// Opening and closing (UI thread)
// ============================================================================

bool Player::Impl::openAudio(int streamIndex) {
  audioCodec = av::openDecoder(format->streams[streamIndex], FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!audioCodec) return false;

  AVChannelLayout inLayout{};
  if (audioCodec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    // Only a channel count is known: assume the usual speaker order.
    av_channel_layout_default(&inLayout, std::max(1, audioCodec->ch_layout.nb_channels));
  } else if (av_channel_layout_copy(&inLayout, &audioCodec->ch_layout) < 0) {
    return false;
  }
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, 2);
  SwrContext* raw = nullptr;
  const int set = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, 48000, &inLayout,
                                      audioCodec->sample_fmt, audioCodec->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  resampler.reset(raw);
  if (set < 0 || !resampler || swr_init(resampler.get()) < 0) return false;

  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    diag::write("player", std::string("SDL_INIT_AUDIO scheiterte: ") + SDL_GetError());
    return false;
  }
  audioSubsystem = true;
  SDL_AudioSpec want{};
  want.freq = 48000;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = &Impl::audioCallback;
  want.userdata = this;
  // No allowed changes: SDL converts when the device wants something else.
  audioDevice = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (audioDevice == 0) {
    diag::write("player", std::string("kein Klanggeraet: ") + SDL_GetError());
    return false;
  }
  audioBuffer.reserve(kAudioBufferLimit + kAudioLowBytes);  // no growth while playing
  audioStream = streamIndex;
  return true;  // the device starts paused
}

void Player::Impl::startClock(double positionMs) {
  audioPlayedMs = 0;
  basePositionMs = positionMs;
  baseWallMs = wallMs();
}

void Player::Impl::closeAudio() {
  if (audioDevice != 0) SDL_CloseAudioDevice(audioDevice);  // joins SDL's audio thread
  audioDevice = 0;
  if (audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  audioSubsystem = false;
  resampler.reset();
  audioCodec.reset();
  audioStream = -1;
}

void Player::Impl::release() {
  closeAudio();
  scaler.reset();
  videoCodec.reset();
  format.reset();
  videoStream = -1;
  rotation = 0;
  codedWidth = codedHeight = outWidth = outHeight = 0;
  durationMs = 0;
  {
    std::lock_guard<std::mutex> lock(framesMutex);
    frames.clear();
  }
  {
    std::lock_guard<std::mutex> lock(audioMutex);
    audioBuffer.clear();
  }
  playing = false;
  seekPending = false;
  eof = false;
  needFrame = true;
  startClock(0);
  lastShownMs = 0;
}

Player::Player() : impl(std::make_unique<Impl>()) { impl->volume = &volume; }

Player::~Player() { close(); }

bool Player::open(const std::string& path, int maxEdge, std::string* err) {
  close();
  Impl& m = *impl;
  m.stop = false;
  const AVIOInterruptCB interrupt{&Impl::interrupted, &m};
  m.format = av::openInput(path, &interrupt);
  if (!m.format) {
    diag::write("player", "avformat_open_input scheiterte: " + path);
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  m.videoStream = av::firstStream(m.format.get(), AVMEDIA_TYPE_VIDEO);
  if (m.videoStream < 0) {
    m.release();
    setError(err, err::kNoVideoTrack);
    return false;
  }
  const AVStream* vs = m.format->streams[m.videoStream];
  m.videoCodec = av::openDecoder(vs, FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!m.videoCodec || m.videoCodec->width < 1 || m.videoCodec->height < 1) {
    m.release();
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  m.rotation = av::displayRotation(vs);
  const int codedW = m.codedWidth = m.videoCodec->width;
  const int codedH = m.codedHeight = m.videoCodec->height;
  m.maxEdge = maxEdge;
  m.fitOutput(maxEdge);

  const int audioIndex = av::firstStream(m.format.get(), AVMEDIA_TYPE_AUDIO);
  // Sound is optional: without it the picture plays on the wall clock.
  if (audioIndex >= 0 && !m.openAudio(audioIndex)) m.closeAudio();

  durationMs = m.format->duration > 0 ? static_cast<double>(m.format->duration) / 1000.0 : 0;
  m.durationMs = durationMs;
  hasAudio = m.audioDevice != 0;
  m.needFrame = true;
  m.playing = false;
  m.seekSerial = 0;
  m.startClock(0);
  isOpen = true;
  isPlaying = false;
  diag::write("player", "geoeffnet: " + path + ", " + std::to_string(codedW) + "x" +
                            std::to_string(codedH) + " → " + std::to_string(m.outWidth) + "x" +
                            std::to_string(m.outHeight) + ", Drehung " +
                            std::to_string(m.rotation) + ", Ton " + (hasAudio ? "ja" : "nein"));
  m.thread = std::thread(&Impl::run, &m);
  return true;
}

void Player::close() {
  Impl& m = *impl;
  m.stop = true;
  m.wake();
  if (m.thread.joinable()) m.thread.join();
  m.release();
  isOpen = false;
  isPlaying = false;
  hasAudio = false;
  durationMs = 0;
}

// ============================================================================
// Transport (UI thread)
// ============================================================================

double Player::positionMs() const {
  const Impl& m = *impl;
  const double base = m.basePositionMs.load();
  if (!m.playing) return base;
  const auto elapsed = static_cast<double>(wallMs() - m.baseWallMs.load());
  if (m.audioDevice == 0) return base + elapsed;
  const double played = m.audioPlayedMs.load();
  return elapsed - played > kAudioStallMs ? base + elapsed : base + played;
}

void Player::play() {
  if (!isOpen) return;
  Impl& m = *impl;
  // An unknown duration (0) has no end to restart from.
  if (durationMs > 0 && positionMs() >= durationMs - kRestartMarginMs) seek(0);
  m.baseWallMs = wallMs();
  m.audioPlayedMs = 0;
  m.playing = true;
  isPlaying = true;
  if (m.audioDevice != 0) SDL_PauseAudioDevice(m.audioDevice, 0);
  m.wake();  // the decoder now keeps an eye on the draining sound
  diag::action("Wiedergabe ab " + std::to_string(std::llround(positionMs())) + " ms");
}

void Player::pause() {
  if (!isOpen) return;
  Impl& m = *impl;
  const double pos = positionMs();
  m.basePositionMs = pos;
  m.audioPlayedMs = 0;
  m.playing = false;
  isPlaying = false;
  if (m.audioDevice != 0) SDL_PauseAudioDevice(m.audioDevice, 1);
  diag::action("Pause bei " + std::to_string(std::llround(pos)) + " ms");
}

void Player::setMaxEdge(int maxEdge) { impl->maxEdge = maxEdge; }

void Player::seek(double ms) {
  if (!isOpen) return;
  Impl& m = *impl;
  double t = std::min(ms, durationMs);
  if (!(t > 0)) t = 0;  // negative, unknown duration or not-a-number
  {
    std::lock_guard<std::mutex> lock(m.framesMutex);
    m.seekTargetMs = t;
    m.seekSerial.fetch_add(1);
    m.frames.clear();
    m.seekPending = true;
  }
  {
    std::lock_guard<std::mutex> lock(m.audioMutex);
    m.audioBuffer.clear();
  }
  m.needFrame = true;
  m.startClock(t);
  m.framesCond.notify_all();
}

void Player::setVolume(double v) {
  if (std::isnan(v) || v >= 1.0) {
    volume = 1.0;
  } else if (v <= 0.0) {
    volume = 0.0;
  } else {
    volume = v;
  }
}

// ============================================================================
// Pictures (UI thread)
// ============================================================================

bool Player::takeFrame(Image* out, double* ptsMs) {
  if (!out || !isOpen) return false;
  Impl& m = *impl;
  const double pos = positionMs();
  const bool playing = m.playing;
  if (playing && durationMs > 0 && pos >= durationMs) {
    pause();
    return false;
  }
  if (!playing && !m.needFrame) return false;

  Impl::VFrame chosen;
  {
    std::unique_lock<std::mutex> lock(m.framesMutex);
    if (m.frames.empty()) {
      // Without a known duration the end shows as a drained decoder.
      const bool ended = playing && durationMs <= 0 && m.eof && !m.seekPending;
      lock.unlock();
      if (ended) pause();
      return false;
    }
    size_t due = m.frames.size();
    for (size_t i = 0; i < m.frames.size() && m.frames[i].ptsMs <= pos + 1.0; ++i) due = i;
    if (due == m.frames.size()) {
      if (playing || !m.needFrame) return false;  // the first frame is not due yet
      due = 0;
    }
    chosen = std::move(m.frames[due]);
    m.frames.erase(m.frames.begin(), m.frames.begin() + static_cast<std::ptrdiff_t>(due) + 1);
  }
  m.framesCond.notify_all();
  m.needFrame = false;
  *out = std::move(chosen.image);
  if (ptsMs) *ptsMs = chosen.ptsMs;
  m.lastShownMs = chosen.ptsMs;
  return true;
}

size_t Player::queuedFrames() const {
  std::lock_guard<std::mutex> lock(impl->framesMutex);
  return impl->frames.size();
}

}  // namespace media
