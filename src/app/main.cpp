// SPDX-License-Identifier: MIT
// Zorvek: pings one host from the notification area on a schedule.
#include <sys/auxv.h>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/program.h"
#include "app/single_instance.h"
#include "app/window_pictures.h"
#include "companion/program_folder.h"
#include "settings/settings_location.h"
#include "text/cp932.h"
#include "ui/display_check.h"
#include "ui/message_box.h"
#include "ui/user_texts.h"

namespace {

// Says why the program cannot run, on standard error and, where there is a
// display, in a box, and gives the status the process ends with.
int refuseToStart(int& argc, char** argv, const zorvek::ui::DisplayChoice& display,
                  const std::string& text) {
    std::fputs(zorvek::ui::standardErrorLine(text).c_str(), stderr);
    std::fflush(stderr);
    if (display.usable()) {
        QApplication app(argc, argv);
        zorvek::ui::ModalBoxPresenter(nullptr).show(QString::fromStdString(text),
                                                    QString::fromUtf8(zorvek::ui::kAppTitle));
    }
    return EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    // Started with more power than the user has (file capabilities, setuid or
    // setgid), Qt would still load plugins and read settings from places the
    // user chooses through the environment, and run them with that power. The
    // program needs none (the probe library falls back to the system's ping),
    // so it refuses before anything of Qt exists.
    if (::getauxval(AT_SECURE) != 0) {
        std::fputs(zorvek::ui::kElevatedRefusal, stderr);
        return EXIT_FAILURE;
    }
    // Without a display Qt would abort the process; the program says why
    // instead. Where only one of X11 and Wayland can be used, Qt is told
    // which, so it does not give up on the other.
    const zorvek::ui::DisplayChoice display = zorvek::ui::chooseDisplay();
    if (!display.platform.empty()) qputenv("QT_QPA_PLATFORM", display.platform.c_str());

    // Every text that crosses the program's boundaries (the settings file, the
    // companion library, the tray tip) goes through code page 932; without the
    // converter nothing could be loaded or saved correctly.
    if (const std::optional<zorvek::cp932::ConverterFailure> problem =
            zorvek::cp932::converterProblem()) {
        return refuseToStart(argc, argv, display, zorvek::ui::converterMissingMessage(*problem));
    }
    // The folder is found from the executable itself, as the file system's
    // bytes, so that Zorvek.ini and the library are found whatever the
    // folder's name, and the working directory is never used.
    const std::optional<std::string> folder = zorvek::companion::programFolder();
    if (!folder) {
        return refuseToStart(argc, argv, display, zorvek::ui::programFolderUnknownMessage());
    }

    if (!display.usable()) {
        return refuseToStart(argc, argv, display, zorvek::ui::noDisplayMessage(display));
    }

    // On X11 an appended log line is not kept waiting on the X server.
    zorvek::app::sendWindowPicturesOnTheConnection();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvek"));
    QApplication::setDesktopFileName(QStringLiteral("zorvek"));
    // The program lives in the notification area: a hidden window is no reason to end.
    QApplication::setQuitOnLastWindowClosed(false);

    zorvek::app::Program::Options options;
    options.programDir = std::filesystem::path(*folder);
    // Beside the program, or the user's own file where the program's folder
    // is closed to the user (an installation for the whole machine).
    options.settings = zorvek::settings::settingsLocation(options.programDir,
                                                          zorvek::settings::userSettingsFolder());
    // One prober per settings file and user: a second start that would save
    // to the same file shows the first one's window instead.
    zorvek::app::SingleInstance instance(options.settings.saveTo);
    const zorvek::app::SingleInstance::Claim claim = instance.claim();
    if (claim == zorvek::app::SingleInstance::Claim::HandedOver) return 0;
    if (claim == zorvek::app::SingleInstance::Claim::NoAnswer) return 1;
    zorvek::app::Program program(std::move(options));
    QObject::connect(&instance, &zorvek::app::SingleInstance::showRequested, &program,
                     [&program](const QString& activationToken) {
                         // Qt's Wayland plugin hands this token to the
                         // compositor when the window asks to be activated,
                         // so the compositor may raise it for the start that
                         // the user just made; it is the other start's, and
                         // is not kept for later.
                         if (!activationToken.isEmpty())
                             qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
                         program.showWindow();
                         qunsetenv("XDG_ACTIVATION_TOKEN");
                     });
    // The icon first; the rest of start-up (among it the first probe) runs as
    // soon as the event loop does, after the icon's request has gone out.
    program.showTrayIcon();
    QMetaObject::invokeMethod(&program, &zorvek::app::Program::finishStartUp, Qt::QueuedConnection);
    return app.exec();
}
