// SPDX-License-Identifier: MIT
// The log list as it grows.
//
// Append cost: one probe-and-report with logging on, the program's own
// test-button path (time stamp line, waiting events, the call of a companion
// library that answers at once, result line) plus the event-loop turn that
// lays out and paints the list, at 10, 1,000, 10,000 and 100,000 lines, window
// hidden and shown, as ratios to the 10-line cost (goal: at most 1.5). The
// 100,000 figure starts two lines short of the limit, so its two lines fill the
// list exactly; "past the limit" is the mean of 1,000 probes on a full list,
// each 500th of which drops the oldest block of lines, against the mean of as
// many at 10 lines.
//
// Memory: heap bytes per line of a hidden list of 100,000 log lines, against a
// QStringListModel holding the same lines (goal: at most 128 bytes), measured
// as mallinfo2() deltas in this process.
//
// usage: bench_log [SAMPLES]   (needs a display for the shown window; exits 1
// if a figure misses its goal)
#include <malloc.h>

#include <QApplication>
#include <QStringListModel>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/program.h"
#include "app/window_pictures.h"
#include "ui/log_list.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGoal = 1.5;
constexpr double kBytesGoal = 128;
constexpr int kSizes[] = {10, 1000, 10000, 100000};
constexpr int kPastLimitProbes = 1000;

struct QuietShell : zorvek::tray::Shell {
    void notify(uint32_t, const zorvek::tray::TrayIconRecord&) override {}
};

// Line `i` of the kind the log holds: a time stamp, then a result line, each
// text made afresh on the heap as the program's are.
QString logLine(int i) {
    return i % 2 == 0
               ? QStringLiteral("2026/12/07 23:30:%1").arg(i / 2 % 60, 2, 10, QLatin1Char('0'))
               : QString::fromUtf8("--------------------成功しました(0)");
}

// Brings the list back to `lines` lines of the kind the log holds.
void fillTo(zorvek::ui::LogList* list, int lines) {
    if (list->count() > lines) list->model()->removeRows(lines, list->count() - lines);
    for (int i = list->count(); i < lines; ++i) list->appendLine(logLine(i));
    QCoreApplication::processEvents();
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// One probe-and-report and the event-loop turn after it, in milliseconds.
double probeMs(zorvek::app::Program& program) {
    const auto t0 = Clock::now();
    program.probeNow();
    QCoreApplication::processEvents();
    return msSince(t0);
}

// The cost of `samples` probes-and-reports each ending at `lines` lines.
std::vector<double> costsMs(zorvek::app::Program& program, int lines, int samples) {
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        fillTo(program.window().List1, lines - 2);
        ms.push_back(probeMs(program));
    }
    return ms;
}

double median(std::vector<double> ms) {
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

double mean(const std::vector<double>& ms) {
    double total = 0;
    for (double m : ms) total += m;
    return total / static_cast<double>(ms.size());
}

// The mean cost of kPastLimitProbes probes-and-reports on a full list.
double pastLimitMeanMs(zorvek::app::Program& program) {
    fillTo(program.window().List1, zorvek::ui::LogLines::kMostLines);
    std::vector<double> ms;
    for (int i = 0; i < kPastLimitProbes; ++i) ms.push_back(probeMs(program));
    return mean(ms);
}

void figure(const char* what, double value, const char* unit, const char* anchor,
            double anchorValue, double goal) {
    std::printf("figure: %s | zorvek %.3f %s | %s %.3f %s | ratio %.2fx | goal <= %.2fx\n", what,
                value, unit, anchor, anchorValue, unit, value / anchorValue, goal);
}

bool report(const char* state, zorvek::app::Program& program, int samples) {
    double costs[std::size(kSizes)];
    for (size_t i = 0; i < std::size(kSizes); ++i)
        costs[i] = median(costsMs(program, kSizes[i], samples));
    const double shortMean = mean(costsMs(program, kSizes[0], kPastLimitProbes));
    const double pastLimit = pastLimitMeanMs(program);
    bool met = pastLimit / shortMean <= kGoal;
    char what[96];
    for (size_t i = 1; i < std::size(kSizes); ++i) {
        met = met && costs[i] / costs[0] <= kGoal;
        std::snprintf(what, sizeof what, "log append at %d lines, window %s", kSizes[i], state);
        figure(what, costs[i], "ms", "10 lines", costs[0], kGoal);
    }
    std::snprintf(what, sizeof what, "log append past the limit (mean), window %s", state);
    figure(what, pastLimit, "ms", "10 lines (mean)", shortMean, kGoal);
    return met;
}

// The heap in use, also the large blocks malloc maps on their own.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes per line of a hidden log list and of a QStringListModel holding
// the same kMostLines lines.
bool reportBytesPerLine() {
    constexpr int lines = zorvek::ui::LogLines::kMostLines;
    double listBytes = 0;
    {
        zorvek::ui::LogList list;
        // The first line loads the font that measures every line: not a cost per line.
        list.appendLine(logLine(0));
        list.clear();
        const size_t before = heapInUse();
        for (int i = 0; i < lines; ++i) list.appendLine(logLine(i));
        listBytes = static_cast<double>(heapInUse() - before) / lines;
    }
    double modelBytes = 0;
    {
        QStringListModel model;
        const size_t before = heapInUse();
        {
            QStringList texts;
            for (int i = 0; i < lines; ++i) texts.append(logLine(i));
            model.setStringList(texts);
        }
        modelBytes = static_cast<double>(heapInUse() - before) / lines;
    }
    std::printf(
        "figure: bytes per log line at %d lines | zorvek %.1f B | QStringListModel %.1f B | "
        "ratio %.2fx | goal <= %.0f B\n",
        lines, listBytes, modelBytes, listBytes / modelBytes, kBytesGoal);
    return listBytes <= kBytesGoal;
}

}  // namespace

int main(int argc, char** argv) {
    // As the program does before its QApplication.
    zorvek::app::sendWindowPicturesOnTheConnection();
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;

    bool met = reportBytesPerLine();

    QuietShell shell;
    zorvek::app::Program::Options options;
    options.programDir = QCoreApplication::applicationDirPath().toStdString();
    options.shell = &shell;
    options.libraryName = "ZorvekLogBench";
    zorvek::app::Program program(std::move(options));
    program.record() = zorvek::settings::SettingsRecord{"bench.example", 1, "", "", 1, 0};

    met = report("hidden", program, samples) && met;

    // A list that grew hidden is measured when it is first shown.
    fillTo(program.window().List1, zorvek::ui::LogLines::kMostLines);
    const auto t0 = Clock::now();
    program.window().show();
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!(program.window().windowHandle() && program.window().windowHandle()->isExposed()) &&
           Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    std::printf("showing the window with %d log lines appended while hidden: %.1f ms\n",
                zorvek::ui::LogLines::kMostLines, msSince(t0));
    met = report("shown", program, samples) && met;
    return met ? 0 : 1;
}
