// The texture layer on SDL's software renderer (what a machine without a
// graphics driver gets): uploading a 1920 × 1080 picture through the cache,
// side by side with SDL's own create-and-update of the same pixels (the
// floor), for an opaque picture and one with transparency (which the
// software renderer's blending needs with straight alpha); and a cache hit
// with 900 textures held.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ui/gpu.h"

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

struct Target {
  Target() {
    surface = SDL_CreateRGBSurface(0, 64, 64, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
    renderer = SDL_CreateSoftwareRenderer(surface);
    ui::gpuInit(renderer);
  }
  ~Target() {
    ui::gpuShutdown();
    SDL_DestroyRenderer(renderer);
    SDL_FreeSurface(surface);
  }
  SDL_Surface* surface = nullptr;
  SDL_Renderer* renderer = nullptr;
};

std::vector<uint32_t> picture(bool translucent) {
  std::vector<uint32_t> px(static_cast<size_t>(kW) * kH);
  for (size_t i = 0; i < px.size(); ++i) {
    const uint32_t a = translucent ? 0x80 + (i % 0x7F) : 0xFF;
    const uint32_t c = (i * 7) % a;
    px[i] = a << 24 | c << 16 | (a - c) << 8 | c / 2;
  }
  return px;
}

void BM_CacheUpload(benchmark::State& state) {
  Target t;
  const std::vector<uint32_t> px = picture(state.range(0) != 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ui::gpuTextureRgba("frame", kW, kH, px.data(), false));
    ui::gpuDrop("frame");
  }
  state.SetLabel(ui::gpuPremultipliedBlend() ? "premultiplied blend" : "straight-alpha fallback");
}

void BM_SdlUpload(benchmark::State& state) {
  Target t;
  const std::vector<uint32_t> px = picture(state.range(0) != 0);
  for (auto _ : state) {
    SDL_Texture* tex = SDL_CreateTexture(t.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, kW, kH);
    SDL_UpdateTexture(tex, nullptr, px.data(), kW * 4);
    benchmark::DoNotOptimize(tex);
    SDL_DestroyTexture(tex);
  }
}

void BM_CacheHit(benchmark::State& state) {
  Target t;
  const uint32_t px = 0xFFFFFFFF;
  for (int i = 0; i < 900; ++i) ui::gpuTextureRgba("still/" + std::to_string(i), 1, 1, &px, false);
  const std::string key = "still/450";
  for (auto _ : state) benchmark::DoNotOptimize(ui::gpuTextureRgba(key, 1, 1, &px, false));
}

}  // namespace

// Argument: 0 opaque, 1 with transparency.
BENCHMARK(BM_CacheUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CacheHit)->Unit(benchmark::kNanosecond);
BENCHMARK_MAIN();
