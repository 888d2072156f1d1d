#include "app/shutdown.h"

#include <SDL.h>

#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "editor/filmstrip.h"
#include "editor/stillcache.h"
#include "platform/filedialog_portal.h"
#include "platform/log.h"
#include "screens/export.h"
#include "ui/gpu.h"

namespace ui {

void shutDown(const std::function<void()>& releaseWindow) {
  diag::write("ui", "Programmende: Hintergrundarbeit wird beendet");
  stopExportJob();
  platform::stopFileDialog();
  resetFilmstrip();
  resetStills();
  EditorState& editor = editorState();
  editor.player.close();
  editor.preroll.close();
  editor.playerReady = false;
  editor.prerollReady = false;

  settings::save();
  doc::Document::cleanWorkDir();
  diag::shutdown();

  gpuShutdown();
  if (releaseWindow) releaseWindow();
  SDL_Quit();
}

}  // namespace ui
