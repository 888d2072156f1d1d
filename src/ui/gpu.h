// gpu: the texture layer drawn on the renderer below the interface.
//
// Placeholder for the texture cache module: the frame loop already calls
// these at the right moments, and they do nothing yet.
#pragma once

struct SDL_Renderer;

namespace ui {

// Adopts the renderer (after it is created).
void gpuInit(SDL_Renderer* renderer);
// Releases everything (before the renderer is destroyed).
void gpuShutdown();
// Once per frame, before the screens draw.
void gpuBeginFrame();
// Physical pixels per logical pixel.
void gpuSetScale(double s);

}  // namespace ui
