#include "screens/router.h"

#include <utility>

#include "editor/document.h"
#include "screens/editor_screen.h"
#include "screens/flows.h"
#include "screens/overlays.h"
#include "screens/start.h"
#include "ui/dialog.h"

namespace ui {

namespace {

// Where a withheld input puts the mouse: far outside every widget.
constexpr double kNowhere = -1000000000.0;

void drawBaseScreen(Ctx& ctx, bool documentOpen) {
  if (documentOpen) {
    updateEditorScreen(ctx);
  } else {
    updateStartScreen(ctx);
  }
}

void drawSecondaryScreen(Ctx& ctx, int screen) {
  switch (screen) {
    case App::Language: updateLanguageScreen(ctx); break;
    case App::Settings: updateSettingsScreen(ctx); break;
    case App::About: updateAboutScreen(ctx); break;
    case App::Licenses: updateLicensesScreen(ctx); break;
    default: break;
  }
}

}  // namespace

App& App::instance() {
  static App app;
  return app;
}

bool App::baseScreenGetsInput() const { return !busy().active && screen == Main; }

void drawWithInputWithheld(Ctx& ctx, const std::function<void(Ctx&)>& draw) {
  Input kept = std::move(ctx.in);
  ctx.in = Input{};
  ctx.in.mx = kNowhere;
  ctx.in.my = kNowhere;
  draw(ctx);
  ctx.in = std::move(kept);
  ctx.clickTaken = false;
}

void App::update(Ctx& ctx) {
  handleDroppedFiles(ctx);
  bool documentOpen = doc::Document::instance().kind != media::MediaKind::Unknown;

  if (baseScreenGetsInput()) {
    drawBaseScreen(ctx, documentOpen);
  } else {
    drawWithInputWithheld(ctx, [documentOpen](Ctx& c) { drawBaseScreen(c, documentOpen); });
  }

  // Read again: the base screen may have opened a secondary screen just now.
  drawSecondaryScreen(ctx, screen);
  updateBusy(ctx);
  updateDialog(ctx);
}

}  // namespace ui
