// Video export: wall time against the ffmpeg command line doing the same job
// (same encoder settings, same filter chain), the working-copy setting's
// speed and quality against the best-quality one, the quality lost over
// three working-copy edits, and the cross-fade blend.
//
//   build/bench_video_export --benchmark_counters_tabular=true
//
// The source is a real camera clip (shared fixtures) looped to 10 s and
// scaled to 1080p at 30 fps, H.264/AAC; without the fixture a synthetic
// picture stands in. Measure when `uptime` shows little load: the machine
// is shared and both sides of a comparison run in the same iteration, in
// alternating order, so load hits them alike.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/video_export.h"
#include "media/video_export_internal.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string shell(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Workspace {
  std::string dir;
  std::string src;  // 10 s, 1920 × 1080, 30 fps, H.264 + AAC
  bool ok = false;

  Workspace() {
    char tmpl[] = "/tmp/korvelle-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir = tmpl;
    src = dir + "/src1080.mp4";
    const std::string real = std::string(KORVELLE_FIXTURES_DIR) + "/clip_aac.mp4";
    std::string input =
        std::filesystem::exists(real)
            ? "-stream_loop 3 -i '" + real + "'"
            : "-f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i sine=frequency=440";
    ok = std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y " + input +
                      " -t 10 -vf scale=1920:1080:flags=lanczos,fps=30 -c:v libx264 -preset fast "
                      "-crf 18 -pix_fmt yuv420p -c:a aac -b:a 128k '" +
                      src + "'")
                         .c_str()) == 0;
  }
  ~Workspace() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string file(const std::string& name) const { return dir + "/" + name; }
};

Workspace& workspace() {
  static Workspace w;
  return w;
}

// Average PSNR of a's pictures against a lossless reference file, paired
// frame by frame in order (an export's pictures start a few milliseconds in,
// and the psnr filter fed straight from an H.264 file pairs some frames
// wrongly).
double psnr(const std::string& a, const std::string& ref) {
  const std::string out = shell("ffmpeg -hide_banner -nostdin -i '" + a + "' -i '" + ref +
                                "' -filter_complex \"[0:v]setpts=N/30/TB[out];"
                                "[1:v]setpts=N/30/TB[ref];[out][ref]psnr\" -f null - 2>&1");
  const size_t at = out.find("average:");
  return at == std::string::npos ? 0 : std::atof(out.c_str() + at + 8);
}

// Renders the source's pictures through a filter chain into a lossless file.
bool makeReference(const std::string& src, const std::string& filter, const std::string& out) {
  return std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + src +
                      "' -filter_complex \"[0:v]" + filter + ",format=yuv420p[v]\" -map \"[v]\" "
                      "-c:v ffv1 '" + out + "'")
                         .c_str()) == 0;
}

// The reference for a 720p export of the whole source: scaled the way the
// export scales (bicubic, the filter default).
const std::string& reference720() {
  static const std::string path = [] {
    const std::string p = workspace().file("ref720.mkv");
    return makeReference(workspace().src, "scale=1280:720", p) ? p : std::string();
  }();
  return path;
}

// The export a user makes: whole clip, 1080p down to 720p, best VP9 setting.
media::ExportOptions userExport720() {
  media::ExportOptions o;
  o.width = 1280;
  o.height = 720;
  o.fitMode = media::FitMode::Contain;
  return o;
}

// The same job on the command line: the export's filter chain, encoder
// options, GOP, bit rate (1280 × 720 × 4) and sound settings.
std::string commandLine720(const std::string& src, const std::string& out) {
  return "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + src +
         "' -vf \"scale=1280:720:force_original_aspect_ratio=decrease,"
         "pad=1280:720:(ow-iw)/2:(oh-ih)/2:color=black,setsar=1,format=yuv420p\""
         " -c:v libvpx-vp9 -deadline good -cpu-used 2 -row-mt 1 -b:v 3686400 -g 60"
         " -c:a libopus -b:a 96k -ar 48000 -ac 2 '" +
         out + "'";
}

bool exportNow(const std::string& src, const std::string& out, const media::ExportOptions& o) {
  std::string err;
  const bool ok = media::exportVideo(src, out, o, nullptr, {}, &err);
  if (!ok) std::fprintf(stderr, "export failed: %s\n", err.c_str());
  return ok;
}

void BM_ExportVsCommandLine(benchmark::State& state) {
  Workspace& w = workspace();
  if (!w.ok) return state.SkipWithError("no source clip");
  double ours = 0;
  double cli = 0;
  int round = 0;
  for (auto _ : state) {
    const auto runOurs = [&] {
      const auto t0 = Clock::now();
      if (!exportNow(w.src, w.file("ours.webm"), userExport720())) state.SkipWithError("export");
      ours += seconds(t0);
    };
    const auto runCli = [&] {
      const auto t0 = Clock::now();
      if (std::system(commandLine720(w.src, w.file("cli.webm")).c_str()) != 0) {
        state.SkipWithError("ffmpeg");
      }
      cli += seconds(t0);
    };
    if (round++ % 2 == 0) {
      runOurs();
      runCli();
    } else {
      runCli();
      runOurs();
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours / n;
  state.counters["cli_s"] = cli / n;
  state.counters["ratio"] = ours / cli;
  state.counters["ours_psnr"] = psnr(w.file("ours.webm"), reference720());
  state.counters["cli_psnr"] = psnr(w.file("cli.webm"), reference720());
}
BENCHMARK(BM_ExportVsCommandLine)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

void BM_WorkingCopyVsBest(benchmark::State& state) {
  Workspace& w = workspace();
  if (!w.ok) return state.SkipWithError("no source clip");
  media::ExportOptions fast = userExport720();
  fast.intermediate = true;
  double best = 0;
  double quick = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!exportNow(w.src, w.file("quick.webm"), fast)) state.SkipWithError("export");
    quick += seconds(t0);
    t0 = Clock::now();
    if (!exportNow(w.src, w.file("best.webm"), userExport720())) state.SkipWithError("export");
    best += seconds(t0);
  }
  const double bestPsnr = psnr(w.file("best.webm"), reference720());
  const double quickPsnr = psnr(w.file("quick.webm"), reference720());
  state.counters["best_s"] = best / static_cast<double>(state.iterations());
  state.counters["quick_s"] = quick / static_cast<double>(state.iterations());
  state.counters["speedup"] = best / quick;
  state.counters["best_psnr"] = bestPsnr;
  state.counters["quick_psnr"] = quickPsnr;
  state.counters["psnr_loss"] = bestPsnr - quickPsnr;
}
BENCHMARK(BM_WorkingCopyVsBest)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Three working-copy edits (cut 4-5 s out, append the first 2 s of the
// source, resize to 720p) and then the user's export, against the same
// timeline exported directly; both compared with the source pieces scaled.
// Argument 0: working copies with VP9 (the fallback), 1: with libx264.
void BM_GenerationLoss(benchmark::State& state) {
  Workspace& w = workspace();
  if (!w.ok) return state.SkipWithError("no source clip");
  const bool x264 = state.range(0) == 1;
  const std::string encoder = x264 ? "libx264" : "libvpx-vp9";
  const std::string ext = x264 ? ".mp4" : ".webm";
  // The timeline's pictures, cut and joined losslessly by the command line.
  const std::string ref = w.file("timeline.mkv");
  if (!makeReference(w.src,
                     "split=3[p0][p1][p2];[p0]trim=0:4,setpts=PTS-STARTPTS[q0];"
                     "[p1]trim=5:10,setpts=PTS-STARTPTS[q1];[p2]trim=0:2,setpts=PTS-STARTPTS[q2];"
                     "[q0][q1][q2]concat=n=3:v=1:a=0,scale=1280:720",
                     ref)) {
    return state.SkipWithError("reference");
  }
  double edits = 0;
  for (auto _ : state) {
    media::ExportOptions cut;
    cut.intermediate = true;
    cut.encoder = encoder;
    cut.segments = {{"", 0, 4000}, {"", 5000, 10000}};
    media::ExportOptions append = cut;
    append.segments = {{"", 0, 9000}, {w.src, 0, 2000}};
    media::ExportOptions resize = cut;
    resize.segments.clear();
    resize.width = 1280;
    resize.height = 720;
    media::ExportOptions final720;  // the user's export of the result
    final720.encoder = "libvpx-vp9";
    const auto t0 = Clock::now();
    if (!exportNow(w.src, w.file("g1" + ext), cut) || !exportNow(w.file("g1" + ext), w.file("g2" + ext), append) ||
        !exportNow(w.file("g2" + ext), w.file("g3" + ext), resize)) {
      return state.SkipWithError("export");
    }
    edits += seconds(t0);
    if (!exportNow(w.file("g3" + ext), w.file("chain.webm"), final720)) return state.SkipWithError("export");
    media::ExportOptions direct = userExport720();
    direct.encoder = "libvpx-vp9";
    direct.segments = {{"", 0, 4000}, {"", 5000, 10000}, {"", 0, 2000}};
    if (!exportNow(w.src, w.file("direct.webm"), direct)) return state.SkipWithError("export");
  }
  const double direct = psnr(w.file("direct.webm"), ref);
  const double chain = psnr(w.file("chain.webm"), ref);
  state.counters["edits_s"] = edits / static_cast<double>(state.iterations());
  state.counters["direct_psnr"] = direct;
  state.counters["edited_psnr"] = chain;
  state.counters["loss_dB"] = direct - chain;
}
BENCHMARK(BM_GenerationLoss)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// One 1080p NV12 cross-fade blend.
void BM_BlendFrame1080(benchmark::State& state) {
  media::av::FramePtr head = media::av::makeFrame();
  media::av::FramePtr tail = media::av::makeFrame();
  for (AVFrame* f : {head.get(), tail.get()}) {
    f->format = AV_PIX_FMT_NV12;
    f->width = 1920;
    f->height = 1080;
    if (av_frame_get_buffer(f, 0) < 0) return state.SkipWithError("alloc");
    for (int p = 0; p < 2; ++p) {
      const int rows = p == 0 ? 1080 : 540;
      for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < f->linesize[p]; ++x)
          f->data[p][y * f->linesize[p] + x] = (x * 7 + y) & 255;
      }
    }
  }
  int w = 0;
  for (auto _ : state) {
    media::exporter::blendFrames(head.get(), tail.get(), w);
    w = (w + 37) % 257;
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 1920 * 1080 * 3 / 2);
}
BENCHMARK(BM_BlendFrame1080);

}  // namespace

BENCHMARK_MAIN();
