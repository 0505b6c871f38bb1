// SPDX-License-Identifier: MIT
#include "app/program.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/centring.h"
#include "app/log_timestamp.h"
#include "app/resident_pages.h"
#include "app/window_manager_hints.h"
#include "settings/file_io.h"
#include "settings/settings_store.h"
#include "tray/tray_shell_qt.h"
#include "ui/user_texts.h"

namespace zorvek::app {
namespace {

// How long the window stays hidden (after start-up, or after the user hid
// it) before the program lets go of the pages it no longer uses: long enough
// for the tray host's embedding and the first probes to have run.
constexpr std::chrono::milliseconds kIdleAfter{2000};

std::unique_ptr<tray::Shell> makeQtShell(tray::Shell* given, const ui::SetPing& window,
                                         QObject* parent) {
    if (given != nullptr) return nullptr;
    auto shell = std::make_unique<tray::QtTrayShell>(parent);
    shell->registerPicture(kNormalPictureHandle, window.normalPicture());
    shell->registerPicture(kActivePictureHandle, window.activePicture());
    return shell;
}

}  // namespace

Program::Program(Options options)
    : options_(std::move(options)),
      window_(nullptr, ui::SetPing::Fields::Later),
      ownShell_(makeQtShell(options_.shell, window_, this)),
      ownBoxes_(options_.boxes ? nullptr : std::make_unique<ui::ModalBoxPresenter>(&window_)),
      shell_(options_.shell ? *options_.shell : *ownShell_),
      boxes_(options_.boxes ? *options_.boxes : *ownBoxes_),
      trayIcon_(trayRecord_, shell_, window_.IconState),
      library_(
          options_.programDir.string(),
          [](const std::string& copy, const companion::LoadFailure& failure) {
              std::fputs(ui::loadFailureLine(copy, failure).c_str(), stderr);
              std::fflush(stderr);
          },
          options_.libraryName),
      reporter_(
          record_, messages_, [this](const std::string& host) { return library_.ping(host); },
          *this),
      scheduler_(
          record_,
          schedule::SchedulerHooks{
              [this] { return options_.clock ? options_.clock() : schedule::DateValue::now(); },
              [this] {
                  if (options_.monotonicClock) return options_.monotonicClock();
                  return std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch());
              },
              [this] { return unit(); },
              [this](int state) {
                  trayIcon_.setTrayIconState(state, kNormalPictureHandle, kActivePictureHandle);
              },
              [this] { reporter_.probeAndReport(); },
              [this] { return reporter_.busy(); },
          }),
      fields_(window_, boxes_) {
    if (options_.settings.saveTo.empty()) {
        const std::filesystem::path beside = settings::settingsPathIn(options_.programDir);
        options_.settings = {beside, beside};
    }
    if (!options_.endProcess) {
        // Quit ends the program where it stands, also from inside a probe's
        // event processing or an open box: nothing of the interrupted work may
        // run on, so the process ends here instead of returning to the loop.
        options_.endProcess = [](int status) {
            std::fflush(nullptr);
            std::_Exit(status);
        };
    }
    qtShell_ = dynamic_cast<tray::QtTrayShell*>(ownShell_.get());
    if (qtShell_ != nullptr) {
        connect(qtShell_, &tray::QtTrayShell::action, this, &Program::trayAction);
        qtShell_->offerMenu(window_.mnuTRAY);
    }
    connect(window_.Timer1, &QTimer::timeout, this, [this] { scheduler_.tick(); });
    // While start-up waits for a tray host, it looks for one ten times a second.
    trayHostTimer_.setInterval(std::min(options_.trayHostWait, std::chrono::milliseconds(100)));
    connect(&trayHostTimer_, &QTimer::timeout, this, &Program::checkForTrayHost);
    idleTimer_.setSingleShot(true);
    idleTimer_.setInterval(kIdleAfter);
    connect(&idleTimer_, &QTimer::timeout, this, [this] {
        if (!window_.isVisible()) releaseUnchangedFilePages();
    });
    connect(window_.CmdClose, &QPushButton::clicked, this, &Program::hideWindow);
    connect(window_.CmdSave, &QPushButton::clicked, this, &Program::save);
    connect(window_.PingCmd, &QPushButton::clicked, this, &Program::probeNow);
    connect(window_.CmdCls, &QPushButton::clicked, this, &Program::clearLog);
    connect(window_.CmdEnd, &QPushButton::clicked, this, &Program::quit);
    connect(window_.mnuOPEN, &QAction::triggered, this, &Program::openSettings);
    connect(window_.mnuCLOSE, &QAction::triggered, this, &Program::quit);
    connect(&window_, &ui::SetPing::unloadRequested, this, &Program::quit);
}

Program::~Program() = default;

void Program::startUp() {
    showTrayIcon();
    finishStartUp();
}

void Program::showTrayIcon() {
    messages_.fill();
    centreWindow();
    trayIcon_.add(static_cast<uint32_t>(window_.winId()), ui::kCaption, kNormalPictureHandle);
    hideWindow();
}

void Program::finishStartUp() {
    if (startUpFinished_) return;
    startUpFinished_ = true;
    window_.finishFields();
    settings::removeInterruptedSaves(options_.settings.saveTo);
    settings::SettingsControls current = controls();
    settings::loadSettings(options_.settings.loadFrom, current, record_);
    setControls(current);
    scheduler_.restart();
    scheduler_.tick();
    // Without a tray host (a desktop without a notification area, or one
    // whose panel starts a moment later) the icon cannot be clicked. The icon
    // stays registered and goes in once a host appears; until one does the
    // window is the only way to reach the program, so it is shown.
    if (!ended_ && !trayHostPresent()) {
        trayHostWaited_.start();
        trayHostTimer_.start();
    }
}

bool Program::trayHostPresent() const {
    if (options_.trayHostPresent) return options_.trayHostPresent();
    return qtShell_ != nullptr ? qtShell_->hostPresent() : QSystemTrayIcon::isSystemTrayAvailable();
}

void Program::checkForTrayHost() {
    if (trayHostPresent()) {
        trayHostTimer_.stop();
    } else if (trayHostWaited_.elapsed() >= options_.trayHostWait.count()) {
        trayHostTimer_.stop();
        showWindow();
    }
}

void Program::centreWindow() {
    // The native window is made first, so that the outer size includes the
    // frame wherever the platform knows it before the window is shown.
    (void)window_.winId();
    const QScreen* screen = window_.screen() ? window_.screen() : QGuiApplication::primaryScreen();
    const QRect whole = screen ? screen->geometry() : QRect(0, 0, 0, 0);
    const QRect frame = window_.frameGeometry();
    constexpr float twips = ui::kTwipsPerPixel;
    const TwipsPoint at = centreOnScreen(
        static_cast<float>(whole.width()) * twips, static_cast<float>(whole.height()) * twips,
        static_cast<float>(frame.width()) * twips, static_cast<float>(frame.height()) * twips);
    leftTwips_ = at.left;
    topTwips_ = at.top;
    // Twips become pixels only here, at the very end.
    window_.move(whole.left() + qRound(at.left / twips), whole.top() + qRound(at.top / twips));
}

void Program::hideWindow() {
    // Some window managers (GNOME's mutter) hand a withdrawn window back
    // higher up by its title bar's height; it is put back where it stood, or
    // it would creep up the screen each time it is shown.
    if (window_.isVisible()) hiddenAt_ = window_.geometry();
    window_.hide();
    idleTimer_.start();
}

void Program::openSettings() {
    finishStartUp();
    // The fields and check boxes show the record, what was last saved; the
    // unit is not part of it and stays as it is.
    settings::SettingsControls saved = controls();
    saved.text = {record_.HostName, std::to_string(record_.Interval), record_.WindowStart,
                  record_.WindowEnd};
    saved.check1 = record_.LogToList;
    saved.check2 = record_.ShowErrorBox;
    setControls(saved);
    showWindow();
}

void Program::showWindow() {
    finishStartUp();
    if (window_.isMinimized()) {
        // A minimised window is visible to Qt, so show() alone would leave it
        // minimised.
        window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    } else if (window_.isVisible() && window_.windowHandle() != nullptr &&
               (!window_.windowHandle()->isExposed() || waylandWindowElsewhere())) {
        // A window the window manager has taken off the screen without
        // minimising it ("show desktop", another virtual desktop) is visible
        // to Qt too, which then neither maps nor activates it again. It is
        // withdrawn and shown anew, so it comes back where the user is.
        window_.hide();
    }
    if (!window_.isVisible() && hiddenAt_) window_.setGeometry(*hiddenAt_);
    prepareFixedWindow(window_);
    window_.show();
    bringToForeground();
}

void Program::quit() {
    if (ended_) return;
    ended_ = true;
    trayIcon_.remove();
    options_.endProcess(0);
}

// On Wayland a program cannot raise its own window, and a window on another
// workspace counts as exposed until Qt next draws it; one that is not the
// active window may be anywhere, so it is shown anew, which the compositor
// puts where the user is, with the focus.
bool Program::waylandWindowElsewhere() const {
    return tray::onWayland() && !window_.isActiveWindow();
}

void Program::bringToForeground() {
    window_.raise();
    window_.activateWindow();
}

void Program::trayAction(int code) {
    switch (tray::actionForCode(code)) {
        case tray::TrayAction::ShowWindow: showWindow(); break;
        case tray::TrayAction::PopupMenu: {
            bringToForeground();
            // A panel that draws the exported menu itself does not report its
            // right click; one that does wants the menu from the program.
            window_.mnuTRAY->popup(QCursor::pos());
            break;
        }
        case tray::TrayAction::None: break;
    }
}

void Program::save() {
    // A count that is not a number from 1 to 999 can only come from a damaged
    // file when the field was never left; it is refused as leaving the field
    // would refuse it, so a save never stores such a count.
    if (!ui::FieldHandlers::intervalIsValid(window_.Text1(1)->text())) fields_.lostFocus(1);

    const std::filesystem::path& file = options_.settings.saveTo;
    if (const std::optional<settings::SaveFailure> failure =
            settings::saveSettings(file, controls(), record_)) {
        boxes_.show(QString::fromStdString(ui::saveFailedMessage(file.string(), *failure)),
                    QString::fromUtf8(ui::kAppTitle));
    }
    scheduler_.restart();
    scheduler_.tick();
}

void Program::probeNow() { reporter_.probeAndReport(); }

void Program::clearLog() { window_.List1->clear(); }

settings::SettingsControls Program::controls() const {
    settings::SettingsControls c;
    for (int i = 0; i < 4; ++i)
        c.text[static_cast<size_t>(i)] = window_.Text1(i)->text().toStdString();
    c.check1 = static_cast<int16_t>(ui::SetPing::checkValue(window_.Check1));
    c.check2 = static_cast<int16_t>(ui::SetPing::checkValue(window_.Check2));
    c.seconds = window_.Option1(1)->isChecked();
    return c;
}

void Program::setControls(const settings::SettingsControls& c) {
    // A text from the file may be longer than the field takes from typing; it
    // is shown whole, as the file has it.
    for (int i = 0; i < 4; ++i)
        window_.setFieldText(i, QString::fromStdString(c.text[static_cast<size_t>(i)]));
    ui::SetPing::setCheckValue(window_.Check1, c.check1);
    ui::SetPing::setCheckValue(window_.Check2, c.check2);
    if (c.seconds)
        window_.Option1(1)->setChecked(true);
    else
        window_.Option1(0)->setChecked(true);
}

schedule::IntervalUnit Program::unit() const {
    if (window_.Option1(0)->isChecked()) return schedule::IntervalUnit::Minutes;
    if (window_.Option1(1)->isChecked()) return schedule::IntervalUnit::Seconds;
    return schedule::IntervalUnit::None;
}

std::string Program::timestamp() {
    // Made at the first probe, not at start-up; the system locale's formats
    // are read then and kept.
    static LogTimestamp stamp;
    return stamp.now();
}

void Program::appendLog(const std::string& line) {
    window_.List1->appendLine(QString::fromStdString(line));
}

void Program::processWaitingEvents() { QCoreApplication::processEvents(); }

void Program::openModalBox(const std::string& text, const std::string& title,
                           std::function<void()> closed) {
    boxes_.open(QString::fromStdString(text), QString::fromStdString(title), std::move(closed));
}

}  // namespace zorvek::app
