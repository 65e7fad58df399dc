// The system's number and date texts. Each takes the locale whose decimal separator and date
// and time formats it uses, so that results do not depend on the machine's locale.
#pragma once

#include "DateTime.h"

#include <QLocale>
#include <QString>

namespace kp {

// General floating-point form: at most 15 significant digits, no exponent, no trailing zeros,
// no digit grouping, the locale's decimal separator (ru_RU: 39952.5 gives "39952,5").
QString floatToStr(double value, const QLocale &locale);

// Reads a number written by floatToStr with the same locale (either separator is accepted,
// since files may come from another machine). Returns false for anything else.
bool strToFloat(const QString &text, const QLocale &locale, double *value);

// The locale's short date format and long time format, in Qt's notation, without the time-zone
// field that Qt's long formats carry for many locales.
QString shortDateFormat(const QLocale &locale);
QString longTimeFormat(const QLocale &locale);

// Short date, a blank, long time; exactly midnight gives the date alone
// (ru_RU: "19.05.2009 12:00:00", "19.05.2009").
QString dateTimeToStr(TDateTime value, const QLocale &locale);

// "dd.mm.yyyy hh:mm:ss" with a colon as the time separator, the text the monitoring server takes.
QString formatServerDateTime(TDateTime value);

} // namespace kp
