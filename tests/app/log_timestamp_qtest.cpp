// SPDX-License-Identifier: MIT
// The log's time stamp is written byte for byte as QLocale writes the short
// date and the short time with seconds, in locales whose time formats are
// filled in by the stamp itself and in ones left to QLocale (AM/PM, other
// digits), at the first and last second of a day and a leap second.
#include <QtTest>

#include <ctime>

#include "app/log_timestamp.h"

using namespace zorvek;
using namespace zorvek::app;

class LogTimestampTest : public QObject {
    Q_OBJECT
private slots:
    void isWhatQLocaleWrites() {
        const char* const locales[] = {"ja_JP", "C",     "de_DE", "fi_FI", "en_US", "ko_KR",
                                       "zh_CN", "ar_EG", "fa_IR", "hi_IN", "bg_BG", "sq_AL"};
        const int times[][6] = {{2026, 12, 7, 0, 0, 0},
                                {2026, 12, 7, 9, 5, 7},
                                {1999, 1, 31, 23, 59, 59},
                                {2016, 12, 31, 23, 59, 60}};
        for (const char* name : locales) {
            const QLocale locale(QString::fromLatin1(name));
            LogTimestamp stamp(locale);
            for (const auto& v : times) {
                std::tm t{};
                t.tm_year = v[0] - 1900;
                t.tm_mon = v[1] - 1;
                t.tm_mday = v[2];
                t.tm_hour = v[3];
                t.tm_min = v[4];
                const std::time_t when = timegm(&t);  // fills in the day of the year
                gmtime_r(&when, &t);
                t.tm_sec = v[5];
                const QString expected =
                    locale.toString(QDate(v[0], v[1], v[2]), QLocale::ShortFormat) +
                    QLatin1Char(' ') +
                    locale.toString(QTime(v[3], v[4], std::min(v[5], 59)),
                                    LogTimestamp::timeFormatWithSeconds(locale));
                QCOMPARE(QString::fromStdString(stamp.format(t)), expected);
            }
        }
    }
};

QTEST_GUILESS_MAIN(LogTimestampTest)
#include "log_timestamp_qtest.moc"
