// SPDX-License-Identifier: MIT
// Zorvek: pings one host from the notification area on a schedule.
#include <QApplication>
#include <filesystem>

#include "app/program.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvek"));
    QApplication::setDesktopFileName(QStringLiteral("zorvek"));
    // The program lives in the notification area: a hidden window is no reason to end.
    QApplication::setQuitOnLastWindowClosed(false);

    zorvek::Program::Options options;
    options.programDir =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
    zorvek::Program program(std::move(options));
    program.startUp();
    return app.exec();
}
