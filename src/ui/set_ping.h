// SPDX-License-Identifier: MIT
// The program's one window, SetPing: every control with its name, text,
// position, size, font and tab order, the two pictures, the tray menu and the
// 500 ms timer. The controls are described once, in a table in set_ping.cpp,
// and the window is built from it by a few create functions; the behaviour
// behind the controls is wired up by the program (src/app) and the field
// handlers.
#pragma once

#include <QIcon>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>

#include "ui/log_list.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class QRadioButton;

namespace zorvek::ui {

// Positions and sizes are given in twips (1/1440 inch); 15 twips make one
// logical pixel, and Qt scales logical pixels for high-DPI screens.
constexpr int kTwipsPerPixel = 15;
constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }

inline constexpr char kCaption[] = "Zorvek-自動Pinging";
inline constexpr char kDefaultHost[] = "localhost";

class SetPing : public QWidget {
    Q_OBJECT
public:
    // When the four fields get their own font and their first text. A field
    // lays its text out as soon as it is made, and again with each new font
    // or text, which loads the fonts the text needs from the system: a
    // program that wants its tray icon up first makes the fields empty in the
    // desktop's font and finishes them afterwards.
    enum class Fields { Now, Later };

    explicit SetPing(QWidget* parent = nullptr, Fields fields = Fields::Now);
    ~SetPing() override;

    // Gives the four fields their own font, and their first text where they
    // were made empty; nothing happens once they have them.
    void finishFields();

    // Control arrays, told apart by their index as the handlers receive it.
    QLineEdit* Text1(int index) const { return text1_.at(static_cast<size_t>(index)); }
    QRadioButton* Option1(int index) const { return option1_.at(static_cast<size_t>(index)); }
    QLabel* Label1(int index) const { return label1_.at(static_cast<size_t>(index)); }

    QLabel* Label2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    LogList* List1 = nullptr;
    QPushButton* CmdClose = nullptr;
    QPushButton* CmdSave = nullptr;
    QPushButton* PingCmd = nullptr;
    QPushButton* CmdCls = nullptr;
    QPushButton* CmdEnd = nullptr;
    QLabel* version = nullptr;
    QLabel* Image1 = nullptr;  // never drawn; holds the active tray picture
    QTimer* Timer1 = nullptr;  // 500 ms, running from creation, never stopped
    QMenu* mnuTRAY = nullptr;  // popup only: the window has no menu bar
    QAction* mnuOPEN = nullptr;
    QAction* mnuCLOSE = nullptr;

    // Which picture the tray icon shows: "0" the window's own icon, "1" Image1's.
    std::string IconState = "0";

    // The two pictures: the window's own icon (normal) and Image1's (active).
    const QIcon& normalPicture() const { return normalPicture_; }
    const QIcon& activePicture() const { return activePicture_; }

    // How many characters the user can type into Text1(index): 3 for the
    // interval, 5 for each time, no limit for the host.
    static int fieldLimit(int index);

    // Puts a saved value into Text1(index) whole: a longer text than the field
    // takes from typing (a hand-edited settings file) widens its limit until
    // the text fits again when the field is left.
    void setFieldText(int index, const QString& text);

    // A check box holds 0 (not ticked) or 1 (ticked).
    static int checkValue(const QCheckBox* box);
    static void setCheckValue(QCheckBox* box, int value);

signals:
    // The title bar's close command: the window is unloaded, which ends the
    // program. The window itself stays as it is; the program decides.
    void unloadRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createWindow();
    void createControls();
    void findControls();
    void setInitialValues();
    void createAccessibleNames();
    void createTabOrder();
    void makeTheUnitsOneStop();
    void createTrayMenu();
    void createTimer();

    std::array<QLineEdit*, 4> text1_{};
    std::array<QRadioButton*, 2> option1_{};
    Fields fields_;
    std::array<QLabel*, 5> label1_{};
    QIcon normalPicture_;
    QIcon activePicture_;
};

// Registers the fonts the window asks for ("ＭＳ ゴシック", "ＭＳ Ｐゴシック",
// "Courier New") with the nearest faces found on Linux desktops. Called once
// before the window is built; harmless to call again.
void installFontSubstitutions();

}  // namespace zorvek::ui
