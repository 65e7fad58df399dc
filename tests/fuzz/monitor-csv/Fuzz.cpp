// The import files of kelvon-monitor on arbitrary bytes. Besides not crashing: rows come with
// rising line numbers inside the file, a failure names a line of the file, and rows written
// back with every field quoted parse to the same fields.
#include "monitor/Csv.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

using namespace kp::monitor;

namespace {

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) __builtin_trap();                                                        \
    } while (0)

int lineCount(const QByteArray &data) { return int(data.count('\n')) + 1; }

QByteArray quoted(const QList<CsvRow> &rows) {
    QByteArray out;
    for (const CsvRow &r : rows) {
        QStringList fields;
        for (QString f : r.fields)
            fields.append(QLatin1Char('"') + f.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                          QLatin1Char('"'));
        out += fields.join(QLatin1Char(',')).toUtf8() + "\n";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString file = QStringLiteral("f.csv");
    try {
        const QList<CsvRow> rows = parseCsv(bytes, file);
        int last = 0;
        for (const CsvRow &r : rows) {
            CHECK(r.line > last && r.line <= lineCount(bytes));
            CHECK(!r.fields.isEmpty());
            last = r.line;
        }
        // Blank rows vanish when parsed; a row of one empty field is written as "" and stays.
        const QList<CsvRow> again = parseCsv(quoted(rows), file);
        CHECK(again.size() == rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i)
            CHECK(again[i].fields == rows[i].fields);
    } catch (const ImportError &e) {
        CHECK(e.line() >= 1 && e.line() <= lineCount(bytes));
    }
    try {
        const Fleet fleet = parseFleetCsv(bytes, file);
        for (const Group &g : fleet)
            CHECK(!g.fileName.isEmpty() && !g.vehicles.isEmpty());
    } catch (const ImportError &e) {
        CHECK(e.line() >= 1 && e.line() <= lineCount(bytes));
    }
    try {
        for (const ImportedRecord &r : parseRecordsCsv(bytes, file)) {
            CHECK(isChannel(r.channel));
            for (auto c : r.record.counters)
                CHECK(c >= 0);
        }
    } catch (const ImportError &e) {
        CHECK(e.line() >= 1 && e.line() <= lineCount(bytes));
    }
    return 0;
}
