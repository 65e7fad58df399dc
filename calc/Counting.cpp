#include "Counting.h"

#include "Statements.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Variants.h"

#include <cmath>

namespace kp::calc {

namespace {
// Nearest whole number, an exact half going to the even neighbour.
double roundHalfEven(double v) {
    const double f = std::floor(v);
    const double d = v - f;
    if (d < 0.5) return f;
    if (d > 0.5) return f + 1;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}
} // namespace

std::optional<RowCounts> InputCounter::next(const QVariant &highest) {
    if (highest.isNull() || !highest.isValid()) return std::nullopt; // no record: nothing changes
    std::int64_t count = 0;
    if (kp::isIntegerVariant(highest)) {
        // Integer division rounds toward zero; the count is an integer difference.
        const std::int64_t reading = highest.toLongLong() / 2;
        count = reading - static_cast<std::int64_t>(carried_);
        carried_ = static_cast<double>(reading);
    } else {
        bool ok = false;
        const double value = highest.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            throw kp::EDatabaseError(QStringLiteral("Значение счетчика не является числом: ") +
                                     highest.toString());
        const double reading = value / 2.0;
        count = static_cast<std::int64_t>(roundHalfEven(reading - carried_));
        carried_ = roundHalfEven(reading);
    }
    if (count <= 0) return std::nullopt; // no rise, or the unit's counter restarted
    return rowFor(count);
}

std::optional<RowCounts> InputCounter::rowFor(std::int64_t count) {
    switch (role_) {
    case RoleEntering:
        return RowCounts{count, 0};
    case RoleLeaving:
        return RowCounts{0, -count};
    case RoleCarried: {
        // Half in, half out: an odd count is rounded up and down in turn over the run.
        std::int64_t even = count;
        if (even % 2 != 0) {
            splitSign_ = splitSign_ > 0 ? -1 : 1;
            even += splitSign_;
        }
        if (even <= 0) return std::nullopt;
        return RowCounts{even / 2, -(even / 2)};
    }
    default:
        return std::nullopt; // exported and queried, but an unknown role writes nothing
    }
}

} // namespace kp::calc
