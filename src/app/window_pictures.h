// SPDX-License-Identifier: MIT
// How the pictures of the program's windows reach an X server.
//
// By default Qt's X11 platform hands the server each window's picture in
// memory it shares with the server (MIT-SHM). Before painting into a part of
// that memory it has handed over since it last heard from the server, it waits
// for the server to answer a request (a round trip), so that the server never
// reads a half-painted picture. Once the log is longer than the list shows,
// every appended line scrolls the list and paints the newest line into the
// same strip at its bottom that the line before it was handed over in, so
// every line waited for one round trip: most of what an append to a long log
// cost beyond an append to a short one. Sent on the connection instead, the
// few kilobytes of a line need no wait; the program's windows are small, so
// even a whole window costs little that way.
#pragma once

namespace zorvek::app {

// Tells Qt's X11 platform to send window pictures on the connection rather
// than through shared memory. Takes effect only before the QApplication is
// created; a choice already in the environment (QT_XCB_NO_MITSHM) stays.
void sendWindowPicturesOnTheConnection();

}  // namespace zorvek::app
