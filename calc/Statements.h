// The statements the run sends to the local SQL layer: the creation of the result table, the
// highest counter reading of one interval, and the row of one counted interval. Every table is
// named by its full path in single quotes.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kp::calc {

// A path as a quoted table name; a quote inside the path is doubled.
QString quotedTable(const QString &path);

// CREATE TABLE of result.dbf: the four common columns, then IN<n> and OUT<n> for each device
// number n of the run, in list order.
QString createResultTableSql(const QString &resultPath, const QStringList &devices);

// The highest reading of counter `input` strictly inside (lo, hi), as the field ValueC.
QString intervalMaxSql(const QString &tempPath, int input, const QString &lo, const QString &hi);

// Input roles as Cars.ini stores them.
enum Role { RoleNone = 1, RoleEntering = 2, RoleLeaving = 3, RoleCarried = 4 };

// The row of one interval of one vehicle. For RoleEntering `in` is the count and `out` 0, for
// RoleLeaving `in` is 0 and `out` the negated count, for RoleCarried both halves (out negative).
QString insertRowSql(const QString &resultPath, int role, const QString &device,
                     const QString &dateTime, const QString &dtStr, std::int64_t in,
                     std::int64_t out);

} // namespace kp::calc
