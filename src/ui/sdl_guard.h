// sdl_guard: scope guards for SDL objects, so a window, renderer or texture
// is released on every path. Each must be gone before SDL_Quit.
#pragma once

#include <SDL.h>

#include <memory>

#include "platform/free_with.h"

namespace ui {

using WindowPtr = std::unique_ptr<SDL_Window, platform::FreeWith<SDL_DestroyWindow>>;
using RendererPtr = std::unique_ptr<SDL_Renderer, platform::FreeWith<SDL_DestroyRenderer>>;
using TexturePtr = std::unique_ptr<SDL_Texture, platform::FreeWith<SDL_DestroyTexture>>;

}  // namespace ui
