// SPDX-License-Identifier: MIT
// The program as a whole, on Qt's offscreen platform: start-up order, hiding
// and opening the window, the tray icon's mouse actions, quitting (also from
// the middle of a probe, in a child process), the save command and the log.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/centring.h"
#include "app/program.h"
#include "support/box_watcher.h"
#include "text/cp932.h"

using namespace zorvek;
using namespace zorvek::app;
using namespace zorvek::schedule;
using namespace zorvek::settings;
using namespace zorvek::tray;

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeIni(const QTemporaryDir& dir, const std::string& line) {
    std::ofstream(std::filesystem::path(dir.path().toStdString()) / "Zorvek.ini", std::ios::binary)
        << line;
}

// A shell that also notes what the program looked like at each call.
struct WatchingShell : RecordingShell {
    std::function<void(uint32_t)> onNotify;
    void notify(uint32_t operation, const TrayIconRecord& record) override {
        RecordingShell::notify(operation, record);
        if (onNotify) onNotify(operation);
    }
};

struct Harness {
    QTemporaryDir dir;
    WatchingShell shell;
    testing::RecordingBoxes boxes;
    DateValue clock = DateValue::fromParts(2026, 12, 7, 23, 30, 0);
    bool trayHost = true;
    QList<int> ended;
    std::unique_ptr<Program> program;

    explicit Harness(std::chrono::milliseconds trayHostWait = std::chrono::milliseconds(0)) {
        Program::Options options;
        options.programDir = dir.path().toStdString();
        options.shell = &shell;
        options.boxes = &boxes;
        options.clock = [this] { return clock; };
        // The monotonic clock runs with the fake local clock, so only the test
        // moves time on.
        options.monotonicClock = [this] { return std::chrono::seconds(clock.toWholeSeconds()); };
        options.endProcess = [this](int status) { ended.append(status); };
        options.libraryName = "ZorvekFake";
        options.trayHostPresent = [this] { return trayHost; };
        options.trayHostWait = trayHostWait;
        // The stand-in library lives in its own build folder.
        std::filesystem::copy_file(
            std::filesystem::path(ZORVEK_FAKE_DIR) / "libZorvekFake.so",
            std::filesystem::path(dir.path().toStdString()) / "libZorvekFake.so");
        program = std::make_unique<Program>(std::move(options));
    }
    ui::SetPing& w() { return program->window(); }
    std::vector<uint32_t> operations() const {
        std::vector<uint32_t> ops;
        for (const auto& call : shell.calls()) ops.push_back(call.operation);
        return ops;
    }
};

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void startUpAddsTheIconFirstThenHidesThenLoads() {
        Harness h;
        writeIni(h.dir, "\"127.0.0.1\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n");
        h.w().show();  // start-up must hide it, after the icon is added
        bool visibleAtAdd = false;
        std::string hostAtAdd = "unset";
        h.shell.onNotify = [&](uint32_t op) {
            if (op != NIM_ADD) return;
            visibleAtAdd = h.w().isVisible();
            hostAtAdd = h.program->record().HostName;
        };
        h.program->startUp();
        QVERIFY(visibleAtAdd);
        QCOMPARE(hostAtAdd, std::string());
        QVERIFY(!h.w().isVisible());
        // Inside the window with a saved host: active icon and a probe at once.
        QCOMPARE(h.operations(), (std::vector<uint32_t>{NIM_ADD, NIM_MODIFY}));
        QCOMPARE(h.w().IconState, std::string("1"));
        QCOMPARE(h.shell.calls()[1].bytes[TrayIconRecord::kHIconOffset],
                 uint8_t(kActivePictureHandle));
        QCOMPARE(h.w().List1->count(), 2);
        QCOMPARE(h.w().List1->line(1), QStringLiteral("--------------------成功しました(0)"));
        QCOMPARE(h.program->scheduler().lastProbeTime(), h.clock);
        QCOMPARE(h.program->record().Interval, int16_t(5));
        // The tip is the caption, the record names the window.
        QCOMPARE(QtTrayShellTip(h), QStringLiteral("Zorvek-自動Pinging"));
    }

    void startUpWithoutFileProbesNothing() {
        Harness h;
        h.program->startUp();
        QCOMPARE(h.operations(), std::vector<uint32_t>{NIM_ADD});
        QCOMPARE(h.w().IconState, std::string("0"));
        QCOMPARE(h.program->record(), SettingsRecord{});
        QCOMPARE(h.program->scheduler().lastProbeTime(), h.clock);  // the tick was due
        // A left click shows the window's own defaults...
        h.program->trayAction(WM_LBUTTONDOWN);
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("localhost"));
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("2"));
        QCOMPARE(h.w().Text1(2)->text(), QStringLiteral("23:00"));
        QCOMPARE(h.w().Text1(3)->text(), QStringLiteral("07:59"));
        // ...while the menu's "設定" shows the empty record.
        h.w().mnuOPEN->trigger();
        QCOMPARE(h.w().Text1(0)->text(), QString());
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("0"));
        QCOMPARE(h.w().Text1(2)->text(), QString());
        QCOMPARE(h.w().Text1(3)->text(), QString());
        QVERIFY(!h.w().Check1->isChecked());
        QVERIFY(!h.w().Check2->isChecked());
    }

    // The program shows its icon and finishes start-up once its event loop
    // runs; a click that comes first still finds the settings loaded, the
    // first probe made and the fields in their own font.
    void aClickBeforeStartUpIsFinishedFinishesItFirst() {
        Harness h;
        writeIni(h.dir, "\"127.0.0.1\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n");
        h.program->showTrayIcon();
        QCOMPARE(h.operations(), std::vector<uint32_t>{NIM_ADD});
        QCOMPARE(h.program->record().HostName, std::string());
        h.program->trayAction(WM_LBUTTONDOWN);
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(h.w().Text1(0)->font().family(), QStringLiteral("ＭＳ ゴシック"));
        QCOMPARE(h.w().List1->count(), 2);
        // Once done, it is not done again when the loop gets to it.
        h.program->finishStartUp();
        QCOMPARE(h.w().List1->count(), 2);
        QCOMPARE(h.operations(), (std::vector<uint32_t>{NIM_ADD, NIM_MODIFY}));
    }

    void centringKeepsHalfTwips() {
        // 5565 twips (371 pixels) is odd: half a twip survives.
        const TwipsPoint odd = centreOnScreen(19200, 12000, 5565, 5640);
        QCOMPARE(odd.left, 9600.0f - 2782.5f);
        QCOMPARE(odd.top, 6000.0f - 2820.0f);
        QCOMPARE(odd.left - static_cast<float>(static_cast<int>(odd.left)), 0.5f);
        // Both odd: the halves cancel out.
        const TwipsPoint both = centreOnScreen(19215, 12000, 5565, 5640);
        QCOMPARE(both.left, 9607.5f - 2782.5f);
        QCOMPARE(both.left - static_cast<float>(static_cast<int>(both.left)), 0.0f);

        Harness h;
        h.program->startUp();
        const QRect screen = h.w().screen()->geometry();
        const QRect frame = h.w().frameGeometry();
        QCOMPARE(h.program->topTwips(), screen.height() * 15 / 2.0f - frame.height() * 15 / 2.0f);
        QCOMPARE(h.program->leftTwips(), screen.width() * 15 / 2.0f - frame.width() * 15 / 2.0f);
        QVERIFY(qAbs(frame.center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(frame.center().y() - screen.center().y()) <= 1);
    }

    void hiddenEditsSurviveALeftClickButNotTheMenu() {
        Harness h;
        writeIni(h.dir, "\"saved.example\",\"7\",\"01:00\",\"02:00\",0,1,0\r\n");
        h.program->startUp();
        h.program->openSettings();
        h.w().Text1(0)->setText("typed.example");
        h.w().Check1->setChecked(true);
        h.w().Option1(1)->setChecked(true);
        h.w().CmdClose->click();
        QVERIFY(!h.w().isVisible());
        QCOMPARE(h.operations().size(), 1u);  // hiding leaves the icon alone

        h.program->trayAction(WM_LBUTTONDOWN);
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("typed.example"));
        QVERIFY(h.w().Check1->isChecked());

        h.w().CmdClose->click();
        h.w().mnuOPEN->trigger();
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("saved.example"));
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("7"));
        QVERIFY(!h.w().Check1->isChecked());
        QVERIFY(h.w().Check2->isChecked());
        QVERIFY(h.w().Option1(1)->isChecked());  // the unit is not part of the record
    }

    void trayActionsByCode() {
        Harness h;
        h.program->startUp();
        h.w().Text1(0)->setText("kept");
        // Right press: the menu pops up, the hidden window stays hidden.
        h.program->trayAction(WM_RBUTTONDOWN);
        QTRY_VERIFY(h.w().mnuTRAY->isVisible());
        QVERIFY(!h.w().isVisible());
        h.w().mnuTRAY->hide();
        // Releases, double clicks, the middle button and movement do nothing.
        for (int code : {WM_MOUSEMOVE, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
                         WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, 0, -1}) {
            h.program->trayAction(code);
            QVERIFY2(!h.w().isVisible(), qPrintable(QString::number(code)));
            QVERIFY(!h.w().mnuTRAY->isVisible());
        }
        // Left press: shown, fields as they were; again while shown: still shown.
        h.program->trayAction(WM_LBUTTONDOWN);
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("kept"));
        h.program->trayAction(WM_LBUTTONDOWN);
        QVERIFY(h.w().isVisible());
        QCOMPARE(h.operations(), std::vector<uint32_t>{NIM_ADD});
        // Plain mouse movement over the window does nothing.
        QTest::mouseMove(&h.w(), QPoint(300, 300));
        QVERIFY(!h.w().mnuTRAY->isVisible());
    }

    void everyQuitRemovesTheIconOnceAndEnds() {
        for (int way = 0; way < 3; ++way) {
            for (bool shown : {false, true}) {
                Harness h;
                h.program->startUp();
                if (shown) h.program->openSettings();
                if (way == 0) h.w().CmdEnd->click();
                if (way == 1) h.w().mnuCLOSE->trigger();
                if (way == 2) h.w().close();
                QCOMPARE(h.operations(), (std::vector<uint32_t>{NIM_ADD, NIM_DELETE}));
                QCOMPARE(h.ended, QList<int>{0});
                // A second request (a queued click) adds nothing.
                h.w().CmdEnd->click();
                QCOMPARE(h.operations().size(), 2u);
                QCOMPARE(h.ended.size(), 1);
            }
        }
    }

    void quitDuringAProbeEndsTheProcessThere_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("shown");
        for (const char* way : {"CmdEnd", "mnuCLOSE", "close"}) {
            QTest::addRow("%s hidden", way) << QString::fromLatin1(way) << false;
            QTest::addRow("%s shown", way) << QString::fromLatin1(way) << true;
        }
    }

    void quitDuringAProbeEndsTheProcessThere() {
        QFETCH(QString, way);
        QFETCH(bool, shown);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZORVEK_FAKE_TRACE", "1");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--child-quit-during-probe", way, shown ? "shown" : "hidden"});
        QVERIFY(child.waitForFinished(30000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        // The icon goes active, the probe logs its time stamp and lets waiting
        // events run, the quit comes in: the icon is removed and nothing else
        // happens, neither the library call nor any icon operation.
        QCOMPARE(out, QStringLiteral("NOTIFY 0\nNOTIFY 1\nLOGGED\nNOTIFY 2\n"));
    }

    void saveWritesAppliesAndProbesAtOnce() {
        Harness h;
        h.program->startUp();
        h.program->trayAction(WM_LBUTTONDOWN);
        h.w().Text1(0)->setText("127.0.0.1");
        h.w().Text1(1)->setText("5");
        h.w().Text1(2)->setText("23:00");
        h.w().Text1(3)->setText("07:59");
        h.w().Check1->setChecked(true);
        h.w().Option1(1)->setChecked(true);
        h.w().CmdSave->click();
        QVERIFY(h.w().isVisible());  // saving does not hide
        const SettingsRecord expected{"127.0.0.1", 5, "23:00", "07:59", 1, 0};
        QCOMPARE(h.program->record(), expected);
        QCOMPARE(readAll(std::filesystem::path(h.dir.path().toStdString()) / "Zorvek.ini"),
                 std::string("\"127.0.0.1\",\"5\",\"23:00\",\"07:59\",1,0,1\r\n"));
        // The save restarts the schedule: a probe at once, inside the window.
        QCOMPARE(h.w().List1->count(), 2);
        QCOMPARE(h.w().IconState, std::string("1"));
        QVERIFY(h.boxes.boxes.isEmpty());

        // Saving an empty host stops the probing.
        h.w().Text1(0)->clear();
        h.w().CmdSave->click();
        QCOMPARE(h.program->record().HostName, std::string());
        h.clock = h.clock.addSeconds(60);
        h.program->scheduler().tick();
        QCOMPARE(h.w().List1->count(), 2);
    }

    void saveRefusesADamagedCountOnce() {
        Harness h;
        writeIni(h.dir, "\"127.0.0.1\",\"abc\",\"23:00\",\"07:59\",0,0,0\r\n");
        h.program->startUp();
        // The damaged count stopped the load part-way: the host is in the record.
        QCOMPARE(h.program->record().HostName, std::string("127.0.0.1"));
        QCOMPARE(h.program->record().Interval, int16_t(0));
        h.program->trayAction(WM_LBUTTONDOWN);
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("abc"));
        h.w().CmdSave->click();
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.boxes.boxes[0].text, QStringLiteral("1～999の数字を入力して下さい"));
        QCOMPARE(h.program->record().Interval, int16_t(1));
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("1"));
    }

    // A count longer than the field takes from typing (a hand-edited file):
    // "設定" shows it whole also after the user's typing brought the limit
    // back, and saving refuses it instead of storing a shortened count.
    void openSettingsShowsALongSavedCountWhole() {
        Harness h;
        writeIni(h.dir, "\"127.0.0.1\",\"1000\",\"23:00\",\"07:59\",0,0,0\r\n");
        h.program->startUp();
        QCOMPARE(h.program->record().Interval, int16_t(1000));
        h.program->trayAction(WM_LBUTTONDOWN);
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("1000"));
        QVERIFY(QTest::qWaitForWindowActive(&h.w()));
        h.w().Text1(1)->setFocus(Qt::TabFocusReason);  // selects "1000"
        QTest::keyClicks(h.w().Text1(1), QStringLiteral("78888"));
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("788"));  // typing still stops at 3
        QTest::keyClick(h.w().Text1(1), Qt::Key_Tab);
        QVERIFY(h.boxes.boxes.isEmpty());

        h.w().mnuOPEN->trigger();
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("1000"));
        h.w().CmdSave->click();
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.boxes.boxes[0].text, QStringLiteral("1～999の数字を入力して下さい"));
        QCOMPARE(h.w().Text1(1)->text(), QStringLiteral("1"));
    }

    void failedSaveSaysSoAndKeepsTheOldFile() {
        Harness h;
        writeIni(h.dir, "\"old.example\",\"2\",\"23:00\",\"07:59\",0,0,0\r\n");
        h.program->startUp();
        h.program->trayAction(WM_LBUTTONDOWN);
        h.w().Text1(0)->setText("new.example");
        // The file's place is taken by a directory with content: no rename can
        // replace it, not even for root.
        const std::filesystem::path ini =
            std::filesystem::path(h.dir.path().toStdString()) / "Zorvek.ini";
        const std::string before = readAll(ini);
        std::filesystem::remove(ini);
        std::filesystem::create_directory(ini);
        std::ofstream(ini / "keep") << before;
        h.w().CmdSave->click();
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.boxes.boxes[0].title, QStringLiteral("Zorvek"));
        QVERIFY(h.boxes.boxes[0].text.contains(QStringLiteral("設定を保存できませんでした")));
        QVERIFY(h.boxes.boxes[0].text.contains(QString::fromStdString(ini.string())));
        QCOMPARE(h.program->record().HostName, std::string("new.example"));  // applied anyway
        QCOMPARE(readAll(ini / "keep"), before);
        int entries = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator(h.dir.path().toStdString()))
            ++entries;
        QCOMPARE(entries, 2);  // the library and the directory: no temporary left behind
    }

    void testButtonProbesTheSavedHostAndClearEmptiesTheLog() {
        Harness h;
        writeIni(h.dir, "\"code:1\",\"2\",\"\",\"\",1,1,0\r\n");
        h.program->startUp();
        QCOMPARE(h.w().List1->count(), 2);
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.boxes.boxes[0].title, QStringLiteral("Zorvekエラー"));
        QCOMPARE(h.boxes.boxes[0].text, QStringLiteral("ホストが見つかりません(1)"));
        // A host typed but not saved is not what the test button probes.
        h.program->trayAction(WM_LBUTTONDOWN);
        h.w().Text1(0)->setText("127.0.0.1");
        h.w().PingCmd->click();
        QCOMPARE(h.w().List1->count(), 4);
        QCOMPARE(h.w().List1->line(3),
                 QStringLiteral("--------------------ホストが見つかりません(1)"));
        QCOMPARE(h.boxes.boxes.size(), 2);
        h.w().CmdCls->click();
        QCOMPARE(h.w().List1->count(), 0);
    }

    void scheduledProbesGoOnWhileTheErrorBoxIsOpen() {
        Harness h;
        writeIni(h.dir, "\"code:2\",\"1\",\"\",\"\",1,1,1\r\n");
        h.boxes.holdOpen = true;
        h.program->startUp();
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.w().List1->count(), 2);
        // Each second the box stays open brings a probe and its two lines,
        // but no second box.
        for (int second = 1; second <= 2; ++second) {
            h.clock = h.clock.addSeconds(1);
            h.program->scheduler().tick();
            QCOMPARE(h.w().List1->count(), 2 + 2 * second);
        }
        QCOMPARE(h.w().List1->line(5),
                 QStringLiteral("--------------------Pingでエラーが発生しました(2)"));
        QCOMPARE(h.boxes.boxes.size(), 1);
        // Not more often than the interval: the same second again is not due.
        h.program->scheduler().tick();
        QCOMPARE(h.w().List1->count(), 6);
        // Once answered, the next failure opens a box again.
        h.boxes.dismissAll();
        h.clock = h.clock.addSeconds(1);
        h.program->scheduler().tick();
        QCOMPARE(h.boxes.boxes.size(), 2);
        QCOMPARE(h.boxes.openCount(), 1);
    }

    void withoutATrayHostTheWindowIsShown() {
        // None at start-up and none within the wait: the window comes up as a
        // left click shows it, and the icon stays registered for a later host.
        {
            Harness h;
            h.trayHost = false;
            h.program->startUp();
            h.w().Text1(0)->setText("kept");
            QVERIFY(h.program->waitingForTrayHost());
            QTRY_VERIFY(h.w().isVisible());
            QVERIFY(!h.program->waitingForTrayHost());
            QCOMPARE(h.w().Text1(0)->text(), QStringLiteral("kept"));
            QCOMPARE(h.operations(), std::vector<uint32_t>{NIM_ADD});
        }
        // One that appears during the wait: the window stays hidden.
        {
            Harness h(std::chrono::minutes(1));
            h.trayHost = false;
            h.program->startUp();
            QVERIFY(h.program->waitingForTrayHost());
            h.trayHost = true;
            QTRY_VERIFY(!h.program->waitingForTrayHost());
            QVERIFY(!h.w().isVisible());
        }
        // One there at start-up: no wait at all.
        Harness h;
        h.program->startUp();
        QVERIFY(!h.program->waitingForTrayHost());
        QVERIFY(!h.w().isVisible());
    }

    void showingRestoresAMinimisedWindow() {
        Harness h;
        h.program->startUp();
        const std::vector<std::function<void()>> ways = {
            [&] { h.program->trayAction(WM_LBUTTONDOWN); },
            [&] { h.w().mnuOPEN->trigger(); },
            [&] { h.program->showWindow(); },
        };
        for (const auto& show : ways) {
            h.program->showWindow();
            h.w().setWindowState(Qt::WindowMinimized);
            QVERIFY(h.w().isMinimized());
            show();
            QVERIFY(!h.w().isMinimized());
            QVERIFY(h.w().isVisible());
        }
    }

private:
    static QString QtTrayShellTip(Harness& h) {
        std::string tip;
        for (uint8_t b : h.program->trayRecord().tip()) {
            if (b == 0) break;
            tip.push_back(static_cast<char>(b));
        }
        return QString::fromStdString(cp932::toUtf8(tip).value_or(""));
    }
};

namespace {

// The child process for quitting in the middle of a probe: the real process
// end, a shell and a log that print what happens.
int runQuitDuringProbeChild(const QString& way, bool shown) {
    struct PrintingShell : Shell {
        void notify(uint32_t operation, const TrayIconRecord&) override {
            std::printf("NOTIFY %u\n", operation);
            std::fflush(stdout);
        }
    } shell;
    testing::RecordingBoxes boxes;
    QTemporaryDir dir;
    writeIni(dir, "\"127.0.0.1\",\"1\",\"\",\"\",1,0,1\r\n");
    std::filesystem::copy_file(
        std::filesystem::path(ZORVEK_FAKE_DIR) / "libZorvekFake.so",
        std::filesystem::path(dir.path().toStdString()) / "libZorvekFake.so");
    Program::Options options;
    options.programDir = dir.path().toStdString();
    options.shell = &shell;
    options.boxes = &boxes;
    options.libraryName = "ZorvekFake";
    options.trayHostPresent = [] { return true; };
    Program program(std::move(options));
    if (shown) program.window().show();
    QObject::connect(program.window().List1->model(), &QAbstractItemModel::rowsInserted, [] {
        std::printf("LOGGED\n");
        std::fflush(stdout);
    });
    // Waiting when the probe lets events run: the user's quit.
    QTimer::singleShot(0, [&program, way] {
        if (way == "CmdEnd") program.window().CmdEnd->click();
        if (way == "mnuCLOSE") program.window().mnuCLOSE->trigger();
        if (way == "close") program.window().close();
    });
    program.startUp();
    std::printf("START-UP CONTINUED\n");
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 4 && QString::fromLatin1(argv[1]) == "--child-quit-during-probe") {
        return runQuitDuringProbeChild(QString::fromLatin1(argv[2]),
                                       QString::fromLatin1(argv[3]) == "shown");
    }
    ProgramTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "program_qtest.moc"
