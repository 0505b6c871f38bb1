// SPDX-License-Identifier: MIT
// The anchor of the start-up benchmark: about the least a Qt tray program
// does before its icon is in the tray, a tray icon and a hidden window with
// a text field.
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QWidget window;
    auto* field = new QLineEdit(&window);
    field->setGeometry(8, 8, 200, 22);
    QPixmap picture(16, 16);
    picture.fill(Qt::magenta);
    QSystemTrayIcon icon{QIcon(picture)};
    icon.show();
    return QApplication::exec();
}
