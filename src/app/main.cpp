#include <QApplication>

#include "ui/set_ping.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvek::ui::SetPing window;
    window.show();
    return app.exec();
}
