// SPDX-License-Identifier: MIT
// Letting go of unchanged file pages: only read-only file mappings without a
// copied page are chosen from smaps, and after the release this process's own
// relocated constants (pages of a read-only mapping that were written once at
// load) still hold their values while its code and libraries run on.
#include <QtTest>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "app/resident_pages.h"

using namespace zorvek::app;

namespace {

// A pointer the loader writes at start-up into a page it then makes
// read-only: dropped and read back from the file, it would no longer point
// at its text.
const char* const kRelocated = "unchanged after the release";

std::string ownSmaps() {
    std::ifstream file("/proc/self/smaps", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::size_t residentKilobytesOf(const std::vector<MappedRange>& ranges) {
    std::size_t kb = 0;
    const std::string smaps = ownSmaps();
    bool inRange = false;
    size_t at = 0;
    while (at < smaps.size()) {
        const size_t end = std::min(smaps.find('\n', at), smaps.size());
        const std::string line = smaps.substr(at, end - at);
        at = end + 1;
        unsigned long begin = 0;
        unsigned long stop = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &stop) == 2 &&
            line.find(':') > line.find(' ')) {
            inRange = false;
            for (const MappedRange& r : ranges)
                if (r.begin == begin && r.end == stop) inRange = true;
        } else if (inRange && line.rfind("Rss:", 0) == 0) {
            kb += std::strtoul(line.c_str() + 4, nullptr, 10);
        }
    }
    return kb;
}

}  // namespace

class ResidentPagesTest : public QObject {
    Q_OBJECT
private slots:
    void choosesOnlyReadOnlyFileMappingsWithoutCopiedPages() {
        // Each mapping: header, Rss, Anonymous (or none), VmFlags.
        struct Case {
            const char* header;
            int rss;
            int anonymous;  // -1: no Anonymous line
            const char* flags;
            bool chosen;
        };
        const Case cases[] = {
            {"1000-3000 r-xp 00000000 fe:01 11 /usr/lib/libA.so", 8, 0, "rd ex mr mw me", true},
            {"3000-4000 r--p 00002000 fe:01 11 /usr/lib/libA.so", 4, 0, "rd mr mw me", true},
            {"4000-5000 r--p 00003000 fe:01 11 /usr/lib/libA.so", 4, 4, "rd mr mw me ac", false},
            {"5000-6000 rw-p 00004000 fe:01 11 /usr/lib/libA.so", 4, 0, "rd wr mr mw me", false},
            {"6000-7000 r--p 00000000 00:00 0 ", 4, 0, "rd mr mw me", false},
            {"7000-8000 r-xp 00000000 00:00 0 [vdso]", 4, 0, "rd ex mr mw me", false},
            {"8000-9000 r--s 00000000 00:05 12 /dev/dri/card0", 4, 0, "rd sh mr mw me", false},
            {"9000-a000 r--p 00000000 00:01 13 /memfd:keymap (deleted)", 4, 0, "rd mr", false},
            {"a000-b000 r--p 00000000 fe:01 14 /usr/share/fonts/a font.ttf", 4, 0, "rd mr", true},
            {"b000-c000 r--p 00000000 fe:01 15 /usr/lib/libB.so", 0, 0, "rd mr mw me", false},
            {"c000-d000 r-xp 00000000 fe:01 16 /usr/lib/libC.so", 4, 0, "rd ex mr lo", false},
            {"d000-e000 r--p 00000000 fe:01 17 /usr/lib/libD.so", 4, -1, "rd mr mw me", false},
            {"e000-f000 r--s 00000000 fe:01 18 /dev/shm/x", 4, 0, "rd sh mr io pf", false},
            {"f000-10000 r-xp 00000000 fe:01 19 /usr/lib/libE.so", 4, 0, "rd ex mr mw me", true},
        };
        std::string smaps;
        std::vector<MappedRange> expected;
        for (const Case& c : cases) {
            smaps += std::string(c.header) +
                     "\nSize:                  4 kB\nRss:  " + std::to_string(c.rss) +
                     " kB\nPss:                   4 kB\n";
            if (c.anonymous >= 0)
                smaps += "Anonymous:      " + std::to_string(c.anonymous) + " kB\n";
            smaps += std::string("VmFlags: ") + c.flags + "\n";
            if (c.chosen) {
                MappedRange r;
                std::sscanf(c.header, "%lx-%lx", &r.begin, &r.end);
                expected.push_back(r);
            }
        }
        QCOMPARE(unchangedFileMappings(smaps), expected);
        // The last mapping needs no line after it; a damaged text chooses nothing.
        QVERIFY(unchangedFileMappings("zz-yy r-xp 0 0 1 /x\nRss: 4 kB\nAnonymous: 0 kB\n").empty());
        QVERIFY(unchangedFileMappings("").empty());
    }

    void releasesLibraryPagesAndKeepsRelocatedConstants() {
        const std::vector<MappedRange> before = unchangedFileMappings(ownSmaps());
        const std::size_t residentBefore = residentKilobytesOf(before);
        QVERIFY(residentBefore > 0);

        QVERIFY(releaseUnchangedFilePages() > 0);

        // Read through a volatile pointer, so that the value comes from the page.
        const char* const volatile* relocated = &kRelocated;
        QCOMPARE(std::strcmp(*relocated, "unchanged after the release"), 0);
        // Qt's code, its constants and this test's code come back as they run.
        QCOMPARE(QString::number(42).toStdString(), std::string("42"));
        QVERIFY2(residentKilobytesOf(before) < residentBefore / 2,
                 qPrintable(QStringLiteral("%1 kB resident before, %2 kB after")
                                .arg(residentBefore)
                                .arg(residentKilobytesOf(before))));
    }
};

QTEST_GUILESS_MAIN(ResidentPagesTest)
#include "resident_pages_qtest.moc"
