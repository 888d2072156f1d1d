// screen_states: the named states korvelle_screens renders. Each area of the
// program adds one function (states_<area>.cpp) that registers its states;
// a state puts the program into shape — opens a document, sets the editor
// state, runs frames until pictures have arrived — and the tool then renders
// one frame at every size and language into a PNG.
//
//   void registerEditorStates(Registry& r) {
//     r.add("editor-image", [](Shot& s) { return s.openImage(s.media().photo); });
//   }
//
// A state that wants more scripts than the usual languages names them:
//   r.add("about", prepare, {"he", "th"});
// A state whose texts are made when it is reached (a dialog, the busy
// overlay) is reached anew in each language:
//   r.addTranslated("error-no-access", prepare);
//
// A developer tool; the program never runs it. Main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/frame.h"

namespace screens_tool {

// The media the states open: given on the command line or made with ffmpeg.
struct Media {
  std::string photo;  // a camera picture
  std::string clip;   // a 1080p clip with sound
  std::string clip2;  // a second clip, for assembled works
  std::string tall;   // a short portrait clip, for a differing format
};

// What a state's preparation can do.
class Shot {
 public:
  virtual ~Shot() = default;
  virtual const Media& media() const = 0;
  // Runs one frame of the whole interface with the given input.
  virtual void frame(ui::Input in = {}) = 0;
  // Runs frames (waiting a little between them) until cond holds or
  // seconds pass; true when it held.
  virtual bool framesUntil(const std::function<bool()>& cond, double seconds = 60) = 0;
  // The window size of this shot, logical pixels.
  virtual double width() const = 0;
  virtual double height() const = 0;
};

// One state: prepare returns false when the state could not be reached
// (the picture is written anyway, and the tool reports it). moreLanguages are
// rendered after the tool's own languages.
struct State {
  std::string name;
  std::function<bool(Shot&)> prepare;
  std::vector<std::string> moreLanguages;
  bool eachLanguage = false;  // prepared again after each language change
};

class Registry {
 public:
  void add(std::string name, std::function<bool(Shot&)> prepare, std::vector<std::string> moreLanguages = {}) {
    states_.push_back({std::move(name), std::move(prepare), std::move(moreLanguages)});
  }
  void addTranslated(std::string name, std::function<bool(Shot&)> prepare) {
    states_.push_back({std::move(name), std::move(prepare), {}, true});
  }
  const std::vector<State>& states() const { return states_; }

 private:
  std::vector<State> states_;
};

// --- Shared steps (states_editor.cpp) ------------------------------------------------
// Opens a video as the one clip of the work; false when it does not open.
bool openVideo(const std::string& path);
// Frames until the player shows a picture and the filmstrip is complete.
bool settleVideo(Shot& s);

// --- The areas (one module each) ---------------------------------------------------
void registerEditorStates(Registry& r);    // states_editor.cpp
void registerOverlayStates(Registry& r);   // states_overlays.cpp
void registerStartStates(Registry& r);     // states_start.cpp
void registerSheetStates(Registry& r);     // states_sheets.cpp

}  // namespace screens_tool
