#include "Intervals.h"

#include "platform/core/Formats.h"

#include <cmath>
#include <limits>

namespace kp::calc {

namespace {
std::int64_t clampToInt64(double v) {
    // Far beyond any period the date pickers can hold; keeps the conversion defined.
    constexpr double kLimit = 9.0e18;
    if (std::isnan(v)) return 0;
    if (v > kLimit) return static_cast<std::int64_t>(kLimit);
    if (v < -kLimit) return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(v);
}
} // namespace

std::int64_t intervalCount(double periodStart, double periodEnd, double intervalsPerDay) {
    const double difference = periodEnd - periodStart;
    const double product = difference * intervalsPerDay;
    return clampToInt64(std::ceil(product));
}

IntervalGrid::IntervalGrid(double periodStart, double intervalsPerDay)
    : perDay_(intervalsPerDay), base_(clampToInt64(std::floor(periodStart * intervalsPerDay))) {
    // The product of a moment on a whole interval and the intervals per day can come out a hair
    // below the whole number (one-minute intervals at many minutes of the day), which would lay
    // every interval one length too early and drop the last part of the period. The first
    // interval must contain the period start: move the base by one where it does not.
    if (start(1) <= periodStart)
        ++base_;
    else if (start(0) > periodStart)
        --base_;
}

double IntervalGrid::start(std::int64_t j) const {
    return static_cast<double>(base_ + j) / perDay_;
}

double IntervalGrid::end(std::int64_t j) const {
    const double length = 1.0 / perDay_;
    return start(j) + length;
}

QString boundText(double day) { return kp::floatToStr(day, QLocale::c()); }

QString dateTimeText(double day, const QLocale &locale) { return kp::floatToStr(day, locale); }

QString displayText(double day, const QLocale &locale) { return kp::dateTimeToStr(day, locale); }

} // namespace kp::calc
