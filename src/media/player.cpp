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
#include "platform/log.h"

namespace media {

namespace {

// Six preview frames are 200 ms at 30 fps: enough to ride out a slow decode,
// little enough to keep memory bounded.
constexpr size_t kQueueFrames = 6;
// Converted sound: 48000 Hz × 2 channels × 2 bytes.
constexpr double kAudioBytesPerSecond = 192000.0;
// At most one second of converted sound waits for the device.
constexpr size_t kAudioBufferLimit = 192000;
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

void setError(std::string* err, const char* word) {
  if (err) *err = word;
}

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
  int outWidth = 0;
  int outHeight = 0;
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
  void startClock(double positionMs);
  // Wakes the decode thread after a flag it waits on has changed. Taking the
  // mutex orders the change before the thread's next look at its predicate.
  void wake() {
    { std::lock_guard<std::mutex> lock(framesMutex); }
    framesCond.notify_all();
  }
  void release();

  // --- Decode thread ----------------------------------------------------------
  void run();
  static int interrupted(void* self) {
    return static_cast<Impl*>(self)->stop.load(std::memory_order_relaxed) ? 1 : 0;
  }
  static void audioCallback(void* self, Uint8* stream, int len);
};

namespace {

// State the decode thread keeps between loop turns.
struct DecodeState {
  av::PacketPtr packet = av::makePacket();
  av::FramePtr frame = av::makeFrame();
  uint64_t serial = 0;        // the seek request being served
  double videoSkipMs = -1;    // frames before this are dropped (after a seek)
  double audioSkipMs = -1;
  bool inputDone = false;     // every packet read, decoders told the end
  std::vector<int16_t> samples;  // conversion scratch
  // Colour set-up the scaler was last given.
  const SwsContext* colourFor = nullptr;
  int colourSpace = -1;
  int colourRange = -1;
};

}  // namespace

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

// Frame time in ms and whether it falls before the skip mark, which the first
// frame at or after the mark clears.
bool skipBefore(double tMs, double* skipMs) {
  if (*skipMs < 0) return false;
  if (tMs < *skipMs) return true;
  *skipMs = -1;
  return false;
}

}  // namespace

void Player::Impl::run() {
  DecodeState ds;
  if (!ds.packet || !ds.frame) return;
  const AVRational videoTb = format->streams[videoStream]->time_base;
  const AVRational audioTb = audioStream >= 0 ? format->streams[audioStream]->time_base : AVRational{1, 1};

  auto carryOutSeek = [&] {
    double target = 0;
    {
      std::lock_guard<std::mutex> lock(framesMutex);
      target = seekTargetMs.load();
      ds.serial = seekSerial.load();
      frames.clear();
    }
    av_seek_frame(format.get(), -1, static_cast<int64_t>(target * 1000.0), AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(videoCodec.get());
    if (audioCodec) {
      avcodec_flush_buffers(audioCodec.get());
      // Drops the resampler's buffered tail from before the jump.
      swr_init(resampler.get());
    }
    {
      std::lock_guard<std::mutex> lock(audioMutex);
      audioBuffer.clear();
    }
    audioPlayedMs = 0;
    basePositionMs = target;
    baseWallMs = wallMs();
    eof = false;
    ds.videoSkipMs = target - 1.0;
    ds.audioSkipMs = target - 1.0;
    ds.inputDone = false;
  };

  auto handleVideo = [&](AVFrame* f) {
    const double t = av::tsToMs(av::framePts(f), videoTb, 0);
    if (skipBefore(t, &ds.videoSkipMs) || stop) return;
    SwsContext* sws = sws_getCachedContext(scaler.release(), f->width, f->height,
                                           static_cast<AVPixelFormat>(f->format), outWidth,
                                           outHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr,
                                           nullptr, nullptr);
    scaler.reset(sws);
    if (!sws) return;  // this frame cannot be shown; the next may
    if (ds.colourFor != sws || ds.colourSpace != f->colorspace || ds.colourRange != f->color_range) {
      av::setSourceColour(sws, f);
      ds.colourFor = sws;
      ds.colourSpace = f->colorspace;
      ds.colourRange = f->color_range;
    }
    Image img = Image::create(outWidth, outHeight, false);
    uint8_t* dst[4] = {img.pixels.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {outWidth * 4, 0, 0, 0};
    if (sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride) <= 0) return;
    TransformOp op{};
    if (uprightTurn(rotation, &op)) img = transform(img, op);
    std::lock_guard<std::mutex> lock(framesMutex);
    if (ds.serial == seekSerial.load()) frames.push_back(VFrame{std::move(img), t});
  };

  auto handleAudio = [&](AVFrame* f) {
    const double t = av::tsToMs(av::framePts(f), audioTb, 0);
    if (skipBefore(t, &ds.audioSkipMs)) return;
    const int room = swr_get_out_samples(resampler.get(), f->nb_samples);
    if (room <= 0) return;
    ds.samples.resize(static_cast<size_t>(room) * 2);
    auto* out = reinterpret_cast<uint8_t*>(ds.samples.data());
    const int got = swr_convert(resampler.get(), &out, room,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= 0) return;
    const size_t count = static_cast<size_t>(got) * 2;
    const double v = volume->load();
    if (v < 0.999) {
      for (size_t i = 0; i < count; ++i) {
        ds.samples[i] = static_cast<int16_t>(ds.samples[i] * v);  // truncates toward zero
      }
    }
    std::lock_guard<std::mutex> lock(audioMutex);
    if (ds.serial != seekSerial.load() || audioBuffer.size() >= kAudioBufferLimit) return;
    audioBuffer.push(out, count * sizeof(int16_t));
  };

  // Hands every ready frame of a decoder to its handler; stops early on close.
  auto receiveAll = [&](AVCodecContext* dec, bool video) {
    while (!stop && avcodec_receive_frame(dec, ds.frame.get()) == 0) {
      if (video) {
        handleVideo(ds.frame.get());
      } else {
        handleAudio(ds.frame.get());
      }
      av_frame_unref(ds.frame.get());
    }
  };

  while (!stop) {
    if (seekPending.exchange(false)) carryOutSeek();

    // Back-pressure: sleep until the UI takes a frame, a seek arrives or close.
    {
      std::unique_lock<std::mutex> lock(framesMutex);
      framesCond.wait(lock, [&] { return stop || seekPending || frames.size() < kQueueFrames; });
      if (stop || seekPending) continue;
    }

    if (ds.inputDone) {
      // The end: drain the video decoder one frame per turn so the queue
      // bound holds, then rest until a seek or close.
      if (avcodec_receive_frame(videoCodec.get(), ds.frame.get()) == 0) {
        handleVideo(ds.frame.get());
        av_frame_unref(ds.frame.get());
        continue;
      }
      eof = true;
      std::unique_lock<std::mutex> lock(framesMutex);
      framesCond.wait(lock, [&] { return stop || seekPending; });
      continue;
    }

    AVPacket* pkt = ds.packet.get();
    const int r = av_read_frame(format.get(), pkt);
    if (r == AVERROR(EAGAIN)) continue;
    if (r < 0) {
      // End of input (or a read error): flush the decoders so the frames
      // they still hold come out too.
      avcodec_send_packet(videoCodec.get(), nullptr);
      if (audioCodec) {
        avcodec_send_packet(audioCodec.get(), nullptr);
        receiveAll(audioCodec.get(), false);
      }
      ds.inputDone = true;
      continue;
    }
    if (pkt->stream_index == videoStream) {
      avcodec_send_packet(videoCodec.get(), pkt);  // a damaged packet is skipped
      receiveAll(videoCodec.get(), true);
    } else if (pkt->stream_index == audioStream && audioCodec) {
      avcodec_send_packet(audioCodec.get(), pkt);
      receiveAll(audioCodec.get(), false);
    }
    av_packet_unref(pkt);
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
  audioBuffer.reserve(kAudioBufferLimit * 2);
  audioStream = streamIndex;
  return true;  // the device starts paused
}

void Player::Impl::startClock(double positionMs) {
  audioPlayedMs = 0;
  basePositionMs = positionMs;
  baseWallMs = wallMs();
}

void Player::Impl::release() {
  if (audioDevice != 0) SDL_CloseAudioDevice(audioDevice);  // joins SDL's audio thread
  audioDevice = 0;
  if (audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  audioSubsystem = false;
  scaler.reset();
  resampler.reset();
  audioCodec.reset();
  videoCodec.reset();
  format.reset();
  videoStream = -1;
  audioStream = -1;
  rotation = 0;
  outWidth = outHeight = 0;
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
    setError(err, "UNSUPPORTED_FORMAT");
    return false;
  }
  m.videoStream = av::firstStream(m.format.get(), AVMEDIA_TYPE_VIDEO);
  if (m.videoStream < 0) {
    m.release();
    setError(err, "NO_VIDEO_TRACK");
    return false;
  }
  const AVStream* vs = m.format->streams[m.videoStream];
  m.videoCodec = av::openDecoder(vs, FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!m.videoCodec || m.videoCodec->width < 1 || m.videoCodec->height < 1) {
    m.release();
    setError(err, "UNSUPPORTED_FORMAT");
    return false;
  }
  m.rotation = av::displayRotation(vs);
  const int codedW = m.videoCodec->width;
  const int codedH = m.videoCodec->height;
  m.outWidth = codedW;
  m.outHeight = codedH;
  const int longEdge = std::max(codedW, codedH);
  if (maxEdge >= 1 && maxEdge < longEdge) {
    const double f = static_cast<double>(maxEdge) / longEdge;
    m.outWidth = std::max(2, static_cast<int>(std::lround(codedW * f)));
    m.outHeight = std::max(2, static_cast<int>(std::lround(codedH * f)));
  }

  const int audioIndex = av::firstStream(m.format.get(), AVMEDIA_TYPE_AUDIO);
  if (audioIndex >= 0 && !m.openAudio(audioIndex)) {
    // Sound is optional: play the picture on the wall clock.
    if (m.audioDevice != 0) SDL_CloseAudioDevice(m.audioDevice);
    m.audioDevice = 0;
    if (m.audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m.audioSubsystem = false;
    m.resampler.reset();
    m.audioCodec.reset();
    m.audioStream = -1;
  }

  durationMs = m.format->duration > 0 ? static_cast<double>(m.format->duration) / 1000.0 : 0;
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
