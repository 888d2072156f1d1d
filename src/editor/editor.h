// editor: the editor's state and the flows that bring files into it.
//
// Placeholder for the editor module: the router already hands it each
// frame's dropped files, which it does not act on yet.
#pragma once

namespace ui {

struct Ctx;

// Acts on the files dropped in this frame (ctx.in.dropped).
void handleDroppedFiles(Ctx& ctx);

}  // namespace ui
