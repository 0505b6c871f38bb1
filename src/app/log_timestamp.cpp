// SPDX-License-Identifier: MIT
#include "app/log_timestamp.h"

#include <time.h>
#include <QDate>
#include <QTime>
#include <algorithm>

namespace zorvek::app {
namespace {

// How often the time zone is looked at again (tzset() checks the TZ
// variable and whether /etc/localtime has changed): a changed zone or
// daylight saving rule shows in the stamps within this time.
constexpr std::chrono::minutes kZoneCheck{1};

void appendNumber(std::string& out, int value, int width) {
    if (width == 2 && value < 10) out += '0';
    out += std::to_string(value);
}

}  // namespace

LogTimestamp::LogTimestamp(const QLocale& locale)
    : locale_(locale), timeFormat_(timeFormatWithSeconds(locale)) {
    if (!parseTimeFormat()) pieces_.clear();
}

QString LogTimestamp::timeFormatWithSeconds(const QLocale& locale) {
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    if (!timeFormat.contains(QLatin1Char('s'))) {
        const qsizetype minutes = timeFormat.lastIndexOf(QLatin1String("mm"));
        if (minutes >= 0)
            timeFormat.insert(minutes + 2, QLatin1String(":ss"));
        else
            timeFormat = QStringLiteral("HH:mm:ss");
    }
    return timeFormat;
}

// Splits the format the way QLocale reads it: a run of one field letter is
// taken two at a time ("HHH" is "HH" then "H"); any other character that is
// not a letter or a quote stands for itself. 'h' is the 24-hour clock here,
// as the format has no AM/PM field.
bool LogTimestamp::parseTimeFormat() {
    if (locale_.zeroDigit() != QLatin1String("0")) return false;
    const QString& f = timeFormat_;
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f[i];
        Piece::Kind kind;
        if (c == QLatin1Char('H') || c == QLatin1Char('h')) {
            kind = Piece::Hour;
        } else if (c == QLatin1Char('m')) {
            kind = Piece::Minute;
        } else if (c == QLatin1Char('s')) {
            kind = Piece::Second;
        } else if (c.isLetter() || c == QLatin1Char('\'')) {
            return false;
        } else {
            qsizetype end = i + 1;
            while (end < f.size() && !f[end].isLetter() && f[end] != QLatin1Char('\'')) ++end;
            pieces_.push_back({Piece::Text, 0, f.mid(i, end - i).toStdString()});
            i = end;
            continue;
        }
        qsizetype run = 1;
        while (i + run < f.size() && f[i + run] == c) ++run;
        i += run;
        for (; run > 0; run -= 2) pieces_.push_back({kind, run >= 2 ? 2 : 1, {}});
    }
    return true;
}

std::string LogTimestamp::now() {
    const auto monotonic = std::chrono::steady_clock::now();
    if (monotonic >= nextZoneCheck_) {
        ::tzset();
        nextZoneCheck_ = monotonic + kZoneCheck;
    }
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    std::tm local{};
    ::localtime_r(&wall.tv_sec, &local);
    return format(local);
}

std::string LogTimestamp::format(const std::tm& t) {
    const int year = t.tm_year + 1900;
    const int dateKey = year * 400 + t.tm_yday;
    if (dateKey != dateKey_) {
        dateText_ = locale_.toString(QDate(year, t.tm_mon + 1, t.tm_mday), QLocale::ShortFormat)
                        .toStdString();
        dateKey_ = dateKey;
    }
    // A leap second is written as the last second of its minute, as
    // QDateTime, which has none, would.
    const int second = std::min(t.tm_sec, 59);
    std::string out = dateText_;
    out += ' ';
    if (pieces_.empty()) {
        out += locale_.toString(QTime(t.tm_hour, t.tm_min, second), timeFormat_).toStdString();
        return out;
    }
    for (const Piece& piece : pieces_) {
        switch (piece.kind) {
            case Piece::Text: out += piece.text; break;
            case Piece::Hour: appendNumber(out, t.tm_hour, piece.width); break;
            case Piece::Minute: appendNumber(out, t.tm_min, piece.width); break;
            case Piece::Second: appendNumber(out, second, piece.width); break;
        }
    }
    return out;
}

}  // namespace zorvek::app
