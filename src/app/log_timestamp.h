// SPDX-License-Identifier: MIT
// The time stamp of the log: the locale's short date and the time with
// seconds, exactly as QLocale writes them, made cheaply enough for a probe
// every second. The locale's formats are read once; the date text is made
// once a day; a time format of hours, minutes, seconds and separators (most
// locales') is filled in here instead of by QLocale; the local time comes
// from localtime_r(), with the time zone looked at again once a minute
// instead of at every stamp.
#pragma once

#include <QLocale>
#include <QString>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace zorvek::app {

class LogTimestamp {
public:
    explicit LogTimestamp(const QLocale& locale = QLocale::system());

    // The stamp for the local time now (UTF-8).
    std::string now();
    // The stamp for the broken-down local time `t` (UTF-8).
    std::string format(const std::tm& t);

    // The locale's short time format with seconds added after the minutes
    // (or "HH:mm:ss" if it has no minutes either).
    static QString timeFormatWithSeconds(const QLocale& locale);

private:
    // One piece of a time format filled in here: literal text, or an hour,
    // minute or second field of one or two digits (one: no leading zero).
    struct Piece {
        enum Kind { Text, Hour, Minute, Second } kind;
        int width;
        std::string text;
    };
    bool parseTimeFormat();

    QLocale locale_;
    QString timeFormat_;
    // Empty when the format holds anything else (AM/PM, zone, quotes) or the
    // locale writes other digits than ASCII: QLocale then writes the time.
    std::vector<Piece> pieces_;
    int dateKey_ = -1;  // year and day of the year of dateText_
    std::string dateText_;
    std::chrono::steady_clock::time_point nextZoneCheck_{};
};

}  // namespace zorvek::app
