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

// The pictures live in a resource of a static library, which has to be
// registered by hand before the first use.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace zorvek::ui {
namespace {

const QString kGothic = QStringLiteral("ＭＳ ゴシック");
const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString kCourier = QStringLiteral("Courier New");

QFont makeFont(const QString& family, double points, bool boldItalic = false) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(boldItalic);
    font.setItalic(boldItalic);
    return font;
}

void place(QWidget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
}

void setTextColour(QWidget* widget, QColor colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width, int height) {
    auto* label = new QLabel(text, parent);
    place(label, name, left, top, width, height);
    label->setFont(makeFont(kGothic, 9));
    setTextColour(label, QColor(0, 0, 0));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The fields' font.
QFont fieldFont() { return makeFont(kGothic, 9.75); }

QLineEdit* makeField(QWidget* parent, const char* name, const QString& text, int maxLength,
                     int left, int top, int width, int height) {
    auto* field = new QLineEdit(text, parent);
    place(field, name, left, top, width, height);
    field->setMaxLength(maxLength);
    return field;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int top) {
    auto* button = new QPushButton(text, parent);
    place(button, name, 3960, top, 1335, 375);
    button->setFont(makeFont(kGothic, 9));
    // Return and Enter press the button that has the focus, as Space does. The
    // window is no dialog, so no button becomes a default that Return in a
    // field would press.
    button->setAutoDefault(true);
    return button;
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
    QFont::insertSubstitutions(kGothic, {QStringLiteral("IPAGothic"), QStringLiteral("MS Gothic"),
                                         QStringLiteral("VL Gothic"), QStringLiteral("monospace")});
    QFont::insertSubstitutions(kPGothic,
                               {QStringLiteral("IPAPGothic"), QStringLiteral("MS PGothic"),
                                QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")});
    QFont::insertSubstitutions(
        kCourier, {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                   QStringLiteral("monospace")});
}

SetPing::SetPing(QWidget* parent, FieldFonts fieldFonts)
    // A fixed dialog with a title bar and its close command only; Qt::Tool keeps
    // it out of the taskbar.
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    registerPictures();
    installFontSubstitutions();
    setObjectName(QStringLiteral("SetPing"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(twipsToPixels(5535), twipsToPixels(5625));

    normalPicture_ = picture("normal");
    activePicture_ = picture("active");
    setWindowIcon(normalPicture_);

    // Left column, top to bottom.
    label1_[0] = makeLabel(this, "Label1(0)", QStringLiteral("ホスト名またはIPアドレス"), 210, 300,
                           3615, 255);
    text1_[0] = makeField(this, "Text1(0)", QString::fromUtf8(kDefaultHost), fieldLimit(0), 240,
                          510, 3585, 330);
    text1_[0]->setValidator(new NoDoubleQuote(text1_[0]));
    label1_[1] = makeLabel(this, "Label1(1)", QStringLiteral("インターバル"), 210, 1155, 1815, 255);
    text1_[1] =
        makeField(this, "Text1(1)", QStringLiteral("2"), fieldLimit(1), 240, 1365, 435, 330);

    Frame1 = new QGroupBox(this);
    place(Frame1, "Frame1", 720, 1320, 1335, 375);
    Frame1->setFlat(true);
    option1_[0] = new QRadioButton(QStringLiteral("分"), Frame1);
    place(option1_[0], "Option1(0)", 120, 120, 495, 180);
    option1_[1] = new QRadioButton(QStringLiteral("秒"), Frame1);
    place(option1_[1], "Option1(1)", 720, 120, 495, 180);
    for (QRadioButton* option : option1_) option->setFont(makeFont(kGothic, 9));
    option1_[0]->setChecked(true);

    label1_[3] =
        makeLabel(this, "Label1(3)", QStringLiteral("実行時間（00:00）"), 2160, 1155, 1530, 255);
    text1_[2] =
        makeField(this, "Text1(2)", QStringLiteral("23:00"), fieldLimit(2), 2160, 1365, 660, 330);
    Label2 = makeLabel(this, "Label2", QStringLiteral("～"), 2835, 1470, 330, 225);
    Label2->setFont(makeFont(kPGothic, 9));
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    text1_[3] =
        makeField(this, "Text1(3)", QStringLiteral("07:59"), fieldLimit(3), 3120, 1365, 660, 330);

    Check2 = new QCheckBox(this);
    place(Check2, "Check2", 210, 1965, 225, 330);
    label1_[4] =
        makeLabel(this, "Label1(4)", QStringLiteral("エラーを通知する"), 525, 2010, 1545, 255);
    Check1 = new QCheckBox(this);
    place(Check1, "Check1", 2205, 1965, 225, 330);
    label1_[2] =
        makeLabel(this, "Label1(2)", QStringLiteral("ログを表示する"), 2520, 2010, 1425, 255);
    for (QCheckBox* box : {Check1, Check2}) box->setFont(makeFont(kPGothic, 9));

    List1 = new LogList(this);
    place(List1, "List1", 210, 2325, 5130, 2985);
    List1->setFont(makeFont(kPGothic, 9.75));

    // Right column.
    CmdClose = makeButton(this, "CmdClose", QStringLiteral("閉　じ　る"), 240);
    CmdSave = makeButton(this, "CmdSave", QStringLiteral("設定を保存"), 630);
    PingCmd = makeButton(this, "PingCmd", QStringLiteral("Pingのテスト"), 1020);
    CmdCls = makeButton(this, "CmdCls", QStringLiteral("ログのクリア"), 1410);
    CmdEnd = makeButton(this, "CmdEnd", QStringLiteral("Zorvek終了"), 1800);

    version = new QLabel(QStringLiteral("Version 1.64"), this);
    place(version, "version", 3720, 5400, 1575, 255);
    version->setFont(makeFont(kCourier, 9, true));
    version->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(version, QColor(128, 128, 128));

    // Image1 only holds the active picture; it is never shown.
    Image1 = new QLabel(this);
    place(Image1, "Image1", 2520, 0, 240, 240);
    Image1->setPixmap(activePicture_.pixmap(16, 16));
    Image1->setVisible(false);

    // Labels, the frame and the image never take the keyboard focus.
    for (QLabel* label : label1_) label->setFocusPolicy(Qt::NoFocus);
    for (QWidget* widget : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(version),
                            static_cast<QWidget*>(Image1), static_cast<QWidget*>(Frame1)}) {
        widget->setFocusPolicy(Qt::NoFocus);
    }

    // Screen readers: each field and check box is labelled by the label that
    // explains it (a buddy, which brings no shortcut since no caption has a
    // mnemonic), and every control has a name that makes sense on its own.
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleSetPing);
        return true;
    }();
    const std::array<std::pair<QLabel*, QWidget*>, 6> buddies{{{label1_[0], text1_[0]},
                                                               {label1_[1], text1_[1]},
                                                               {label1_[3], text1_[2]},
                                                               {Label2, text1_[3]},
                                                               {label1_[4], Check2},
                                                               {label1_[2], Check1}}};
    for (const auto& [label, widget] : buddies) {
        label->setBuddy(widget);
        widget->setAccessibleName(label->text());
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

    // Keyboard order of the tab indices: Text1(0), Text1(1), the unit group,
    // Text1(2), Text1(3), Check2, Check1, List1, then the five buttons.
    const std::array<QWidget*, 15> order{text1_[0], text1_[1], option1_[0], option1_[1], text1_[2],
                                         text1_[3], Check2,    Check1,      List1,       CmdClose,
                                         CmdSave,   PingCmd,   CmdCls,      CmdEnd,      text1_[0]};
    for (size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);

    // The tray menu: a popup only, so the window has no menu bar.
    mnuTRAY = new QMenu(QStringLiteral("タスクトレイに表示するメニュー"), this);
    mnuTRAY->setObjectName(QStringLiteral("mnuTRAY"));
    mnuOPEN = mnuTRAY->addAction(QStringLiteral("設定"));
    mnuOPEN->setObjectName(QStringLiteral("mnuOPEN"));
    mnuCLOSE = mnuTRAY->addAction(QStringLiteral("終了"));
    mnuCLOSE->setObjectName(QStringLiteral("mnuCLOSE"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer1->start();

    if (fieldFonts == FieldFonts::Now) applyFieldFonts();
}

void SetPing::applyFieldFonts() {
    const QFont font = fieldFont();
    for (QLineEdit* field : text1_) {
        if (!field->testAttribute(Qt::WA_SetFont)) field->setFont(font);
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
