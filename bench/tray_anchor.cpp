// SPDX-License-Identifier: MIT
// The anchors of the start-up and probing benchmarks: about the least a Qt
// tray program does before its icon is in the tray, a tray icon and a hidden
// window with a text field.
//
// With `--probe LIBRARY HOST` it also does the least a tray pinger does
// every second: a 500 ms timer whose every second tick calls Pinging(HOST)
// from LIBRARY, nothing shown, nothing logged. The probing benchmark runs it
// beside the program to tell Qt's share of the CPU time from the program's.
#include <dlfcn.h>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>

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

    QTimer timer;
    if (argc == 4 && std::strcmp(argv[1], "--probe") == 0) {
        void* library = dlopen(argv[2], RTLD_NOW);
        using PingingFn = int (*)(const char*);
        auto pinging = library ? reinterpret_cast<PingingFn>(dlsym(library, "Pinging")) : nullptr;
        if (pinging == nullptr) {
            std::fprintf(stderr, "bench_tray_anchor: no Pinging in %s\n", argv[2]);
            return 2;
        }
        const char* host = argv[3];
        QObject::connect(&timer, &QTimer::timeout, [pinging, host, tick = 0]() mutable {
            if (++tick % 2 == 0) (void)pinging(host);
        });
        timer.start(500);
    }
    return QApplication::exec();
}
