// The server's export of a trip's counter list: a complete dBASE table with TDATETIME and two
// counter columns, written through a temporary file and a rename.
#pragma once

#include "monitor/FleetData.h"

#include "platform/core/Exceptions.h"

#include <QString>

namespace kp::monitor {

struct ExportStyle {
    bool realCounters = false; // counters with decimals (a server that sends them as reals)
    bool truncated = false;    // a testing aid: the table loses its second half after writing
};

// Writes TDATETIME (numeric with 12 decimals: a day number reads back exactly) and
// COUNTER<firstInput>, COUNTER<firstInput + 1>, one row per record. Returns S_OK, or a failure
// code with `error` saying why; on failure nothing is left at `path` by this call.
kp::HResult writeCounterTable(const QString &path, const QList<Record> &trip, int firstInput,
                              const ExportStyle &style, QString *error);

} // namespace kp::monitor
