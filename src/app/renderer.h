// renderer: which SDL renderer draws the window.
#pragma once

#include <string>

struct SDL_Renderer;
struct SDL_Window;

namespace ui {

// Creates the window's renderer: accelerated with vsync, else accelerated,
// else SDL's software renderer; null when none works (SDL_GetError says why).
// An OpenGL driver that rasterises in software (no graphics card) is passed
// over for SDL's software renderer, which composes a frame in about a third
// of the CPU time; SDL_RENDER_DRIVER in the environment overrules this.
// Call on the thread that draws.
SDL_Renderer* createRenderer(SDL_Window* window);

// Whether an OpenGL renderer string names a software rasteriser.
bool isSoftwareRasteriser(const std::string& glRenderer);

// The OpenGL renderer string of the current context; empty without one.
std::string currentGlRenderer();

}  // namespace ui
