// Translation lookups: screens call tr for every label in every frame, so one
// call must stay far below a microsecond; switching the language rebuilds the
// lookup once.
#include <benchmark/benchmark.h>

#include "core/i18n.h"

namespace {

void BM_TrLabel(benchmark::State& state) {
  i18n::setLanguage("de");
  for (auto _ : state) benchmark::DoNotOptimize(i18n::tr("settings.formatWebpHint"));
}
BENCHMARK(BM_TrLabel);

void BM_TrUnknownKey(benchmark::State& state) {
  i18n::setLanguage("de");
  for (auto _ : state) benchmark::DoNotOptimize(i18n::tr("formats.not_a_preset"));
}
BENCHMARK(BM_TrUnknownKey);

void BM_TrWithPlaceholders(benchmark::State& state) {
  i18n::setLanguage("de");
  for (auto _ : state) {
    benchmark::DoNotOptimize(i18n::tr("resize.title", {{"width", "3840"}, {"height", "2160"}}));
  }
}
BENCHMARK(BM_TrWithPlaceholders);

// A frame of the settings screen translates about forty labels.
void BM_FortyLabels(benchmark::State& state) {
  static const char* const kKeys[] = {
      "settings.title", "settings.language", "settings.languageSystem", "app.image", "settings.quality",
      "settings.qualityHint", "settings.outputFormat", "settings.outputFormatHint", "settings.formatAuto",
      "settings.formatAutoHint", "settings.formatJpeg", "settings.formatJpegHint", "settings.formatPng",
      "settings.formatPngHint", "settings.formatWebp", "settings.formatWebpHint", "settings.fitTitle",
      "settings.fitCover", "settings.fitCoverHint", "settings.fitContain", "settings.fitContainHint",
      "settings.fitStretch", "settings.fitStretchHint", "settings.padTitle", "settings.padHint",
      "format.pad_black", "format.pad_white", "format.pad_blur", "settings.padBlurHint", "app.video",
      "settings.resolution", "settings.resolutionHint", "settings.resolutionOriginal",
      "settings.resolutionOriginalHint", "settings.bitrate", "settings.bitrateHint", "settings.bitrateAuto",
      "settings.bitrateAutoHint", "settings.fadeDuration", "settings.reset"};
  i18n::setLanguage("de");
  for (auto _ : state) {
    for (const char* key : kKeys) benchmark::DoNotOptimize(i18n::tr(key));
  }
}
BENCHMARK(BM_FortyLabels);

void BM_SetLanguage(benchmark::State& state) {
  for (auto _ : state) {
    i18n::setLanguage("de");
    i18n::setLanguage("en");
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_SetLanguage);

}  // namespace

BENCHMARK_MAIN();
