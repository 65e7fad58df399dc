#include "monitor/Export.h"

#include "platform/localsql/Dbf.h"
#include "server/HResult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kp::monitor {

kp::HResult writeCounterTable(const QString &path, const QList<Record> &trip, int firstInput,
                              const ExportStyle &style, QString *error) {
    using namespace kp::localsql;
    const QString c1 = QStringLiteral("COUNTER%1").arg(firstInput);
    const QString c2 = QStringLiteral("COUNTER%1").arg(firstInput + 1);
    const QList<DbfField> fields = {
        dbfNumeric(QStringLiteral("TDATETIME"), 20, 12),
        style.realCounters ? dbfNumeric(c1, 14, 1) : dbfNumeric(c1, 11, 0),
        style.realCounters ? dbfNumeric(c2, 14, 1) : dbfNumeric(c2, 11, 0),
    };
    QList<DbfRow> rows;
    rows.reserve(trip.size());
    const int a = firstInput - 1;
    for (const Record &r : trip) {
        if (style.realCounters) {
            rows.append({r.stamp, double(r.counters[a]), double(r.counters[a + 1])});
        } else {
            rows.append({r.stamp, qlonglong(r.counters[a]), qlonglong(r.counters[a + 1])});
        }
    }
    try {
        writeDbfTable(path, fields, rows, DbfWriteMode::Replace);
    } catch (const kp::Exception &e) {
        if (error) *error = e.message();
        const QFileInfo dir(QFileInfo(path).absolutePath());
        if (!dir.isDir() || !dir.isWritable()) return kp::hr::E_ACCESSDENIED;
        return kp::hr::STG_E_WRITEFAULT;
    }
    if (style.truncated) {
        QFile f(path);
        f.resize(f.size() / 2);
    }
    return kp::hr::S_OK;
}

} // namespace kp::monitor
