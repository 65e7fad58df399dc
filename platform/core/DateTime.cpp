#include "DateTime.h"

#include <cmath>

namespace kp {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
} // namespace

double dateToSerial(const QDate &date) { return static_cast<double>(kEpoch.daysTo(date)); }

double timeToSerial(const QTime &time) {
    return time.isValid() ? time.msecsSinceStartOfDay() / kMsPerDay : 0.0;
}

TDateTime toSerial(const QDate &date, const QTime &time) {
    double d = dateToSerial(date);
    double t = timeToSerial(time);
    return d >= 0 ? d + t : d - t;
}

TDateTime toSerial(const QDateTime &dt) { return toSerial(dt.date(), dt.time()); }

QDateTime serialToDateTime(TDateTime v) {
    // The whole part counts days (back from the epoch when negative); the fraction is always the
    // time of day counted forward, so -1.25 is 29.12.1899 06:00.
    double whole = std::trunc(v);
    qint64 day = static_cast<qint64>(whole);
    qint64 ms = std::llround(std::fabs(v - whole) * kMsPerDay);
    if (ms >= 86400000LL) {
        day += 1;
        ms -= 86400000LL;
    }
    return QDateTime(kEpoch.addDays(day), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QDate serialToDate(TDateTime v) { return serialToDateTime(v).date(); }
QTime serialToTime(TDateTime v) { return serialToDateTime(v).time(); }

} // namespace kp
