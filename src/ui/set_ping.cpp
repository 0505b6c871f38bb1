// SPDX-License-Identifier: MIT
#include "ui/set_ping.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

// The pictures live in a resource of a static library, which has to be
// registered by hand before the first use.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace zorvek::ui {
namespace {

constexpr char kGothic[] = "ＭＳ ゴシック";
constexpr char kPGothic[] = "ＭＳ Ｐゴシック";
constexpr char kCourier[] = "Courier New";

// A font as the window asks for it; on Linux the family stands for the nearest
// face installFontSubstitutions names.
struct ControlFont {
    const char* family = nullptr;  // nullptr: the control keeps the desktop's font
    double points = 0;
    bool boldItalic = false;
};

constexpr ControlFont kGothic9{kGothic, 9};
constexpr ControlFont kGothic975{kGothic, 9.75};
constexpr ControlFont kPGothic9{kPGothic, 9};
constexpr ControlFont kPGothic975{kPGothic, 9.75};
constexpr ControlFont kCourier9BoldItalic{kCourier, 9, true};
constexpr ControlFont kDesktopFont{};

enum class Kind { Label, TextBox, Frame, OptionButton, CheckBox, ListBox, CommandButton, Image };

// Labels, the frame and the image never take the keyboard focus.
constexpr bool takesFocus(Kind kind) {
    return kind != Kind::Label && kind != Kind::Frame && kind != Kind::Image;
}

// How a label draws its text; every other control keeps the platform's colours.
enum class Look { Platform, BlackLeft, BlackCentred, GreyCentred };

constexpr const char* kWindow = nullptr;  // the container of most controls
constexpr int kNoTab = -1;                // a control that takes no focus

// One control of the window.
struct ControlRow {
    const char* name;  // an array member carries its index: "Text1(2)"
    Kind kind;
    const char* container;  // the frame a control stands in; kWindow for the window
    const char* text;  // shown at creation (a text box's, with Fields::Later, from finishFields)
    // Twips, from the top-left corner of the container's client area.
    int left, top, width, height;
    // The keyboard visits the controls by rising tab index. A frame takes no
    // focus itself: the buttons in it are visited where the frame stands, in
    // the order of this table, and Tab stops once in their group.
    int tabIndex;
    ControlFont font;
    Look look = Look::Platform;
    const char* captions = nullptr;  // a label: the control it names for screen readers
};

// The window's controls in the order in which they stand: the left column top
// to bottom, then the right column, then the controls that are never seen.
constexpr ControlRow kControls[] = {
    {"Label1(0)", Kind::Label, kWindow, "ホスト名またはIPアドレス", 210, 300, 3615, 255, kNoTab,
     kGothic9, Look::BlackLeft, "Text1(0)"},
    {"Text1(0)", Kind::TextBox, kWindow, kDefaultHost, 240, 510, 3585, 330, 0, kGothic975},
    {"Label1(1)", Kind::Label, kWindow, "インターバル", 210, 1155, 1815, 255, kNoTab, kGothic9,
     Look::BlackLeft, "Text1(1)"},
    {"Text1(1)", Kind::TextBox, kWindow, "2", 240, 1365, 435, 330, 1, kGothic975},
    {"Frame1", Kind::Frame, kWindow, "", 720, 1320, 1335, 375, 2, kDesktopFont},
    {"Option1(0)", Kind::OptionButton, "Frame1", "分", 120, 120, 495, 180, 21, kGothic9},
    {"Option1(1)", Kind::OptionButton, "Frame1", "秒", 720, 120, 495, 180, 3, kGothic9},
    {"Label1(3)", Kind::Label, kWindow, "実行時間（00:00）", 2160, 1155, 1530, 255, kNoTab,
     kGothic9, Look::BlackLeft, "Text1(2)"},
    {"Text1(2)", Kind::TextBox, kWindow, "23:00", 2160, 1365, 660, 330, 4, kGothic975},
    {"Label2", Kind::Label, kWindow, "～", 2835, 1470, 330, 225, kNoTab, kPGothic9,
     Look::BlackCentred, "Text1(3)"},
    {"Text1(3)", Kind::TextBox, kWindow, "07:59", 3120, 1365, 660, 330, 5, kGothic975},
    {"Check2", Kind::CheckBox, kWindow, "", 210, 1965, 225, 330, 6, kPGothic9},
    {"Label1(4)", Kind::Label, kWindow, "エラーを通知する", 525, 2010, 1545, 255, kNoTab, kGothic9,
     Look::BlackLeft, "Check2"},
    {"Check1", Kind::CheckBox, kWindow, "", 2205, 1965, 225, 330, 7, kPGothic9},
    {"Label1(2)", Kind::Label, kWindow, "ログを表示する", 2520, 2010, 1425, 255, kNoTab, kGothic9,
     Look::BlackLeft, "Check1"},
    {"List1", Kind::ListBox, kWindow, "", 210, 2325, 5130, 2985, 8, kPGothic975},
    {"CmdClose", Kind::CommandButton, kWindow, "閉　じ　る", 3960, 240, 1335, 375, 9, kGothic9},
    {"CmdSave", Kind::CommandButton, kWindow, "設定を保存", 3960, 630, 1335, 375, 10, kGothic9},
    {"PingCmd", Kind::CommandButton, kWindow, "Pingのテスト", 3960, 1020, 1335, 375, 11, kGothic9},
    {"CmdCls", Kind::CommandButton, kWindow, "ログのクリア", 3960, 1410, 1335, 375, 12, kGothic9},
    {"CmdEnd", Kind::CommandButton, kWindow, "Zorvek終了", 3960, 1800, 1335, 375, 13, kGothic9},
    {"version", Kind::Label, kWindow, "Version 1.64", 3720, 5400, 1575, 255, kNoTab,
     kCourier9BoldItalic, Look::GreyCentred},
    {"Image1", Kind::Image, kWindow, "", 2520, 0, 240, 240, kNoTab, kDesktopFont},
};

// The window's client area, in twips.
constexpr int kClientWidth = 5535;
constexpr int kClientHeight = 5625;

// The row of the control `name`, among the rows before `end`; nullptr when none.
constexpr const ControlRow* findRow(std::string_view name,
                                    const ControlRow* end = std::end(kControls)) {
    for (const ControlRow* row = std::begin(kControls); row != end; ++row)
        if (name == row->name) return row;
    return nullptr;
}

// The table holds together: every name and every tab index stands for one
// control only, a container is a frame made before the controls in it, and a
// label captions a control of the table.
constexpr bool tableHoldsTogether() {
    for (const ControlRow* row = std::begin(kControls); row != std::end(kControls); ++row) {
        if (findRow(row->name, row) != nullptr) return false;
        for (const ControlRow* other = std::begin(kControls); other != row; ++other)
            if (row->tabIndex != kNoTab && row->tabIndex == other->tabIndex) return false;
        if (row->container != kWindow) {
            const ControlRow* frame = findRow(row->container, row);
            if (frame == nullptr || frame->kind != Kind::Frame) return false;
        }
        if (row->captions != nullptr && findRow(row->captions) == nullptr) return false;
    }
    return true;
}
static_assert(tableHoldsTogether());

template <typename Control>
Control* controlNamed(const QWidget* window, const QString& name) {
    return window->findChild<Control*>(name);
}

template <typename Control>
Control* controlNamed(const QWidget* window, const char* name) {
    return controlNamed<Control>(window, QString::fromLatin1(name));
}

// The name of member `index` of a control array: "Text1(2)".
QString arrayMember(const char* array, size_t index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index);
}

QFont makeFont(const ControlFont& wanted) {
    QFont font(QString::fromUtf8(wanted.family));
    font.setPointSizeF(wanted.points);
    font.setBold(wanted.boldItalic);
    font.setItalic(wanted.boldItalic);
    return font;
}

QRect pixels(const ControlRow& row) {
    return {twipsToPixels(row.left), twipsToPixels(row.top), twipsToPixels(row.width),
            twipsToPixels(row.height)};
}

QLabel* createLabel(const QString& text, Look look, QWidget* container) {
    auto* label = new QLabel(text, container);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     look == Look::GreyCentred ? QColor(128, 128, 128) : QColor(0, 0, 0));
    label->setPalette(palette);
    label->setAlignment((look == Look::BlackLeft ? Qt::AlignLeft : Qt::AlignHCenter) |
                        Qt::AlignTop);
    return label;
}

// One control of the table, with what its kind needs besides the row's name,
// place, font and focus.
QWidget* createControl(const ControlRow& row, QWidget* container) {
    const QString text = QString::fromUtf8(row.text);
    switch (row.kind) {
        case Kind::Label: return createLabel(text, row.look, container);
        case Kind::TextBox: return new QLineEdit(text, container);
        case Kind::Frame: {
            auto* frame = new QGroupBox(text, container);
            frame->setFlat(true);
            return frame;
        }
        case Kind::OptionButton: return new QRadioButton(text, container);
        case Kind::CheckBox: return new QCheckBox(text, container);
        case Kind::ListBox: return new LogList(container);
        case Kind::CommandButton: {
            auto* button = new QPushButton(text, container);
            // Return and Enter press the button that has the focus, as Space
            // does. The window is no dialog, so no button becomes a default
            // that Return in a field would press.
            button->setAutoDefault(true);
            return button;
        }
        case Kind::Image: return new QLabel(container);
    }
    return nullptr;
}

// A picture of the tray icon and the window: the 16 x 16 icon, and larger
// renditions of the same design for panels and screens that draw it bigger,
// so that they need not blow up the 16 pixels. All are PNG pictures built
// into the program, read by Qt's own PNG reader: left to find the format
// itself, Qt would load and ask every image-format plugin first, at every
// start, before the tray icon is shown.
QIcon picture(const char* name) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QImageReader reader(
            QStringLiteral(":/pictures/tray-%1-%2.png").arg(QLatin1String(name)).arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

// The settings file keeps texts between double quotes with nothing escaped, so
// a host name cannot hold one: typed or pasted, the character is dropped.
class NoDoubleQuote : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        const qsizetype before = input.size();
        const qsizetype removedBeforeCaret = input.left(pos).count(QLatin1Char('"'));
        input.remove(QLatin1Char('"'));
        if (input.size() != before) pos -= static_cast<int>(removedBeforeCaret);
        return Acceptable;
    }
};

// Screen readers are told the window is a dialog rather than a plain panel
// (which they call "filler"), so they announce it by its title when it opens.
// SetPing stays a QWidget: a QDialog would also close on Escape.
QAccessibleInterface* accessibleSetPing(const QString& className, QObject* object) {
    if (className == QLatin1String(SetPing::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Dialog);
    return nullptr;
}

// A caption as it is spoken: the ideographic spaces that only spread it out on
// the screen ("閉　じ　る") are left out.
QString spokenCaption(QString caption) {
    caption.remove(QChar(0x3000));
    return caption;
}

}  // namespace

void installFontSubstitutions() {
    QFont::insertSubstitutions(QString::fromUtf8(kGothic),
                               {QStringLiteral("IPAGothic"), QStringLiteral("MS Gothic"),
                                QStringLiteral("VL Gothic"), QStringLiteral("monospace")});
    QFont::insertSubstitutions(QString::fromUtf8(kPGothic),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("MS PGothic"),
                                QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")});
    QFont::insertSubstitutions(QString::fromUtf8(kCourier),
                               {QStringLiteral("Liberation Mono"),
                                QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
}

SetPing::SetPing(QWidget* parent, Fields fields)
    // A fixed dialog with a title bar and its close command only; Qt::Tool keeps
    // it out of the taskbar.
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      fields_(fields) {
    registerPictures();
    installFontSubstitutions();
    createWindow();
    createControls();
    findControls();
    setInitialValues();
    createAccessibleNames();
    createTabOrder();
    makeTheUnitsOneStop();
    createTrayMenu();
    createTimer();
    if (fields == Fields::Now) finishFields();
}

void SetPing::createWindow() {
    setObjectName(QStringLiteral("SetPing"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    normalPicture_ = picture("normal");
    activePicture_ = picture("active");
    setWindowIcon(normalPicture_);
}

// Every control of the table, in its container, at its place, in its font.
// The text boxes get their font from finishFields, and with Fields::Later
// their text too.
void SetPing::createControls() {
    for (const ControlRow& row : kControls) {
        QWidget* container = row.container == kWindow ? static_cast<QWidget*>(this)
                                                      : controlNamed<QWidget>(this, row.container);
        ControlRow made = row;
        if (row.kind == Kind::TextBox && fields_ == Fields::Later) made.text = "";
        QWidget* control = createControl(made, container);
        control->setObjectName(QString::fromLatin1(row.name));
        control->setGeometry(pixels(row));
        if (row.font.family != nullptr && row.kind != Kind::TextBox)
            control->setFont(makeFont(row.font));
        if (!takesFocus(row.kind)) control->setFocusPolicy(Qt::NoFocus);
    }
}

void SetPing::findControls() {
    for (size_t i = 0; i < text1_.size(); ++i)
        text1_[i] = controlNamed<QLineEdit>(this, arrayMember("Text1", i));
    for (size_t i = 0; i < option1_.size(); ++i)
        option1_[i] = controlNamed<QRadioButton>(this, arrayMember("Option1", i));
    for (size_t i = 0; i < label1_.size(); ++i)
        label1_[i] = controlNamed<QLabel>(this, arrayMember("Label1", i));
    Label2 = controlNamed<QLabel>(this, "Label2");
    Frame1 = controlNamed<QGroupBox>(this, "Frame1");
    Check1 = controlNamed<QCheckBox>(this, "Check1");
    Check2 = controlNamed<QCheckBox>(this, "Check2");
    List1 = controlNamed<LogList>(this, "List1");
    CmdClose = controlNamed<QPushButton>(this, "CmdClose");
    CmdSave = controlNamed<QPushButton>(this, "CmdSave");
    PingCmd = controlNamed<QPushButton>(this, "PingCmd");
    CmdCls = controlNamed<QPushButton>(this, "CmdCls");
    CmdEnd = controlNamed<QPushButton>(this, "CmdEnd");
    version = controlNamed<QLabel>(this, "version");
    Image1 = controlNamed<QLabel>(this, "Image1");
}

void SetPing::setInitialValues() {
    for (size_t i = 0; i < text1_.size(); ++i)
        text1_[i]->setMaxLength(fieldLimit(static_cast<int>(i)));
    text1_[0]->setValidator(new NoDoubleQuote(text1_[0]));
    option1_[0]->setChecked(true);
    // Image1 only holds the active picture; it is never shown.
    Image1->setPixmap(activePicture_.pixmap(16, 16));
    Image1->setVisible(false);
}

// Screen readers: each field and check box is labelled by the label that
// captions it (a buddy, which brings no shortcut since no caption has a
// mnemonic), and every control has a name that makes sense on its own.
void SetPing::createAccessibleNames() {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleSetPing);
        return true;
    }();
    for (const ControlRow& row : kControls) {
        if (row.captions == nullptr) continue;
        auto* label = controlNamed<QLabel>(this, row.name);
        auto* captioned = controlNamed<QWidget>(this, row.captions);
        label->setBuddy(captioned);
        captioned->setAccessibleName(label->text());
    }
    // The two times share the caption; the end is told apart by the "～" that
    // stands before it.
    text1_[3]->setAccessibleName(label1_[3]->text() + Label2->text());
    text1_[2]->setAccessibleDescription(QStringLiteral("開始"));
    text1_[3]->setAccessibleDescription(QStringLiteral("終了"));
    Frame1->setAccessibleName(label1_[1]->text() + QStringLiteral("の単位"));
    for (QRadioButton* option : option1_) {
        option->setAccessibleName(label1_[1]->text() + QStringLiteral("（") + option->text() +
                                  QStringLiteral("）"));
    }
    List1->setAccessibleName(QStringLiteral("ログ"));
    for (QPushButton* button : {CmdClose, CmdSave, PingCmd, CmdCls, CmdEnd})
        button->setAccessibleName(spokenCaption(button->text()));
}

// The keyboard order: the controls that take the focus by their tab index (a
// frame's buttons where the frame stands), and from the last back to the first.
void SetPing::createTabOrder() {
    std::vector<std::pair<int, QWidget*>> stops;
    for (const ControlRow& row : kControls) {
        if (!takesFocus(row.kind)) continue;
        const int place =
            row.container == kWindow ? row.tabIndex : findRow(row.container)->tabIndex;
        stops.emplace_back(place, controlNamed<QWidget>(this, row.name));
    }
    std::ranges::stable_sort(stops, {}, &std::pair<int, QWidget*>::first);
    for (size_t i = 0; i < stops.size(); ++i)
        setTabOrder(stops[i].second, stops[(i + 1) % stops.size()].second);
}

// The unit buttons are one stop of the keyboard, the chosen one, whether it
// was chosen by the user or by the settings: the other takes the focus by a
// click or an arrow key only.
void SetPing::makeTheUnitsOneStop() {
    for (QRadioButton* option : option1_) {
        const auto follow = [option](bool chosen) {
            option->setFocusPolicy(chosen ? Qt::StrongFocus : Qt::ClickFocus);
        };
        follow(option->isChecked());
        connect(option, &QRadioButton::toggled, option, follow);
    }
}

// The tray menu: a popup only, so the window has no menu bar.
void SetPing::createTrayMenu() {
    mnuTRAY = new QMenu(QStringLiteral("タスクトレイに表示するメニュー"), this);
    mnuTRAY->setObjectName(QStringLiteral("mnuTRAY"));
    mnuOPEN = mnuTRAY->addAction(QStringLiteral("設定"));
    mnuOPEN->setObjectName(QStringLiteral("mnuOPEN"));
    mnuCLOSE = mnuTRAY->addAction(QStringLiteral("終了"));
    mnuCLOSE->setObjectName(QStringLiteral("mnuCLOSE"));
}

void SetPing::createTimer() {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer1->start();
}

void SetPing::finishFields() {
    for (const ControlRow& row : kControls) {
        if (row.kind != Kind::TextBox) continue;
        auto* field = controlNamed<QLineEdit>(this, row.name);
        if (field->testAttribute(Qt::WA_SetFont)) continue;
        field->setFont(makeFont(row.font));
        if (fields_ == Fields::Later) field->setText(QString::fromUtf8(row.text));
    }
}

SetPing::~SetPing() = default;

int SetPing::fieldLimit(int index) {
    switch (index) {
        case 1: return 3;
        case 2:
        case 3: return 5;
        default: return 32767;  // Qt's default: no practical limit
    }
}

void SetPing::setFieldText(int index, const QString& text) {
    QLineEdit* field = Text1(index);
    if (field->maxLength() < text.size()) field->setMaxLength(static_cast<int>(text.size()));
    field->setText(text);
}

int SetPing::checkValue(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

void SetPing::setCheckValue(QCheckBox* box, int value) { box->setChecked(value != 0); }

void SetPing::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit unloadRequested();
}

}  // namespace zorvek::ui
