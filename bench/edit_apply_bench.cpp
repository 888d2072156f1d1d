// Image edits on a 24-megapixel photo (6000 × 4000 JPEG, generated once per
// run) as the user meets them: the sheets are drawn frame by frame into an
// offscreen surface, apply is clicked, and the frames go on (one every
// 16 ms) until the document holds the new version.
//
// For each edit it prints the time from the click to the new version
// ("visible": the frame after it draws the new picture) and the longest
// single frame on the UI thread meanwhile. "ui-thread" rows replay the same
// edit the way it ran before the version writer existed: operation and PNG
// file at the encoder's default level, both on the UI thread. Also: the
// file's open to the first picture, the version file's write time at the
// default and at the working level, and the adjust preview per slider step.
// Undo rows: click to the previous picture in the document and the longest
// frame meanwhile, for the version next to the current one (held in memory)
// and for one further back (its file read on the worker); the "ui-thread"
// row reads the file on the UI thread as undo did before. The adjust's parts
// on the worker are timed alone too, its pass also in CPU time (on a shared
// machine the wall clock counts other programs' turns as well).
//
//   build-bench/bench_edit_apply [runs]     (default 3; medians printed)
#include <cairo.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/image.h"
#include "media/image_io.h"
#include "screens/image_edit.h"
#include "screens/sheets.h"
#include "ui/dialog.h"
#include "ui/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// CPU time of the whole process so far, all threads.
double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

media::Image syntheticPhoto(int w, int h) {
  media::Image img = media::Image::create(w, h, false);
  uint32_t noise = 1;
  for (int y = 0; y < h; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      noise = noise * 1664525u + 1013904223u;
      const int n = int(noise >> 27) - 16;
      const double fx = double(x) / w, fy = double(y) / h;
      const double light = 0.5 + 0.4 * std::sin(fx * 9.0 + fy * 4.0) * std::cos(fy * 7.0);
      p[0] = uint8_t(std::clamp(int(255 * light * (0.6 + 0.4 * fx)) + n, 0, 255));
      p[1] = uint8_t(std::clamp(int(255 * light * 0.8) + n, 0, 255));
      p[2] = uint8_t(std::clamp(int(255 * (1.0 - light) * (0.5 + 0.5 * fy)) + n, 0, 255));
      p[3] = 255;
    }
  }
  return img;
}

// The offscreen frame: a 1280 × 720 window at scale 1 with the interface dump on.
struct Frames {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1280, 720);
  ui::Ctx ctx;
  std::string dump = "/tmp/korvelle-bench-edit-" + std::to_string(::getpid()) + ".dump";
  double longest = 0;

  Frames() {
    ctx.cr = cairo_create(surface);
    ctx.w = 1280;
    ctx.h = 720;
    ui::setUiDumpPath(dump);
  }
  ~Frames() {
    ui::setUiDumpPath("");
    std::remove(dump.c_str());
    cairo_destroy(ctx.cr);
    cairo_surface_destroy(surface);
  }
  // One frame of the open sheet; returns its duration in ms.
  double frame(ui::Input in = {}) {
    const auto t = Clock::now();
    ctx.in = std::move(in);
    ctx.clickTaken = false;
    cairo_save(ctx.cr);
    cairo_set_operator(ctx.cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(ctx.cr);
    cairo_restore(ctx.cr);
    ui::updateSheets(ctx, ctx.h);
    ui::writeUiDump();
    const double ms = msSince(t);
    longest = std::max(longest, ms);
    return ms;
  }
  // Centre of widget id in the last dump.
  bool centre(const std::string& id, double* x, double* y) {
    std::ifstream in(dump);
    std::string name;
    double rx, ry, rw, rh;
    while (in >> name >> rx >> ry >> rw >> rh) {
      if (name == id) {
        *x = rx + rw / 2;
        *y = ry + rh / 2;
        return true;
      }
    }
    return false;
  }
  ui::Input click(const std::string& id) {
    ui::Input in;
    if (!centre(id, &in.mx, &in.my)) std::fprintf(stderr, "no widget %s\n", id.c_str());
    in.pressed = in.released = true;
    return in;
  }
};

// One apply through the sheet: frames every 16 ms until a new version.
struct ApplyResult {
  double visibleMs = 0;
  double longestFrameMs = 0;
};

ApplyResult applyThroughSheet(ui::Sheet sheet, const std::function<void()>& prepare, const char* button) {
  doc::Document& d = doc::Document::instance();
  ui::EditorState& st = ui::editorState();
  st.sheet = sheet;
  prepare();
  Frames f;
  f.frame();
  const size_t before = d.versions.size();
  const int32_t beforeCurrent = d.current;
  f.longest = 0;
  const auto t = Clock::now();
  f.frame(f.click(button));
  while (d.current == beforeCurrent && msSince(t) < 20000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
    f.frame();
  }
  ApplyResult r{msSince(t), f.longest};
  if (d.versions.size() == before && d.current == beforeCurrent) std::fprintf(stderr, "no new version\n");
  return r;
}

// The same edit as it ran before: operation and default-level PNG on the UI thread.
ApplyResult applyOnUiThread(const std::function<media::Image(const media::Image&)>& op) {
  doc::Document& d = doc::Document::instance();
  const auto t = Clock::now();
  media::Image out = op(d.image);
  media::OutOptions o;
  o.format = media::OutFormat::Png;
  const std::string path = "/tmp/korvelle-bench-edit-old.png";
  media::saveImage(path, out, o, {}, nullptr);
  std::remove(path.c_str());
  const double ms = msSince(t);
  return {ms, ms};
}

// One undo or redo through the editor's history, frames every 16 ms (each
// pumping the job as the editor screen does) until the document moved.
ApplyResult historyStep(bool back) {
  doc::Document& d = doc::Document::instance();
  const int32_t target = d.current + (back ? -1 : 1);
  Frames f;
  f.frame();
  double longest = 0;
  const auto t = Clock::now();
  ui::startHistoryStep(back);
  longest = msSince(t) + f.frame();
  while (d.current != target && msSince(t) < 20000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
    const auto p = Clock::now();
    ui::pumpImageEdit();
    const double pumped = msSince(p);
    longest = std::max(longest, pumped + f.frame());
  }
  ApplyResult r{msSince(t), longest};
  if (d.current != target) std::fprintf(stderr, "no history step\n");
  return r;
}

void backToSource() {
  doc::Document& d = doc::Document::instance();
  doc::Document::waitForVersionFiles();
  while (d.current > 0) d.undo();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string dir = "/tmp/korvelle-bench-edit-" + std::to_string(::getpid());
  setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
  i18n::setLanguage("en");
  const std::string photo = dir + ".jpg";
  {
    media::OutOptions o;
    o.format = media::OutFormat::Jpeg;
    o.quality = 90;
    if (!media::saveImage(photo, syntheticPhoto(6000, 4000), o, {}, nullptr)) return 1;
  }
  std::map<std::string, std::vector<double>> figures;
  auto note = [&](const std::string& name, double ms) { figures[name].push_back(ms); };

  doc::Document& d = doc::Document::instance();
  ui::EditorState& st = ui::editorState();
  for (int run = 0; run < runs; ++run) {
    auto t = Clock::now();
    media::ImageInfo info;
    media::probeImage(photo, &info, nullptr);
    note("open: probeImage alone", msSince(t));
    t = Clock::now();
    media::Image loaded;
    media::loadImage(photo, &loaded, &info, nullptr);
    note("open: loadImage alone", msSince(t));
    loaded = media::Image{};
    t = Clock::now();
    if (!d.openImage(photo)) return 1;
    note("open: Document::openImage", msSince(t));

    // Version file alone.
    {
      media::OutOptions o;
      o.format = media::OutFormat::Png;
      t = Clock::now();
      media::saveImage(dir + "-v.png", d.image, o, {}, nullptr);
      note("version file: PNG default level, durable", msSince(t));
      t = Clock::now();
      media::saveWorkingPng(dir + "-w.png", d.image, nullptr);
      note("version file: working PNG (not flushed)", msSince(t));
      for (int level : {0, 1, 3}) {
        o.pngLevel = level;
        t = Clock::now();
        media::saveImage(dir + "-l.png", d.image, o, {}, nullptr);
        note("version file: PNG level " + std::to_string(level) + ", durable", msSince(t));
        std::ifstream size(dir + "-l.png", std::ios::binary | std::ios::ate);
        note("version file: PNG level " + std::to_string(level) + " size (MB, not ms)", double(size.tellg()) / 1e6);
        t = Clock::now();
        media::Image back;
        media::loadImage(dir + "-l.png", &back, nullptr, nullptr);
        note("version file: PNG level " + std::to_string(level) + " read back (undo)", msSince(t));
        std::remove((dir + "-l.png").c_str());
      }
      std::remove((dir + "-v.png").c_str());
      std::remove((dir + "-w.png").c_str());
    }

    // The adjust proxy: plain resampling (before) and blocks first (now).
    t = Clock::now();
    media::Image proxy = media::resizeLongEdge(d.image, 900);
    note("adjust proxy: resizeLongEdge 900 (before)", msSince(t));
    t = Clock::now();
    proxy = media::previewLongEdge(d.image, 900);
    note("adjust proxy: previewLongEdge 900", msSince(t));
    t = Clock::now();
    media::applyAdjust(proxy, {20, 10, 10, 5, 20, 20});
    note("adjust proxy: applyAdjust on the 900 px copy", msSince(t));

    // What the adjust's worker does, step by step on the full picture.
    t = Clock::now();
    const double cpu = cpuMs();
    media::Image full = media::adjusted(d.image, {20, 10, 10, 5, 20, 20});
    note("adjust parts: adjusted() on the full picture", msSince(t));
    note("adjust parts: adjusted() CPU time, all threads", cpuMs() - cpu);
    t = Clock::now();
    media::Image fileCopy = media::copyOf(full);
    note("adjust parts: the version file's copy (copyOf)", msSince(t));
    full = media::Image{};
    fileCopy = media::Image{};

    struct Edit {
      const char* name;
      ui::Sheet sheet;
      std::function<void()> prepare;
      const char* button;
      std::function<media::Image(const media::Image&)> op;
    };
    const Edit edits[] = {
        {"rotate 12.5°", ui::Sheet::Rotate, [&] { st.rotateAngle = 12.5; }, "sheet.apply",
         [](const media::Image& i) { return media::rotate(i, 12.5); }},
        {"flip", ui::Sheet::Rotate, [&] { st.rotateAngle = 0; }, "sheet.flipH",
         [](const media::Image& i) { return media::transform(i, media::TransformOp::FlipH); }},
        {"crop", ui::Sheet::Crop, [&] { st.cropRect = {500, 400, 4000, 3000}; }, "sheet.apply",
         [](const media::Image& i) { return media::cropTo(i, 500, 400, 4000, 3000); }},
        {"adjust", ui::Sheet::Adjust, [&] { st.adjustAmounts = {20, 10, 10, 5, 20, 20}; }, "sheet.apply",
         [](const media::Image& i) {
           media::Image c = i;
           media::applyAdjust(c, {20, 10, 10, 5, 20, 20});
           return c;
         }},
        {"resize 1080", ui::Sheet::Resize, [&] { st.longEdge = 1080; }, "sheet.apply",
         [](const media::Image& i) { return media::resizeLongEdge(i, 1080); }},
        {"format-fit (portrait, blur)", ui::Sheet::Format,
         [&] {
           st.platformIndex = 0;
           st.presetIndex = 1;
           settings::mutableData().imageFitMode = settings::kFitContain;
           settings::mutableData().imagePadMode = settings::kPadBlur;
         },
         "sheet.apply",
         [](const media::Image& i) {
           return media::resizeTo(i, 1080, 1350, media::FitMode::Contain, media::PadMode::Blur);
         }},
    };
    for (const Edit& e : edits) {
      backToSource();
      const ApplyResult before = applyOnUiThread(e.op);
      note(std::string(e.name) + ": ui-thread  visible", before.visibleMs);
      note(std::string(e.name) + ": ui-thread  longest frame", before.longestFrameMs);
      const ApplyResult after = applyThroughSheet(e.sheet, e.prepare, e.button);
      note(std::string(e.name) + ": worker     visible", after.visibleMs);
      note(std::string(e.name) + ": worker     longest frame", after.longestFrameMs);
      st.sheet = ui::Sheet::None;
    }
    t = Clock::now();
    doc::Document::waitForVersionFiles();
    note("version files: wait for the last one after the edits", msSince(t));

    // Undo: three flips applied, then back one version (held in memory) and
    // one more (its PNG read on the worker), forward again (held); the old
    // way reads the PNG on the UI thread.
    backToSource();
    ui::syncUndo();
    for (int i = 0; i < 3; ++i) {
      applyThroughSheet(ui::Sheet::Rotate, [&] { st.rotateAngle = 0; }, "sheet.flipH");
      ui::syncUndo();
    }
    st.sheet = ui::Sheet::None;
    doc::Document::waitForVersionFiles();
    for (const auto& [name, back] : {std::pair{"undo: next version (in memory)", true},
                                     {"undo: one further (PNG read on the worker)", true},
                                     {"redo: next version (in memory)", false}}) {
      const ApplyResult r = historyStep(back);
      note(std::string(name) + "  visible", r.visibleMs);
      note(std::string(name) + "  longest frame", r.longestFrameMs);
    }
    d.dropHeld();
    t = Clock::now();
    d.undo();
    note("undo: ui-thread PNG read (before)  visible", msSince(t));
    ui::syncUndo();

    // Adjust preview: the first slider step builds the proxy, later ones reuse it.
    backToSource();
    st.sheet = ui::Sheet::Adjust;
    st.adjustAmounts = media::Adjust{};
    st.preview = media::Image{};
    st.previewDirty = true;  // as the tool bar opens the sheet
    {
      Frames f;
      note("adjust preview: sheet opens (proxy built)", f.frame());
      double x = 0, y = 0;
      f.centre("slider.brightness", &x, &y);
      ui::Input in;
      in.mx = x + 3;  // off the knob's value, so the press itself changes it
      in.my = y;
      in.pressed = true;
      in.held = true;
      note("adjust preview: first step", f.frame(in));
      for (int i = 1; i <= 10; ++i) {
        ui::Input drag;
        drag.mx = x + 3 + i * 3;
        drag.my = y;
        drag.held = true;
        note("adjust preview: later steps", f.frame(drag));
      }
      ui::Input up;
      up.mx = x + 30;
      up.my = y;
      up.released = true;
      f.frame(up);
    }
    st.sheet = ui::Sheet::None;
    st.preview = media::Image{};
    d.close();
  }
  std::printf("%-58s %10s %10s\n", "24 MP (6000 x 4000)", "median ms", "max ms");
  for (const auto& [name, v] : figures) {
    std::printf("%-58s %10.1f %10.1f\n", name.c_str(), median(v), *std::max_element(v.begin(), v.end()));
  }
  doc::Document::cleanWorkDir();
  std::remove(photo.c_str());
  return 0;
}
