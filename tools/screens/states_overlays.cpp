// The screens over the editor: settings (at their defaults; nothing is
// saved), language choice, about and licences. They are mostly text, so they
// are also drawn in Hebrew, Hindi and Thai — right-to-left, joined scripts
// and scripts with marks above and below the line.
#include <string>
#include <vector>

#include "screen_states.h"
#include "screens/router.h"

namespace screens_tool {

void registerOverlayStates(Registry& r) {
  struct Overlay {
    const char* name;
    int screen;
  };
  const Overlay overlays[] = {
      {"settings", ui::App::Settings},
      {"language", ui::App::Language},
      {"about", ui::App::About},
      {"licences", ui::App::Licenses},
  };
  const std::vector<std::string> scripts = {"he", "hi", "th"};
  for (const Overlay& o : overlays) {
    r.add(
        o.name,
        [screen = o.screen](Shot& s) {
          ui::App::instance().screen = screen;
          s.frame();
          return true;
        },
        scripts);
  }
}

}  // namespace screens_tool
