// The start screen, and the messages the open and append flows end in: an
// unsupported file, a file without access, skipped files, the question before
// a drop closes an edited work, and the question about a clip of another
// format. Each message is reached through the flow itself, so its texts are
// made in the language being drawn.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "editor/document.h"
#include "editor/editor.h"
#include "screen_states.h"
#include "screens/flows.h"
#include "ui/dialog.h"

namespace screens_tool {

namespace {

// A file of the given name with a few bytes that are no picture, in the
// tool's private cache folder.
std::string strayFile(const std::string& name) {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const std::filesystem::path dir = std::filesystem::path(cache ? cache : "/tmp") / "stray";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = (dir / name).string();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fputs("not a picture\n", f);
    std::fclose(f);
  }
  return path;
}

// One frame, then whether the dialog stands.
bool dialogShown(Shot& s) {
  s.frame();
  return ui::dialogOpen();
}

}  // namespace

void registerStartStates(Registry& r) {
  r.add("start", [](Shot& s) {
    s.frame();
    return doc::Document::instance().kind == media::MediaKind::Unknown;
  });

  r.addTranslated("error-unsupported", [](Shot& s) {
    ui::openDroppedFiles({strayFile("Notizen.xyz")});
    return dialogShown(s);
  });

  r.addTranslated("error-unsupported-raw", [](Shot& s) {
    ui::openDroppedFiles({strayFile("IMG_0042.CR3")});
    return dialogShown(s);
  });

  r.addTranslated("error-no-access", [](Shot& s) {
    ui::openDroppedFiles({"/nonexistent/Urlaub am Meer 2024.jpg"});
    return dialogShown(s);
  });

  r.addTranslated("error-skipped", [](Shot& s) {
    // Two files left out before the clip that opens.
    ui::openDroppedFiles({strayFile("Notizen.xyz"), "/nonexistent/a.mp4", s.media().clip});
    return settleVideo(s) && ui::dialogOpen();
  });

  r.addTranslated("question-close", [](Shot& s) {
    // An edited photo, then a picture dropped on it.
    doc::Document& d = doc::Document::instance();
    if (!d.openImage(s.media().photo)) return false;
    media::Image copy = d.image;
    if (!d.commitImage(std::move(copy), "Drehen")) return false;
    ui::Input in;
    in.dropped = {s.media().photo};
    s.frame(in);
    return dialogShown(s);
  });

  r.addTranslated("question-append-format", [](Shot& s) {
    if (!openVideo(s.media().clip)) return false;
    if (!ui::appendVideoFiles({s.media().tall}, 0)) return false;
    return settleVideo(s) && ui::dialogOpen();
  });
}

}  // namespace screens_tool
