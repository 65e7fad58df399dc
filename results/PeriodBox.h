// The box "Выбор периода": the period presets, the intervals per day of each interval item, and
// the data source word. Plain functions, so that the window's handlers stay thin.
#pragma once

#include <QDate>
#include <QString>
#include <functional>
#include <optional>

namespace kp::results {

// The items of the preset list, in list order.
enum Preset {
    PresetCustom = 0,    // "Произвольный"
    PresetToday,         // "С начала суток"
    PresetThisWeek,      // "С начала недели"
    PresetThisMonth,     // "С начала месяца"
    PresetYesterday,     // "За предыдущие сутки"
    PresetPreviousWeek,  // "За предыдущюю неделю"
    PresetPreviousMonth, // "За предыдущий месяц"
};

struct PeriodDates {
    QDate begin;
    QDate end; // the period ends at midnight at the start of this day
    bool operator==(const PeriodDates &) const = default;
};

// The dates a preset sets from today's date; none for "Произвольный" (and for an unknown item),
// which leaves the dates as they are. Weeks begin on Monday.
std::optional<PeriodDates> presetDates(int item, const QDate &today);

// Intervals per day of the interval list's item: 24, 48, 144, 288, 1440, 1, 1/7; 24 for any
// other index; `current` when no item is chosen (index -1).
double intervalsPerDayForItem(int item, double current);

// The data source the server is asked for.
inline QString dataSource(bool gsmSelected) {
    return gsmSelected ? QStringLiteral("GSM") : QStringLiteral("USB");
}

// Today's local date, read when a preset is picked. Tests fix it; an empty function restores
// the system clock.
QDate today();
void setTodayForTests(std::function<QDate()> clock);

} // namespace kp::results
