// SPDX-License-Identifier: MIT
// The running program: the window SetPing and everything it owns for the whole
// run (the settings record, the result table, the probe time, the tray icon
// record), and the behaviour behind its controls: start-up, hiding, opening,
// quitting, the tray icon's mouse actions, the test probe and the save.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "companion/companion_library.h"
#include "companion/result_messages.h"
#include "schedule/probe_report.h"
#include "schedule/scheduler.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"
#include "settings/settings_record.h"
#include "tray/shell.h"
#include "tray/tray_icon.h"
#include "tray/tray_icon_record.h"
#include "ui/field_handlers.h"
#include "ui/message_box.h"
#include "ui/set_ping.h"

namespace zorvek::tray {
class QtTrayShell;
}  // namespace zorvek::tray

namespace zorvek::app {

// Handles by which the icon record names the two pictures.
inline constexpr uint32_t kNormalPictureHandle = 1;
inline constexpr uint32_t kActivePictureHandle = 2;

class Program : public QObject, private schedule::ProbeUi {
    Q_OBJECT
public:
    struct Options {
        // Where the companion library is looked for, and Zorvek.ini unless
        // `settings` names other files.
        std::filesystem::path programDir;
        // The settings files read at start-up and saved to; programDir's
        // Zorvek.ini for both where empty.
        settings::SettingsLocation settings;
        // The notification-area shell; the program makes a Qt one when null.
        tray::Shell* shell = nullptr;
        // Message boxes; the program makes modal ones when null.
        ui::BoxPresenter* boxes = nullptr;
        // The local clock; DateValue::now when empty.
        std::function<schedule::DateValue()> clock;
        // A clock that never steps, for the interval; std::chrono::steady_clock
        // when empty.
        std::function<std::chrono::milliseconds()> monotonicClock;
        // Ends the process with the given status, at once.
        std::function<void(int)> endProcess;
        // The companion library's base name.
        std::string libraryName = "Zorvek";
        // Whether a tray host (a notification area) is there; Qt's answer when empty.
        std::function<bool()> trayHostPresent;
        // How long start-up waits for a tray host to appear before it shows
        // the window instead, so that the program can still be reached.
        std::chrono::milliseconds trayHostWait{3000};
    };

    explicit Program(Options options);
    ~Program() override;

    // Start-up, in order: the result table, centring, the tray icon, hiding,
    // loading the settings, the probe time to the sentinel, one tick. Without
    // a tray host, the window is shown once none has appeared in time.
    // startUp runs both halves below at once.
    void startUp();
    // The first half: everything up to the tray icon and hiding the window.
    void showTrayIcon();
    // The second half: the fields' fonts, loading the settings, the first tick
    // and the wait for a tray host. The program runs it as soon as its event
    // loop does, so that the icon's request reaches the tray host first; the
    // window is not shown before it has run (showing runs it first).
    void finishStartUp();

    void hideWindow();    // CmdClose
    void openSettings();  // mnuOPEN: the fields from the record, then show
    // Shows the window as it was left (a left click on the icon, a second
    // start of the program): restored if it was minimised, raised and
    // activated; the fields are not touched.
    void showWindow();
    void quit();                // CmdEnd, mnuCLOSE, the title bar: remove the icon, end
    void trayAction(int code);  // a mouse action on the tray icon
    void save();                // CmdSave
    void probeNow();            // PingCmd
    void clearLog();            // CmdCls

    ui::SetPing& window() { return window_; }
    settings::SettingsRecord& record() { return record_; }
    schedule::Scheduler& scheduler() { return scheduler_; }
    schedule::ProbeReporter& reporter() { return reporter_; }
    const tray::TrayIconRecord& trayRecord() const { return trayRecord_; }
    const companion::ResultMessages& resultMessages() const { return messages_; }
    // True while start-up waits for a tray host to appear.
    bool waitingForTrayHost() const { return trayHostTimer_.isActive(); }

    // The window's position handed over by start-up, in twips.
    float leftTwips() const { return leftTwips_; }
    float topTwips() const { return topTwips_; }

    // The controls as the settings file sees them, and back.
    settings::SettingsControls controls() const;
    void setControls(const settings::SettingsControls& controls);

private:
    // ProbeUi
    std::string timestamp() override;
    void appendLog(const std::string& line) override;
    void processWaitingEvents() override;
    void openModalBox(const std::string& text, const std::string& title,
                      std::function<void()> closed) override;

    void centreWindow();
    bool trayHostPresent() const;
    void checkForTrayHost();
    bool waylandWindowElsewhere() const;
    void bringToForeground();
    schedule::IntervalUnit unit() const;

    Options options_;
    ui::SetPing window_;
    std::unique_ptr<tray::Shell> ownShell_;
    tray::QtTrayShell* qtShell_ = nullptr;  // the Qt shell when the program made its own
    std::unique_ptr<ui::BoxPresenter> ownBoxes_;
    tray::Shell& shell_;
    ui::BoxPresenter& boxes_;
    companion::ResultMessages messages_;
    settings::SettingsRecord record_;
    tray::TrayIconRecord trayRecord_;
    tray::TrayIcon trayIcon_;
    companion::CompanionLibrary library_;
    schedule::ProbeReporter reporter_;
    schedule::Scheduler scheduler_;
    ui::FieldHandlers fields_;
    float leftTwips_ = 0;
    float topTwips_ = 0;
    QTimer trayHostTimer_;
    QElapsedTimer trayHostWaited_;
    // Runs out a while after the window was hidden (also at start-up); the
    // pages only start-up and the window used are then let go.
    QTimer idleTimer_;
    bool startUpFinished_ = false;
    bool ended_ = false;
    // Where the window's inside stood when it was last hidden.
    std::optional<QRect> hiddenAt_;
};

}  // namespace zorvek::app
