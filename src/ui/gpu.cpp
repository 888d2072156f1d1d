// Placeholder for the texture cache module (see gpu.h).
#include "ui/gpu.h"

namespace ui {

void gpuInit(SDL_Renderer*) {}
void gpuShutdown() {}
void gpuBeginFrame() {}
void gpuSetScale(double) {}

}  // namespace ui
