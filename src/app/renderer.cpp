#include "app/renderer.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"

namespace ui {

namespace {

constexpr unsigned kGlRenderer = 0x1F01;  // GL_RENDERER, without pulling in GL headers

bool isOpenGl(SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  return SDL_GetRendererInfo(renderer, &info) == 0 && info.name && std::strncmp(info.name, "opengl", 6) == 0;
}

}  // namespace

bool isSoftwareRasteriser(const std::string& glRenderer) {
  std::string name = glRenderer;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* word : {"llvmpipe", "softpipe", "software rasterizer", "swr"}) {
    if (name.find(word) != std::string::npos) return true;
  }
  return false;
}

std::string currentGlRenderer() {
  if (!SDL_GL_GetCurrentContext()) return {};
  using GetString = const unsigned char* (*)(unsigned);
  auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  const unsigned char* text = getString ? getString(kGlRenderer) : nullptr;
  return text ? reinterpret_cast<const char*>(text) : std::string();
}

SDL_Renderer* createRenderer(SDL_Window* window) {
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  const Uint32 attempts[] = {SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC, SDL_RENDERER_ACCELERATED,
                             SDL_RENDERER_SOFTWARE};
  SDL_Renderer* renderer = nullptr;
  for (Uint32 flags : attempts) {
    if ((renderer = SDL_CreateRenderer(window, -1, flags))) break;
  }
  const char* forced = std::getenv("SDL_RENDER_DRIVER");
  if (!renderer || (forced && *forced) || !isOpenGl(renderer)) return renderer;
  const std::string gl = currentGlRenderer();
  if (!isSoftwareRasteriser(gl)) return renderer;
  // Both compose in software here; SDL's own blitters skip the shader
  // machinery and leave the second core to the decoders.
  SDL_DestroyRenderer(renderer);
  // Otherwise SDL backs the window's surface with an OpenGL texture on X11,
  // and the software rasteriser would compose every frame once more.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Renderer* software = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE)) {
    diag::write("video", "OpenGL ohne Grafikkarte (" + gl + "), Renderer: software");
    return software;
  }
  return SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
}

SDL_Surface* softwareTarget(SDL_Window* window, SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  if (!window || !renderer || SDL_GetRendererInfo(renderer, &info) != 0) return nullptr;
  // SDL's software renderer draws into the window's surface and fetches it
  // anew after a resize, as this does: both always name the same pixels.
  if (!(info.flags & SDL_RENDERER_SOFTWARE)) return nullptr;
  return SDL_GetWindowSurface(window);
}

}  // namespace ui
