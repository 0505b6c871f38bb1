// SPDX-License-Identifier: MIT
#include "app/window_pictures.h"

#include <QByteArray>
#include <QtGlobal>

namespace zorvek::app {

void sendWindowPicturesOnTheConnection() {
    // Qt reads the variable once, when it connects to the X server; any
    // value turns shared memory off.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", QByteArrayLiteral("1"));
}

}  // namespace zorvek::app
