// overlay_parts: the pieces the full-window secondary screens (settings,
// language, about, licences) are built from — the shared frame with title
// and close button, a scrolling centred column, section heads, paragraphs,
// segment rows, choice rows and link lines. Every length is a design length
// times the context's uiScale. Main thread only; draws on the frame.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/frame.h"

namespace ui::overlay {

// Palette of the secondary screens.
inline constexpr uint32_t kBackground = 0x14181C;
inline constexpr uint32_t kHeader = 0x1C2229;
inline constexpr uint32_t kPanel = 0x232B33;
inline constexpr uint32_t kNeutral = 0x2F3944;
inline constexpr uint32_t kOutline = 0x39434E;
inline constexpr uint32_t kPrimary = 0x2C6392;
inline constexpr uint32_t kAccent = 0x5E9FD4;
inline constexpr uint32_t kText = 0xEDF1F4;
inline constexpr uint32_t kTextSecondary = 0x8E9AA5;

// --- Frame and scrolling ---------------------------------------------------------
// Fills the window (registered as "screen." + hitPrefix), draws the 56-high
// header with title and close button (registered as hitPrefix + ".close")
// and returns the area below it.
// *closed becomes true when the button was clicked or Escape pressed in this
// frame, false otherwise.
Rect overlayFrame(Ctx& ctx, const std::string& title, bool* closed, const char* hitPrefix);

// The scroll state one screen keeps between frames and openings.
struct Scroll {
  double offset = 0;    // logical pixels scrolled
  double contentH = 0;  // content height measured in the previous frame
};

// One frame of a scrolling column: the constructor applies the wheel and
// drag with the previous content height, clips drawing to the content area
// and starts y 24 below its top; finish() measures the content, lifts the
// clip and draws the scrollbar (the destructor calls it when not called).
class Column {
 public:
  Column(Ctx& ctx, const Rect& content, Scroll* scroll);
  ~Column();
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  const Rect& rect() const { return column_; }    // centred, min(720, w − 48) wide
  const Rect& viewport() const { return content_; }
  double y = 0;                                   // running position
  void finish();

 private:
  Ctx& ctx_;
  Rect content_;
  Rect column_;
  Scroll* scroll_;
  double top_ = 0;
  bool finished_ = false;
};

// --- Text blocks (each returns the y below what it drew) -------------------------
// Title in size 12 bold accent, spaced; a rule 18 below its top; then the hint
// (when not empty) in secondary colour, wrapped at the column width.
double sectionHead(Ctx& ctx, const Rect& column, double y, const std::string& title,
                   const std::string& hint);
// Wrapped text in secondary colour (size 14 unless given), then 6 of space.
double paragraph(Ctx& ctx, const Rect& column, const std::string& text, double y, double size = 14,
                 bool bold = false, uint32_t color = kTextSecondary);
// A group heading: size 20 bold, wrapped at the column width.
double groupHeading(Ctx& ctx, const Rect& column, double y, const std::string& text);
// The text in accent colour at the column's left edge, registered as id; a
// click logs logPrefix + uri as a user action and opens the uri with the
// desktop's handler. In a right-to-left language the line sits at the right
// edge unless it belongs to left-to-right content (ltrContent).
double linkLine(Ctx& ctx, const Rect& column, double y, const std::string& text, const std::string& uri,
                const char* id, const char* logPrefix = "Adresse geoeffnet: ", bool ltrContent = false);

// --- Rows ------------------------------------------------------------------------
// A 38-high bar of equal segments, segment i registered as hitPrefix + ".i";
// selected < 0 highlights none. Returns the clicked index or −1; moves *y by 44.
int segmentRow(Ctx& ctx, const Rect& column, double* y, const Rect& viewport,
               const std::vector<std::string>& labels, int selected, const char* hitPrefix);
// A row with a title, an optional second line and a check mark when
// selected; at least 44 high. True when clicked while it lies in the viewport.
bool choiceRow(Ctx& ctx, const Rect& column, double* y, const Rect& viewport, const std::string& title,
               const std::string& subtitle, bool selected, const char* hitId, bool last);
// An outlined button as wide as its label (plus 24 on each side, plus room
// for a chevron when given) at the column's left edge, 44 high; registered
// as id. True when clicked while the mouse lies in the viewport; moves *y
// below it.
bool framedButton(Ctx& ctx, const Rect& column, double* y, const Rect& viewport, const std::string& label,
                  const char* id, bool chevron);
// Whether the page is laid out right to left (the interface language is
// written so): single-line texts start at the right edge, marks move left.
bool mirrored();
// The chevron of rows that open a screen, pointing to the reading direction.
void drawChevron(cairo_t* cr, double cx, double cy, double size, uint32_t color);
// Fill of a hovered row or button.
void hoverFill(Ctx& ctx, const Rect& r);
// Whether any part of r lies in the viewport: rows scrolled out of it are
// neither registered for the dump nor clickable.
bool visible(const Rect& r, const Rect& viewport);
// Whether a click at the mouse position may act: the mouse lies in the
// viewport (rows scrolled under the header or off the window do not count).
bool inViewport(const Ctx& ctx, const Rect& viewport);

}  // namespace ui::overlay
