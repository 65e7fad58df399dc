// Moments as the system stores them: a double of days since 30.12.1899 00:00 local wall time,
// the time of day as the fraction. There are no time zones anywhere.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace kp {

using TDateTime = double;

// Day number of a calendar date (30.12.1899 is 0).
double dateToSerial(const QDate &date);
// Fraction of a day for a time of day, milliseconds included.
double timeToSerial(const QTime &time);
// Date and time combined (the date's day number plus the time's fraction).
TDateTime toSerial(const QDate &date, const QTime &time);
TDateTime toSerial(const QDateTime &dt);

// The calendar date of a serial number (its whole part; negative numbers count back from 1899
// with the fraction still being the time of day, as the old platform did).
QDate serialToDate(TDateTime v);
// The time of day of a serial number, rounded to the millisecond; a fraction that rounds to a
// whole day gives 00:00:00.000 of the next day through serialToDateTime.
QTime serialToTime(TDateTime v);
QDateTime serialToDateTime(TDateTime v);

} // namespace kp
