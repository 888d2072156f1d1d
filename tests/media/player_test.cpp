// Playback: the decode thread, the frame queue, the sound and the clock. SDL's "dummy" audio driver plays
// at about real speed; the "disk" one writes to a file at the pace SDL_DISKAUDIODELAY sets.
// test-labels: threads
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "media/errors.h"
#include "media/player.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::Image;
using media::Player;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using media_clips::frameIndex;

namespace {

using Clock = std::chrono::steady_clock;

// Polls until the condition holds; generous, for a loaded machine and TSan.
bool eventually(const std::function<bool()>& condition) {
  return testing_support::waitUntil(condition, 60, 0.002) || condition();
}

// SDL's disk driver writing to file at one buffer per delay ms (nullptr: real time).
struct DiskDevice {
  explicit DiskDevice(const char* file = "/dev/null", const char* delay = nullptr)
      : driver("SDL_AUDIODRIVER", "disk"), out("SDL_DISKAUDIOFILE", file), pace("SDL_DISKAUDIODELAY", delay) {}
  ScopedEnv driver, out, pace;
};

class PlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // 3 s at 25 fps, frame N shows N; one with a tone, one without sound.
    sound_ = media_clips::indexClip("sound.mp4", 3, "aac");
    mute_ = media_clips::indexClip("mute.mp4", 3, "");
    short_ = media_clips::indexClip("short.mp4", 1, "aac");
    // A raw H.264 stream has neither a duration nor timestamps.
    raw_ = media_clips::clip("raw.h264", "-i '" + short_ + "' -an -c:v copy -bsf:v h264_mp4toannexb -f h264");
    soundOnly_ = media_clips::soundOnly();
    for (const std::string* p : {&sound_, &mute_, &short_, &raw_, &soundOnly_}) ASSERT_FALSE(p->empty());
  }

  // Waits for the next frame the player hands out; its index, -2 on timeout.
  static int nextFrame(Player& p, double* pts = nullptr) {
    Image img;
    if (!eventually([&] { return p.takeFrame(&img, pts); })) return -2;
    return frameIndex(img);
  }

  // Tests run with the dummy driver unless they pick another.
  ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
  static inline std::string sound_, mute_, short_, raw_, soundOnly_;
  TempDir dir_;
};

}  // namespace

TEST_F(PlayerTest, OpensPausedAtTheFirstFrame) {
  for (const std::string* clip : {&sound_, &mute_}) {
    SCOPED_TRACE(*clip);
    Player p;
    std::string err = "stale";
    ASSERT_TRUE(p.open(*clip, 160, &err)) << err;
    EXPECT_TRUE(p.isOpen);
    EXPECT_FALSE(p.isPlaying);
    EXPECT_EQ(p.hasAudio.load(), clip == &sound_);
    EXPECT_NEAR(p.durationMs, 3000, 60);
    EXPECT_EQ(p.positionMs(), 0.0);

    Image img;
    double pts = -1;
    ASSERT_TRUE(eventually([&] { return p.takeFrame(&img, &pts); }));
    EXPECT_EQ(img.width, 160);
    EXPECT_EQ(img.height, 120);
    EXPECT_EQ(frameIndex(img), 0);
    EXPECT_EQ(pts, 0.0);
    // Paused and shown: no further frames until something changes.
    EXPECT_TRUE(eventually([&] { return p.queuedFrames() >= 6; }));
    EXPECT_FALSE(p.takeFrame(&img, &pts));
    EXPECT_FALSE(p.takeFrame(nullptr, &pts));
  }
}

TEST_F(PlayerTest, FramesDecodedAfterASizeRequestHaveThatSize) {
  Player p;
  ASSERT_TRUE(p.open(mute_, 160, nullptr));
  Image img;
  ASSERT_TRUE(eventually([&] { return p.takeFrame(&img); }));
  EXPECT_EQ(img.width, 160);
  // The seek drops what was queued at the old size.
  for (const auto& [edge, w, h] : {std::tuple{100, 100, 75}, std::tuple{0, 320, 240}}) {
    p.setMaxEdge(edge);
    p.seek(1000);
    ASSERT_TRUE(eventually([&] { return p.takeFrame(&img); })) << edge;
    EXPECT_EQ(img.width, w);
    EXPECT_EQ(img.height, h);
    EXPECT_EQ(frameIndex(img), 25);
  }
}

TEST_F(PlayerTest, ShrunkFramesKeepTheColoursOfTheFullSizeOnes) {
  // Untagged 720p is HD (BT.709) video; its shrunk frames must not be taken for SD by their own size.
  const std::string path = media_clips::clip(
      "colour_hd.mp4", "-f lavfi -i \"color=c=0x30A0C0:s=1280x720:d=0.2\" -vf \"scale=out_color_matrix=bt709,"
                       "format=yuv420p\" -c:v libx264 -qp 0");
  ASSERT_FALSE(path.empty());
  // 100 wide is off the multiple of 8 that the vectorised conversion fills.
  for (int edge : {0, 64, 100}) {
    Player p;
    ASSERT_TRUE(p.open(path, edge, nullptr));
    Image img;
    ASSERT_TRUE(eventually([&] { return p.takeFrame(&img); })) << edge;
    for (int x : {img.width / 2, img.width - 1}) {
      const uint8_t* px = img.row(img.height / 2) + x * 4;
      EXPECT_NEAR(px[0], 0x30, 4) << edge << " " << x;
      EXPECT_NEAR(px[1], 0xA0, 5) << edge << " " << x;
      EXPECT_NEAR(px[2], 0xC0, 4) << edge << " " << x;
    }
  }
}

TEST_F(PlayerTest, OpenFailuresLeaveItClosed) {
  Player p;
  std::string err;
  EXPECT_FALSE(p.open(dir_.file("missing.mp4"), 0, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(p.open(soundOnly_, 0, &err));
  EXPECT_EQ(err, media::err::kNoVideoTrack);
  EXPECT_FALSE(p.isOpen);
  EXPECT_FALSE(p.hasAudio);
  // Everything is harmless on a closed player.
  p.play();
  EXPECT_FALSE(p.isPlaying);
  p.seek(500);
  p.pause();
  EXPECT_EQ(p.positionMs(), 0.0);
  Image img;
  EXPECT_FALSE(p.takeFrame(&img));
  p.close();
  // And it opens fine afterwards.
  ASSERT_TRUE(p.open(mute_, 0, &err));
  EXPECT_EQ(nextFrame(p), 0);
}

TEST_F(PlayerTest, WithoutASoundDeviceTheVideoPlaysSilently) {
  ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
  Player p;
  std::string err;
  ASSERT_TRUE(p.open(sound_, 0, &err)) << err;
  EXPECT_FALSE(p.hasAudio);
  EXPECT_EQ(nextFrame(p), 0);
  p.seek(2000);
  EXPECT_EQ(nextFrame(p), 50);
}

TEST_F(PlayerTest, PausedSeekDeliversTheFrameAtOrAfterTheTarget) {
  for (const std::string* clip : {&sound_, &mute_}) {
    SCOPED_TRACE(*clip);
    Player p;
    ASSERT_TRUE(p.open(*clip, 0, nullptr));
    ASSERT_EQ(nextFrame(p), 0);

    double pts = -1;
    p.seek(1000);
    EXPECT_EQ(p.positionMs(), 1000.0) << "the position jumps at once";
    EXPECT_EQ(nextFrame(p, &pts), 25);
    EXPECT_NEAR(pts, 1000, 1);
    p.seek(1010);  // between frames 25 and 26
    EXPECT_EQ(nextFrame(p, &pts), 26);
    p.seek(400);  // backwards, across a key frame
    EXPECT_EQ(nextFrame(p), 10);
    // Seeks in a row: only the last one counts.
    p.seek(2000);
    p.seek(200);
    p.seek(2400);
    EXPECT_EQ(nextFrame(p), 60);
    Image img;
    EXPECT_FALSE(p.takeFrame(&img)) << "one frame per seek while paused";

    p.seek(-100);
    EXPECT_EQ(p.positionMs(), 0.0);
    EXPECT_EQ(nextFrame(p), 0);
    p.seek(1e9);
    EXPECT_EQ(p.positionMs(), p.durationMs);
    EXPECT_EQ(nextFrame(p), 74);
  }
}

// Without sound the wall clock drives playback, with sound the device.
TEST_F(PlayerTest, PlaysInOrderOnEitherClockAndPausesAtTheEnd) {
  for (const std::string* clip : {&mute_, &short_}) {
    SCOPED_TRACE(*clip);
    Player p;
    ASSERT_TRUE(p.open(*clip, 0, nullptr));
    EXPECT_EQ(p.hasAudio.load(), clip == &short_);
    ASSERT_EQ(nextFrame(p), 0);
    ASSERT_TRUE(eventually([&] { return p.queuedFrames() >= 6; }));
    p.play();
    EXPECT_TRUE(p.isPlaying);
    int last = 0, frames = 0;
    Image img;
    ASSERT_TRUE(eventually([&] {
      if (p.takeFrame(&img)) {
        const int n = frameIndex(img);
        EXPECT_GE(n, last) << "frames come in order";
        last = n;
        ++frames;
      }
      return !p.isPlaying;
    }));
    EXPECT_GT(frames, 0);
    EXPECT_GE(p.positionMs(), p.durationMs) << "paused at the end";
    if (clip == &short_) continue;

    // Play at the end starts over: the first frame due is among the first queued.
    p.play();
    EXPECT_TRUE(p.isPlaying);
    const int first = nextFrame(p);
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 6);
    p.pause();
    EXPECT_FALSE(p.isPlaying);
    const double at = p.positionMs();
    EXPECT_EQ(p.positionMs(), at) << "the clock stands while paused";
  }
}

TEST_F(PlayerTest, UnknownDurationSeeksToZeroAndEndsWhenDecodingEnds) {
  Player p;
  ASSERT_TRUE(p.open(raw_, 0, nullptr));
  EXPECT_EQ(p.durationMs, 0.0);
  p.seek(500);
  EXPECT_EQ(p.positionMs(), 0.0);
  // Its frames carry no times, so any early one may be the one shown.
  EXPECT_GE(nextFrame(p), 0);
  p.play();
  Image img;
  ASSERT_TRUE(eventually([&] {
    p.takeFrame(&img);
    return !p.isPlaying;
  }));
}

// A device that consumes as fast as it can: only its clock can run far ahead of the wall clock. A stalled
// one (a 21 ms buffer every two seconds) leaves playback to the wall clock, or 1.5 s would take minutes.
TEST_F(PlayerTest, AudioDeviceDrivesTheClockUnlessItStalls) {
  for (const std::string pace : {"0", "2000"}) {
    SCOPED_TRACE(pace);
    DiskDevice device("/dev/null", pace.c_str());
    Player p;
    ASSERT_TRUE(p.open(sound_, 0, nullptr));
    ASSERT_TRUE(p.hasAudio);
    const auto start = Clock::now();
    p.play();
    if (pace == "0") {
      EXPECT_TRUE(eventually([&] {
        return p.positionMs() > std::chrono::duration<double, std::milli>(Clock::now() - start).count() + 1000;
      }));
      continue;
    }
    EXPECT_TRUE(eventually([&] { return p.positionMs() >= 1500; }));
    Image img;
    EXPECT_TRUE(eventually([&] { return p.takeFrame(&img); })) << "frames keep coming";
  }
}

TEST_F(PlayerTest, VolumeIsClampedAndZeroIsSilence) {
  Player p;
  for (auto [set, got] : {std::pair{1.5, 1.0}, {-1.0, 0.0}, {0.25, 0.25}, {std::nan(""), 1.0}}) {
    p.setVolume(set);
    EXPECT_EQ(p.volume.load(), got) << set;
  }

  // What the device played, read back from the disk driver's file.
  auto played = [&](double volume) {
    const std::string raw = dir_.file("played_" + std::to_string(volume) + ".raw");
    {
      DiskDevice device(raw.c_str());
      Player q;
      q.setVolume(volume);
      EXPECT_TRUE(q.open(sound_, 0, nullptr));
      EXPECT_TRUE(q.hasAudio);
      q.play();
      EXPECT_TRUE(eventually([&] { return q.positionMs() >= 800; }));
      q.close();
    }
    return testing_support::readFile(raw);
  };
  const std::string silent = played(0.0);
  ASSERT_GT(silent.size(), 100000u);
  EXPECT_EQ(silent.find_first_not_of('\0'), std::string::npos);
  const std::string loud = played(1.0);
  ASSERT_GT(loud.size(), 100000u);
  EXPECT_NE(loud.find_first_not_of('\0'), std::string::npos);
}

TEST_F(PlayerTest, SoundKeepsFlowingWhilePicturesWait) {
  // The phone clip stores its sound a second ahead of its pictures. Nobody takes pictures, so the queue
  // stays full: the sound must still arrive whole and in time, read past the waiting video.
  const std::string raw = dir_.file("phone.raw");
  {
    DiskDevice device(raw.c_str());  // real-time pace
    Player p;
    ASSERT_TRUE(p.open(testing_support::fixture("phone_rot90.mov"), 320, nullptr));
    ASSERT_TRUE(p.hasAudio);
    // The opening picture, then a full queue: the player is ready to go.
    ASSERT_GE(nextFrame(p), -1);
    ASSERT_TRUE(eventually([&] { return p.queuedFrames() >= 6; }));
    p.play();
    ASSERT_TRUE(eventually([&] { return p.positionMs() >= p.durationMs; }));
  }
  // Recorded sound has no digital silence; a starved device plays whole buffers (1024 frames) of it.
  const std::string bytes = testing_support::readFile(raw);
  const size_t frames = bytes.size() / 4;
  auto silent = [&](size_t i) { return std::memcmp(bytes.data() + i * 4, "\0\0\0\0", 4) == 0; };
  size_t first = 0;
  while (first < frames && silent(first)) ++first;
  size_t last = frames;
  while (last > first && silent(last - 1)) --last;
  ASSERT_GT(last - first, 48000u * 3) << "at least three of the four seconds played";
  size_t run = 0, longest = 0;
  for (size_t i = first; i < last; ++i) {
    run = silent(i) ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_LT(longest, 1024u) << "a stretch of digital silence inside the sound";
}

TEST_F(PlayerTest, ClosesWhileTheQueueIsFull) {
  for (const std::string* clip : {&sound_, &mute_}) {
    SCOPED_TRACE(*clip);
    Player p;
    ASSERT_TRUE(p.open(*clip, 0, nullptr));
    // Nothing is taken: the decode thread fills the queue and waits.
    ASSERT_TRUE(eventually([&] { return p.queuedFrames() >= 6; }));
    p.close();
    EXPECT_FALSE(p.isOpen);
    EXPECT_FALSE(p.hasAudio);
    EXPECT_EQ(p.durationMs, 0.0);
    EXPECT_EQ(p.queuedFrames(), 0u);
  }
  // Playing, mid-seek, and by the destructor alone.
  Player a;
  ASSERT_TRUE(a.open(sound_, 0, nullptr));
  a.play();
  a.seek(1500);
  a.close();
  {
    Player b;
    ASSERT_TRUE(b.open(sound_, 0, nullptr));
    b.play();
  }
  // Reopening replaces the file.
  Player c;
  ASSERT_TRUE(c.open(sound_, 0, nullptr));
  ASSERT_TRUE(c.open(mute_, 0, nullptr));
  EXPECT_FALSE(c.hasAudio);
  EXPECT_EQ(nextFrame(c), 0);
}
