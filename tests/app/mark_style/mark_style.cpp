// SPDX-License-Identifier: MIT
// A style plugin a user could write: as soon as Qt loads it, it creates the
// file named by ZORVEK_PLUGIN_MARK, so a test can tell whether a program ran
// code from the user's plugin folder.
#include <QStylePlugin>
#include <cstdio>
#include <cstdlib>

namespace {

// Runs when the library is loaded, before Qt asks it for a style.
[[gnu::constructor]] void leaveMark() {
    if (const char* mark = std::getenv("ZORVEK_PLUGIN_MARK")) {
        if (std::FILE* file = std::fopen(mark, "w")) std::fclose(file);
    }
}

}  // namespace

class MarkStylePlugin : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "mark_style.json")
public:
    QStyle* create(const QString&) override { return nullptr; }
};

#include "mark_style.moc"
