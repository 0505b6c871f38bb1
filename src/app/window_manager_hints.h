// SPDX-License-Identifier: MIT
// The window is a fixed dialog: a title bar with the close command only, no
// minimise and no maximise. Qt states that in the Motif hints of the window,
// which most window managers follow; Openbox keeps the minimise command on
// every window whatever those hints say, except on toolbar and menu windows.
// Under Openbox the window therefore also calls itself a toolbar window, ahead
// of the utility type Qt gives it; everywhere else its types stay Qt's.
// The window manager is looked up each time the window is about to be shown,
// since it may start after the program or be replaced. X11 only; elsewhere
// (Wayland, the offscreen platform) this does nothing.
#pragma once

class QWidget;

namespace zorvek::app {

// Call while the window is hidden, right before it is shown: window managers
// read a window's type when it is mapped.
void prepareFixedWindow(QWidget& window);

}  // namespace zorvek::app
