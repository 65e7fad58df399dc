#include "ResultStatements.h"

#include "calc/Statements.h"

namespace kp::results {

namespace {
QString from(const QString &r) { return QStringLiteral(" FROM ") + kp::calc::quotedTable(r); }

QString tail(const QString &r) {
    return from(r) + QStringLiteral(" GROUP BY DateTime, DTSTR ORDER BY DateTime");
}

QString sumIn(const QString &n) {
    return QStringLiteral("SUM(CAST(IN") + n + QStringLiteral(" as integer))");
}

// The chart keeps the leaving passengers negative (bars below the axis); the grid negates them.
QString chartColumns(const QStringList &devices) {
    QString c;
    for (const QString &n : devices)
        c += QStringLiteral(", ") + sumIn(n) + QStringLiteral(" as IN") + n +
             QStringLiteral(", SUM(CAST(OUT") + n + QStringLiteral(" as integer)) as OUT") + n;
    return c;
}

QString gridColumnsSql(const QStringList &devices, DisplayMode mode) {
    QString g;
    for (const QString &n : devices) {
        const QString outNegated =
            QStringLiteral("SUM(-CAST(OUT") + n + QStringLiteral(" as integer))");
        if (mode == DisplayMode::InOut)
            g += QStringLiteral(", ") + sumIn(n) + QStringLiteral(" as IN") + n +
                 QStringLiteral(", ") + outNegated + QStringLiteral(" as OUT") + n;
        else
            g += QStringLiteral(", ") + sumIn(n) + QStringLiteral(" + ") + outNegated +
                 QStringLiteral(" as IN") + n + QStringLiteral(", ") + outNegated +
                 QStringLiteral(" as OUT") + n;
    }
    return g;
}

const QString kSelectIn =
    QStringLiteral("SELECT DateTime, DTSTR, SUM(CAST(INKolvo as integer)) as INKolvo, ");
} // namespace

QString rowCountSql(const QString &r) {
    return QStringLiteral("SELECT COUNT(*) as count1") + from(r);
}

QString totalsSql(const QString &r) {
    return QStringLiteral("SELECT SUM(CAST(INKolvo as integer)) as INKolvo, "
                          "SUM(CAST(OUTKolvo as integer)) as OUTKolvo") +
           from(r);
}

QString chartSql(const QString &r, const QStringList &devices, DisplayMode mode) {
    const QString out = mode == DisplayMode::InOut
                            ? QStringLiteral("SUM(CAST(OUTKolvo as integer)) as OUTKolvo ")
                            : QStringLiteral("0 as OUTKolvo ");
    return kSelectIn + out + chartColumns(devices) + tail(r);
}

QString gridSql(const QString &r, const QStringList &devices, DisplayMode mode) {
    const QString out = mode == DisplayMode::InOut
                            ? QStringLiteral("SUM(-CAST(OUTKolvo as integer)) as OUTKolvo ")
                            : QStringLiteral("0 as OUTKolvo ");
    return kSelectIn + out + gridColumnsSql(devices, mode) + tail(r);
}

QList<GridColumn> gridColumns(const QStringList &devices, DisplayMode mode) {
    QList<GridColumn> cols;
    cols.append({QStringLiteral("DTSTR"), QStringLiteral("Время")});
    if (mode == DisplayMode::InOut) {
        cols.append({QStringLiteral("INKolvo"), QStringLiteral("Кол-во вход.")});
        cols.append({QStringLiteral("OUTKolvo"), QStringLiteral("Кол-во выход.")});
        for (const QString &n : devices) {
            cols.append({QStringLiteral("IN") + n, n + QStringLiteral("(вход.)")});
            cols.append({QStringLiteral("OUT") + n, n + QStringLiteral("(выход.)")});
        }
    } else {
        cols.append({QStringLiteral("INKolvo"), QStringLiteral("Кол-во перевез.")});
        for (const QString &n : devices)
            cols.append({QStringLiteral("IN") + n, n + QStringLiteral("(перевез.)")});
    }
    return cols;
}

TotalsView totalsView(DisplayMode mode, const QVariant &inSum, const QVariant &outSum) {
    if (mode == DisplayMode::Sum)
        return {QStringLiteral("Перевезенных:"), inSum.isNull() ? QString() : inSum.toString(),
                QString(), false};
    // A sum over no values is null and shows as 0, as a whole-number reading of it does.
    const qlonglong in = inSum.isNull() ? 0 : inSum.toLongLong();
    const qlonglong out = outSum.isNull() ? 0 : outSum.toLongLong();
    return {QStringLiteral("Входящих:"), QString::number(in), QString::number(-out), true};
}

} // namespace kp::results
