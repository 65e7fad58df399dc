// The built-in demo fleet that the server offers when its data folder holds no database: three
// depots, fifteen vehicles, and door counters generated the same way every time for every day.
#pragma once

#include "monitor/FleetData.h"

#include <QByteArray>
#include <functional>

namespace kp::monitor::demo {

Fleet fleet();

// Records of one vehicle over a channel with from <= stamp <= to (day numbers), in time order.
// `progress` gets the share done (0..100) after each day and returns false to stop early.
QList<Record> records(std::int32_t device, const QString &channel, double from, double to,
                      const std::function<bool(int)> &progress = {});

// All records of one calendar day (day number `day`) of one vehicle over a channel.
QList<Record> dayRecords(std::int32_t device, const QString &channel, int day);

// Cars.ini for the demo fleet: for every vehicle, the role of each input (1 N/A, 2 entering,
// 3 leaving, 4 carried). Windows-1251 text with CRLF line ends.
QByteArray wiringIni();

} // namespace kp::monitor::demo
