// widgets: the controls every screen is built from. Each is a free function
// that draws one control into the frame's cairo context and, in the same
// call, answers whether the user acted on it in this frame.
//
// Sizes are design sizes times the context's uiScale (s below); clicks are
// taken on release, by the first widget drawn that asks (ui::Ctx::takeClick).
// A widget given an identifier (may be null) registers its rectangle for the
// interface dump before drawing. State such as a dropdown's open flag or a
// list's scroll offset belongs to the caller and is passed by pointer; the
// widgets themselves keep only the tooltip, the kinetic scroll (in the
// context) and the application mark's image. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/frame.h"
#include "ui/icons.h"

namespace ui {

// --- Buttons ---------------------------------------------------------------------
// Filled button with a bold label. True when clicked; never while disabled.
bool primaryButton(Ctx& ctx, const Rect& r, const std::string& label, bool enabled, const char* id);
// Outlined button; selected fills it. True when clicked; never while disabled.
bool plainButton(Ctx& ctx, const Rect& r, const std::string& label, bool selected, bool enabled,
                 const char* id);
// A glyph on a square; active fills it. True when clicked; never while disabled.
bool iconButton(Ctx& ctx, const Rect& r, Icon icon, bool enabled, bool active, const char* id);
// Pill-shaped choice. True when clicked.
bool chip(Ctx& ctx, const Rect& r, const std::string& label, bool selected, const char* id);

// --- Value pickers -------------------------------------------------------------------
// Horizontal slider; returns the new value (value itself unless the pointer
// is pressed or held over it, then the value under the pointer). min when
// max ≤ min. Takes the frame's click while it tracks.
double slider(Ctx& ctx, const Rect& r, double value, double min, double max, const char* id);
// Box showing options[selected]; a click flips *open. While open, the list
// opens below the box, or above it when it would not fit, showing the items
// that fit into half the window; the items are registered as id + ".<index>".
// Returns the index clicked in this frame (closing the list), else −1. A
// release that no widget took before closes the list. Draw it after the
// widgets its list may cover, or they take the clicks meant for the list.
int dropdown(Ctx& ctx, const Rect& r, const std::vector<std::string>& options, int selected, bool* open,
             const char* id);

// --- Panels -------------------------------------------------------------------------
// Sheet panel with a title and a close button (registered as "sheet.close"
// when id is given). True when the close button was clicked.
bool sheetBox(Ctx& ctx, const Rect& r, const std::string& title, const char* id);

// --- Tooltip ------------------------------------------------------------------------
// Arms text as the tooltip of r while the mouse is over r; another text
// restarts the delay. Nothing for an empty text.
void tooltip(Ctx& ctx, const Rect& r, const std::string& text);
// Draws the armed tooltip once the mouse has rested 0.5 s on its area
// (requesting the frame that shows it); call after everything else.
void drawTooltip(Ctx& ctx);
// Seconds the mouse must rest before a tooltip shows.
inline constexpr double kTooltipDelay = 0.5;

// --- Scrolling -----------------------------------------------------------------------
// Wheel, drag and kinetic scrolling of *offset over view (content
// contentHeight high); keeps *offset in [0, contentHeight − view.h]. Call it
// before drawing the content: a drag of more than 4·s takes the frame's
// click, so the release of a drag never clicks a row. While the list coasts,
// frames are requested until it stops. Nothing for a null offset.
void applyScroll(Ctx& ctx, const Rect& view, double contentHeight, double* offset);
// Thin scroll indicator at view's right edge; nothing when the content fits.
void scrollbar(Ctx& ctx, const Rect& view, double contentHeight, double offset);

// --- Application mark -----------------------------------------------------------------
// The application's mark (assets/icon/icon_512.png), rounded, centred in r.
// Loaded on the first call; a missing file is logged once and then leaves
// the area empty.
void drawAppMark(Ctx& ctx, const Rect& r);

}  // namespace ui
