#include "Statements.h"

namespace kp::calc {

QString quotedTable(const QString &path) {
    QString p = path;
    p.replace(u'\'', QStringLiteral("''"));
    return u'\'' + p + u'\'';
}

QString createResultTableSql(const QString &resultPath, const QStringList &devices) {
    QString columns;
    for (const QString &n : devices)
        columns += QStringLiteral(", IN") + n + QStringLiteral(" VARCHAR(10), OUT") + n +
                   QStringLiteral(" VARCHAR(10)");
    return QStringLiteral("CREATE TABLE ") + quotedTable(resultPath) +
           QStringLiteral(" (DateTime VARCHAR(20), DTSTR VARCHAR(20), INKolvo VARCHAR(10), "
                          "OUTKolvo VARCHAR(10) ") +
           columns + u')';
}

QString intervalMaxSql(const QString &tempPath, int input, const QString &lo, const QString &hi) {
    return QStringLiteral("SELECT MAX(COUNTER") + QString::number(input) +
           QStringLiteral(") as ValueC FROM ") + quotedTable(tempPath) +
           QStringLiteral(" WHERE (TDATETIME > '") + lo + QStringLiteral("') AND (TDATETIME < '") +
           hi + QStringLiteral("')");
}

QString insertRowSql(const QString &resultPath, int role, const QString &device,
                     const QString &dateTime, const QString &dtStr, std::int64_t in,
                     std::int64_t out) {
    const QString head = QStringLiteral("INSERT INTO ") + quotedTable(resultPath);
    const QString values = QStringLiteral(" VALUES ('") + dateTime + QStringLiteral("', '") +
                           dtStr + QStringLiteral("', '");
    const QString i = QString::number(in);
    const QString o = QString::number(out);
    const QString sep = QStringLiteral("', '");
    if (role == RoleCarried)
        return head + QStringLiteral(" (DateTime, DTSTR, INKolvo, IN") + device +
               QStringLiteral(", OUTKolvo, OUT") + device + u')' + values + i + sep + i + sep + o +
               sep + o + QStringLiteral("')");
    return head + QStringLiteral(" (DateTime, DTSTR, INKolvo, OUTKolvo, IN") + device +
           QStringLiteral(", OUT") + device + u')' + values + i + sep + o + sep + i + sep + o +
           QStringLiteral("')");
}

} // namespace kp::calc
