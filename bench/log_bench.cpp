// SPDX-License-Identifier: MIT
// The cost of one probe-and-report with logging on, as the log list grows: the
// program's own test-button path (time stamp line, waiting events, the call of
// a companion library that answers at once, result line) plus the event-loop
// turn that lays out and paints the list. Measured at 10, 1,000 and 10,000
// lines, window hidden and shown, and printed as ratios to the 10-line cost;
// the list is never trimmed, so appending must not slow down (goal: ratios of
// at most 1.5).
//
// usage: bench_log [SAMPLES]   (needs a display for the shown window; exits 1
// if a ratio misses the goal)
#include <QApplication>
#include <QListWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/program.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGoal = 1.5;
constexpr int kSizes[] = {10, 1000, 10000};

struct QuietShell : zorvek::Shell {
    void notify(uint32_t, const zorvek::TrayIconRecord&) override {}
};

// Brings the list back to `lines` lines of the kind the log holds.
void fillTo(QListWidget* list, int lines) {
    if (list->count() > lines) list->model()->removeRows(lines, list->count() - lines);
    for (int i = list->count(); i < lines; ++i) {
        list->addItem(
            i % 2 == 0 ? QStringLiteral("2026/12/07 23:30:%1").arg(i % 60, 2, 10, QLatin1Char('0'))
                       : QStringLiteral("--------------------成功しました(0)"));
    }
    QCoreApplication::processEvents();
}

// The median cost in milliseconds of one probe-and-report at `lines` lines.
double medianMs(zorvek::Program& program, int lines, int samples) {
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        fillTo(program.window().List1, lines);
        const auto t0 = Clock::now();
        program.probeNow();
        QCoreApplication::processEvents();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::nth_element(ms.begin(), ms.begin() + samples / 2, ms.end());
    return ms[static_cast<size_t>(samples / 2)];
}

bool report(const char* state, zorvek::Program& program, int samples) {
    double costs[std::size(kSizes)];
    for (size_t i = 0; i < std::size(kSizes); ++i) costs[i] = medianMs(program, kSizes[i], samples);
    bool met = true;
    std::printf("log append, window %s:", state);
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        const double ratio = costs[i] / costs[0];
        met = met && ratio <= kGoal;
        std::printf(" %d lines %.3f ms (%.2f)%s", kSizes[i], costs[i], ratio,
                    i + 1 < std::size(kSizes) ? "," : "");
    }
    std::printf("  [goal: ratios <= %.1f]\n", kGoal);
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;

    QuietShell shell;
    zorvek::Program::Options options;
    options.programDir = QCoreApplication::applicationDirPath().toStdString();
    options.shell = &shell;
    options.libraryName = "ZorvekLogBench";
    zorvek::Program program(std::move(options));
    program.record() = zorvek::SettingsRecord{"bench.example", 1, "", "", 1, 0};

    bool met = report("hidden", program, samples);

    program.window().show();
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!(program.window().windowHandle() && program.window().windowHandle()->isExposed()) &&
           Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    met = report("shown", program, samples) && met;
    return met ? 0 : 1;
}
