// The statements and the layout of the result display: the row count, the totals, the chart
// and grid queries grouped by interval, the grid's columns and the totals' texts, for the two
// display modes. Plain text builders; the window runs them and binds the results.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace kp::results {

enum class DisplayMode {
    InOut, // "Вход./Выход."
    Sum,   // "Перевезенные"
};

QString rowCountSql(const QString &resultPath);
QString totalsSql(const QString &resultPath);
// `devices` are the device numbers of the run, in list order.
QString chartSql(const QString &resultPath, const QStringList &devices, DisplayMode mode);
QString gridSql(const QString &resultPath, const QStringList &devices, DisplayMode mode);

struct GridColumn {
    QString field;
    QString title;
    bool operator==(const GridColumn &) const = default;
};
QList<GridColumn> gridColumns(const QStringList &devices, DisplayMode mode);

// The totals box "Общее кол-во" for the fields INKolvo and OUTKolvo of the totals query.
struct TotalsView {
    QString caption; // Label11
    QString in;      // lblSumIN
    QString out;     // lblSumOUT (hidden in mode Sum, and then left as it was)
    bool outVisible; // Label12 and lblSumOUT
    bool operator==(const TotalsView &) const = default;
};
TotalsView totalsView(DisplayMode mode, const QVariant &inSum, const QVariant &outSum);

} // namespace kp::results
