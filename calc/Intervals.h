// The counting intervals of a run: how many there are, where each one starts and ends, and the
// bound texts the interval query compares the records' moments with. All arithmetic is 64-bit
// floating point on day numbers (days since 30.12.1899, the time of day as the fraction).
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

namespace kp::calc {

// Number of intervals of the period: the difference of the two day numbers times the intervals
// per day, rounded up without tolerance. 00:00 to 02:00 in hours is a product just above 2, so
// it gives 3; a period ending at or before its start gives 0 or less.
std::int64_t intervalCount(double periodStart, double periodEnd, double intervalsPerDay);

// The run's intervals, laid on whole multiples of the interval length counted from day 0, the
// first one beginning at or before the period start.
class IntervalGrid {
public:
    IntervalGrid(double periodStart, double intervalsPerDay);

    // Whole intervals from day 0 to the first interval.
    std::int64_t base() const { return base_; }
    double start(std::int64_t j) const;
    double end(std::int64_t j) const;

private:
    double perDay_;
    std::int64_t base_;
};

// An interval bound as the interval query writes it: at most 15 significant digits, no
// exponent, always a decimal point whatever the locale.
QString boundText(double day);

// The DateTime column: the same form with the locale's decimal separator.
QString dateTimeText(double day, const QLocale &locale);
// The DTSTR column: short date, a blank, long time; the date alone at midnight.
QString displayText(double day, const QLocale &locale);

} // namespace kp::calc
