// Passengers of one counted input, interval by interval: a reading is half the highest counter
// value of the interval (each passenger gives two pulses), and the rise of the reading over the
// last interval with data is the interval's count.
#pragma once

#include <QVariant>
#include <cstdint>
#include <optional>

namespace kp::calc {

// What one interval writes: passengers in (>= 0) and out (<= 0).
struct RowCounts {
    std::int64_t in = 0;
    std::int64_t out = 0;
    bool operator==(const RowCounts &) const = default;
};

class InputCounter {
public:
    // `splitSign` is the run's alternation state for odd carried counts, shared by all
    // vehicles and inputs of the run; it starts at 0.
    InputCounter(int role, int &splitSign) : role_(role), splitSign_(splitSign) {}

    // Takes the highest counter value of the next interval (null when the interval has no
    // record) and returns the row to write, if any. A value that is not a number raises
    // kp::EDatabaseError.
    std::optional<RowCounts> next(const QVariant &highest);

    // The reading of the last interval that had data (0 before the first).
    double carried() const { return carried_; }

private:
    std::optional<RowCounts> rowFor(std::int64_t count);

    int role_;
    int &splitSign_;
    double carried_ = 0;
};

} // namespace kp::calc
