#include "PeriodBox.h"

namespace kp::results {

namespace {
std::function<QDate()> &clock() {
    static std::function<QDate()> c;
    return c;
}
} // namespace

std::optional<PeriodDates> presetDates(int item, const QDate &t) {
    const int d = t.dayOfWeek(); // Monday 1 … Sunday 7
    const int m = t.day();
    const int p = t.addDays(-m).day(); // days of the previous month
    switch (item) {
    case PresetToday:
        return PeriodDates{t, t.addDays(1)};
    case PresetThisWeek:
        return PeriodDates{t.addDays(1 - d), t.addDays(1)};
    case PresetThisMonth:
        return PeriodDates{t.addDays(1 - m), t.addDays(1)};
    case PresetYesterday:
        return PeriodDates{t.addDays(-1), t};
    case PresetPreviousWeek:
        return PeriodDates{t.addDays(-d - 6), t.addDays(1 - d)};
    case PresetPreviousMonth:
        return PeriodDates{t.addDays(1 - m - p), t.addDays(1 - m)};
    default:
        return std::nullopt;
    }
}

double intervalsPerDayForItem(int item, double current) {
    if (item < 0) return current;
    static const double perDay[] = {24, 48, 144, 288, 1440, 1, 1.0 / 7.0};
    return item < 7 ? perDay[item] : 24;
}

QDate today() { return clock() ? clock()() : QDate::currentDate(); }

void setTodayForTests(std::function<QDate()> c) { clock() = std::move(c); }

} // namespace kp::results
