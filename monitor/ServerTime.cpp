#include "monitor/ServerTime.h"

#include "platform/core/DateTime.h"

#include <QDate>
#include <QTime>

namespace kp::monitor {

namespace {
bool digits(const QString &t, int at, int n, int *value) {
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const QChar c = t.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        v = v * 10 + (c.unicode() - '0');
    }
    *value = v;
    return true;
}
bool nonDigit(QChar c) { return !c.isDigit(); }
} // namespace

std::optional<double> parseServerTime(const QString &text) {
    // 0123456789012345678
    // dd.mm.yyyy hh:mm:ss
    if (text.size() != 19) return std::nullopt;
    int d, m, y, hh, mm, ss;
    if (!digits(text, 0, 2, &d) || text.at(2) != QLatin1Char('.') || !digits(text, 3, 2, &m) ||
        text.at(5) != QLatin1Char('.') || !digits(text, 6, 4, &y) ||
        text.at(10) != QLatin1Char(' ') || !digits(text, 11, 2, &hh) || !nonDigit(text.at(13)) ||
        !digits(text, 14, 2, &mm) || !nonDigit(text.at(16)) || !digits(text, 17, 2, &ss))
        return std::nullopt;
    const QDate date(y, m, d);
    const QTime time(hh, mm, ss);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return kp::toSerial(date, time);
}

} // namespace kp::monitor
