// router: which screen is up. Once per frame App::update hands dropped files
// to the editor, draws the base screen (the editor when a document is open,
// else the start screen), then the secondary screen if one is selected
// (settings, language, about, licences), then the busy overlay and the
// dialog. While the busy overlay or a secondary screen is up the base screen
// is drawn with its input withheld. Main thread only.
#pragma once

#include <functional>

#include "ui/frame.h"

namespace ui {

// --- Router ------------------------------------------------------------------

// Runs draw with the context's input withheld — an empty input whose mouse
// lies far outside every widget — then puts the input back and clears
// clickTaken. The router draws the base screen this way under the busy
// overlay or a secondary screen.
void drawWithInputWithheld(Ctx& ctx, const std::function<void(Ctx&)>& draw);

class App {
 public:
  // Values of screen: which secondary screen is drawn over the base screen.
  enum Screen : int { Main = 0, Settings = 1, Language = 2, About = 3, Licenses = 4 };

  int screen = Main;

  // The single router.
  static App& instance();
  // Whether the base screen receives the frame's input: not while the busy
  // overlay is up or a secondary screen is open.
  bool baseScreenGetsInput() const;
  // Draws one frame of the whole interface: drops, base screen (input
  // withheld while busy or under a secondary screen), secondary screen, busy
  // overlay, dialog.
  void update(Ctx& ctx);
};

}  // namespace ui
