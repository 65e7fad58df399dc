// What the monitoring server knows: server groups (depots) with their vehicles, and the counter
// records of each vehicle's on-board unit. Both the built-in demo fleet and an imported fleet
// are given in these terms.
#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstdint>

namespace kp::monitor {

struct Vehicle {
    std::int32_t device = 0;
    QString model;
    QString number;
    QString route;
    QString drivers;
    QString alias;
    QString telNum;
    QString checkPointsFile;

    bool operator==(const Vehicle &) const = default;
};

struct Group {
    QString fileName; // identifies the group in later calls
    QString name;
    QString address;
    QString contacts;
    QList<Vehicle> vehicles;

    bool operator==(const Group &) const = default;
};

using Fleet = QList<Group>;

// One record of a unit: when (a day number), and the pulse counters of inputs 1 to 4.
struct Record {
    double stamp = 0;
    std::array<std::int64_t, 4> counters{};

    bool operator==(const Record &) const = default;
};

// Channels over which a unit's records reach the server.
inline bool isChannel(const QString &c) {
    return c == QLatin1String("GSM") || c == QLatin1String("USB");
}

} // namespace kp::monitor
