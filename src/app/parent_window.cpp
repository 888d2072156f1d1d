#include "app/parent_window.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/log.h"

namespace ui {

void publishParentWindow(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
  char value[64];
  std::snprintf(value, sizeof value, "x11:%lx", static_cast<unsigned long>(info.info.x11.window));
  setenv("KORVELLE_PARENT_WINDOW", value, 0);
  const char* now = std::getenv("KORVELLE_PARENT_WINDOW");
  diag::write("ui", std::string("Elternfenster fuer Dialoge: ") + (now ? now : value));
}

}  // namespace ui
