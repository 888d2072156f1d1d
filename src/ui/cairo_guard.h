// cairo_guard: scope guards for cairo objects, so a surface, drawing context
// or pattern is released on every path.
#pragma once

#include <cairo.h>

#include <memory>

#include "platform/free_with.h"

namespace ui {

using SurfacePtr = std::unique_ptr<cairo_surface_t, platform::FreeWith<cairo_surface_destroy>>;
using CairoPtr = std::unique_ptr<cairo_t, platform::FreeWith<cairo_destroy>>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, platform::FreeWith<cairo_pattern_destroy>>;

}  // namespace ui
