// overlays: the secondary screens drawn over the base screen — settings,
// language, about and licences. Each closes itself by setting the router's
// screen (screens/router.h). Main thread only.
#pragma once

#include "ui/frame.h"

namespace ui {

void updateSettingsScreen(Ctx& ctx);
void updateLanguageScreen(Ctx& ctx);
void updateAboutScreen(Ctx& ctx);
void updateLicensesScreen(Ctx& ctx);

}  // namespace ui
