// free_with: the deleter for std::unique_ptr over an object of a C library,
// naming the library's own release function, so each library's scope guards
// are one line each (ui/sdl_guard.h, ui/cairo_guard.h, media/heif.cpp).
#pragma once

namespace platform {

template <auto Release>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Release(object);
  }
};

}  // namespace platform
