#include "Formats.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kp {

namespace {

// Digits of |value| in plain positional form with at most 15 significant digits.
std::string plainDigits(double value) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string s(buf, r.ptr);
    if (s.find('e') == std::string::npos) return s;
    // Very small or very large: spell the 15 significant digits out positionally.
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    std::string sci(buf, r.ptr);
    bool negative = sci[0] == '-';
    if (negative) sci.erase(0, 1);
    auto e = sci.find('e');
    int exp10 = std::stoi(sci.substr(e + 1));
    std::string digits = sci.substr(0, 1) + sci.substr(2, e - 2);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out;
    int point = exp10 + 1; // digits before the decimal point
    if (point <= 0) {
        out = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    } else if (point >= static_cast<int>(digits.size())) {
        out = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
    } else {
        out = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
    }
    return negative ? "-" + out : out;
}

QString withoutZoneField(QString fmt) {
    // Remove every unquoted 't' run together with the blanks around it.
    QString out;
    bool quoted = false;
    for (int i = 0; i < fmt.size(); ++i) {
        QChar c = fmt[i];
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        out += c;
    }
    return out.simplified();
}

} // namespace

QString floatToStr(double value, const QLocale &locale) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0) return QStringLiteral("0");
    QString s = QString::fromStdString(plainDigits(value));
    return s.replace(QStringLiteral("."), locale.decimalPoint());
}

bool strToFloat(const QString &text, const QLocale &locale, double *value) {
    QString t = text.trimmed();
    t.replace(locale.decimalPoint(), QStringLiteral("."));
    t.replace(u',', u'.');
    std::string s = t.toStdString();
    if (s.empty()) return false;
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    *value = v;
    return true;
}

QString shortDateFormat(const QLocale &locale) { return locale.dateFormat(QLocale::ShortFormat); }

QString longTimeFormat(const QLocale &locale) {
    return withoutZoneField(locale.timeFormat(QLocale::LongFormat));
}

QString dateTimeToStr(TDateTime value, const QLocale &locale) {
    QDateTime dt = serialToDateTime(value);
    QString date = locale.toString(dt.date(), shortDateFormat(locale));
    if (dt.time().msecsSinceStartOfDay() == 0) return date;
    return date + u' ' + locale.toString(dt.time(), longTimeFormat(locale));
}

QString formatServerDateTime(TDateTime value) {
    QDateTime dt = serialToDateTime(value);
    return QLocale::c().toString(dt, QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace kp
