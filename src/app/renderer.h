// renderer: which SDL renderer draws the window.
#pragma once

#include <string>

struct SDL_Renderer;
struct SDL_Surface;
struct SDL_Window;

namespace ui {

// Creates the window's renderer: accelerated with vsync, else accelerated,
// else SDL's software renderer; null when none works (SDL_GetError says why).
// An OpenGL driver that rasterises in software (no graphics card) is passed
// over for SDL's software renderer, which composes a frame in about a third
// of the CPU time; SDL_RENDER_DRIVER in the environment overrules this.
// Call on the thread that draws.
SDL_Renderer* createRenderer(SDL_Window* window);

// The surface a window's renderer draws into when it is SDL's software
// renderer (the window's own surface, which the interface may then be drawn
// into directly); null for any other renderer or when SDL has none.
SDL_Surface* softwareTarget(SDL_Window* window, SDL_Renderer* renderer);

// Whether an OpenGL renderer string names a software rasteriser.
bool isSoftwareRasteriser(const std::string& glRenderer);

// The OpenGL renderer string of the current context; empty without one.
std::string currentGlRenderer();

}  // namespace ui
