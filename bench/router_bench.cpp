// CPU time of one interface frame with the modal dialog open over the busy
// overlay, drawn offscreen as the main loop draws it (clear, router), at two
// window sizes. The text layouts are warm after the first frame, as they are
// in a running program.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include "screens/router.h"
#include "ui/dialog.h"
#include "ui/draw.h"

namespace {

void BM_RouterFrameDialogOverBusy(benchmark::State& state) {
  static const bool fonts = ui::registerBundledFonts();
  (void)fonts;
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);

  ui::BusyState& busy = ui::busy();
  busy = ui::BusyState{};
  busy.active = true;
  busy.label = "Exporting video…";
  busy.detail = "clip 2 of 3";
  ui::showDialog("Close editor?", "Unsaved changes will be lost. The export keeps running in the background.",
                 {{"Cancel", 0}, {"Close", 2}});

  ui::Ctx ctx;
  ctx.w = w;
  ctx.h = h;
  ctx.uiScale = ui::interfaceScale(w, h);
  double progress = 0;
  for (auto _ : state) {
    // The job's numbers move every frame, as during an export.
    progress += 0.01;
    busy.progress = progress;
    busy.remaining = 600 - progress;
    ctx.in = ui::Input{};
    ctx.in.mx = w / 2.0;
    ctx.in.my = h / 2.0;
    ctx.clickTaken = false;
    cairo_t* cr = cairo_create(surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    ctx.cr = cr;
    ui::App::instance().update(ctx);
    ctx.cr = nullptr;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  busy = ui::BusyState{};
  cairo_surface_destroy(surface);
}

}  // namespace

BENCHMARK(BM_RouterFrameDialogOverBusy)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime();

BENCHMARK_MAIN();
