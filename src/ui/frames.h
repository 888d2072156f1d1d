// frames: asking the main loop for frames.
//
// The main loop (app/main.cpp) draws only when something changed: it draws
// after every input event and otherwise sleeps in SDL_WaitEventTimeout. Code
// that changes the picture without input — a worker whose result arrived, a
// playing video, a running job, kinetic scrolling, a tooltip waiting for its
// delay — asks for a frame here. Presenting is capped at about 60 frames per
// second whatever is asked.
//
// Typical use:
//   ui::requestFrame();            // results are ready: draw as soon as possible
//   ui::requestFrameWithin(0.2);   // something will be due in 0.2 s
// Code that animates asks again in every frame it draws while the animation
// lasts. Threads of the lower layers (media, platform) cannot call this
// directly; their owner in the interface layer hands them a callback that
// calls ui::requestFrame().
//
// The request functions are thread-safe and lock-free; a request from another
// thread wakes the loop at once. The loop-side functions are for the main
// loop only.
#pragma once

namespace ui {

// --- Requests (any thread) ---------------------------------------------------
// Draw a frame as soon as possible (at the latest one frame interval away).
void requestFrame();
// Draw a frame no later than seconds from now (≤ 0 means now).
void requestFrameWithin(double seconds);

// --- Main loop side ----------------------------------------------------------
// Installs the function that wakes a loop sleeping in its event wait (the
// main loop pushes an SDL user event). Called at most once per frame
// interval, from whichever thread asks first. Null removes it.
void setFrameWaker(void (*wake)());
// Seconds until the earliest requested frame: ≤ 0 when one is due, a large
// value (1e9) when none is requested.
double secondsUntilRequestedFrame();
// The loop received the waker's event: later requests wake it again.
void frameWakeReceived();
// Forgets the requests answered by the frame that starts now (those due by
// now); requests made while it is drawn stay for the next frame.
void beginRequestedFrame();

}  // namespace ui
