#include "monitor/Csv.h"

#include "monitor/ServerTime.h"

#include <QHash>
#include <QStringDecoder>

#include <limits>

namespace kp::monitor {

QList<CsvRow> parseCsv(const QByteArray &data, const QString &file) {
    QByteArray bytes = data;
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        // Name the first line that is not UTF-8.
        int line = 1;
        for (const QByteArray &l : bytes.split('\n')) {
            QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = d.decode(l);
            if (d.hasError()) break;
            ++line;
        }
        throw ImportError(file, line, QStringLiteral("the text is not UTF-8"));
    }

    enum class State { FieldStart, Unquoted, Quoted, AfterQuote };
    QList<CsvRow> rows;
    CsvRow row;
    row.line = 1;
    QString field;
    State state = State::FieldStart;
    bool rowStarted = false;
    int line = 1;
    int quoteLine = 1;
    auto endField = [&] {
        row.fields.append(field);
        field.clear();
    };
    auto endRow = [&] {
        endField();
        rows.append(row);
        row = CsvRow();
        rowStarted = false;
    };
    // A comma ends the field, a line feed the row; true when c did either.
    auto endsField = [&](QChar c) {
        if (c == QLatin1Char(',')) {
            endField();
            return true;
        }
        if (c == QLatin1Char('\n')) {
            endRow();
            ++line;
            row.line = line;
            return true;
        }
        return false;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const bool crlf =
            c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n');
        switch (state) {
        case State::FieldStart:
            if (c == QLatin1Char('"')) {
                state = State::Quoted;
                quoteLine = line;
                rowStarted = true;
            } else if (c == QLatin1Char(',')) {
                rowStarted = true;
                endField();
            } else if (c == QLatin1Char('\n')) {
                if (rowStarted) endRow(); // a blank line is skipped
                ++line;
                row.line = line;
            } else if (!crlf) {
                field += c;
                state = State::Unquoted;
                rowStarted = true;
            }
            break;
        case State::Unquoted:
            if (endsField(c))
                state = State::FieldStart;
            else if (!crlf)
                field += c;
            break;
        case State::Quoted:
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    state = State::AfterQuote;
                }
            } else {
                if (c == QLatin1Char('\n')) ++line;
                field += c;
            }
            break;
        case State::AfterQuote:
            if (endsField(c))
                state = State::FieldStart;
            else if (!crlf)
                throw ImportError(file, line, QStringLiteral("text after a closing quote"));
            break;
        }
    }
    if (state == State::Quoted)
        throw ImportError(file, quoteLine, QStringLiteral("a quote is not closed"));
    if (rowStarted) endRow();
    return rows;
}

namespace {

void checkHeader(const CsvRow &header, const QStringList &expected, const QString &file) {
    QStringList got;
    for (const QString &f : header.fields)
        got.append(f.trimmed().toLower());
    if (got != expected) {
        throw ImportError(
            file, header.line,
            QStringLiteral("the header must be: %1").arg(expected.join(QLatin1Char(','))));
    }
}

bool parseInt32(const QString &text, std::int32_t *out) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        return false;
    *out = static_cast<std::int32_t>(v);
    return true;
}

} // namespace

Fleet parseFleetCsv(const QByteArray &data, const QString &file) {
    static const QStringList header = {
        QStringLiteral("group_file"),    QStringLiteral("group_name"),
        QStringLiteral("group_address"), QStringLiteral("group_contacts"),
        QStringLiteral("device"),        QStringLiteral("model"),
        QStringLiteral("number"),        QStringLiteral("route"),
        QStringLiteral("drivers"),       QStringLiteral("alias"),
        QStringLiteral("tel_num"),       QStringLiteral("check_points_file")};
    const QList<CsvRow> rows = parseCsv(data, file);
    if (rows.isEmpty()) throw ImportError(file, 1, QStringLiteral("the file is empty"));
    checkHeader(rows.first(), header, file);

    Fleet fleet;
    QHash<QString, qsizetype> groupAt;   // file name -> index in fleet
    QHash<QString, int> groupLine;       // where a group was first described
    QHash<std::int32_t, int> deviceLine; // where a device was first listed
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const CsvRow &row = rows[r];
        if (row.fields.size() != header.size()) {
            throw ImportError(
                file, row.line,
                QStringLiteral("%1 fields, expected %2").arg(row.fields.size()).arg(header.size()));
        }
        const QStringList &f = row.fields;
        const QString groupFile = f[0].trimmed();
        if (groupFile.isEmpty())
            throw ImportError(file, row.line, QStringLiteral("the group file name is empty"));
        Vehicle v;
        if (!parseInt32(f[4], &v.device))
            throw ImportError(
                file, row.line,
                QStringLiteral("the device number \"%1\" is not a 32-bit whole number").arg(f[4]));
        if (deviceLine.contains(v.device)) {
            throw ImportError(file, row.line,
                              QStringLiteral("device %1 is already listed on line %2")
                                  .arg(v.device)
                                  .arg(deviceLine.value(v.device)));
        }
        deviceLine.insert(v.device, row.line);
        v.model = f[5];
        v.number = f[6];
        v.route = f[7];
        v.drivers = f[8];
        v.alias = f[9];
        v.telNum = f[10];
        v.checkPointsFile = f[11];

        auto it = groupAt.constFind(groupFile);
        if (it == groupAt.constEnd()) {
            groupAt.insert(groupFile, fleet.size());
            groupLine.insert(groupFile, row.line);
            fleet.append({groupFile, f[1], f[2], f[3], {}});
            it = groupAt.constFind(groupFile);
        } else {
            const Group &g = fleet[*it];
            if (g.name != f[1] || g.address != f[2] || g.contacts != f[3]) {
                throw ImportError(file, row.line,
                                  QStringLiteral("group %1 is described differently on line %2")
                                      .arg(groupFile)
                                      .arg(groupLine.value(groupFile)));
            }
        }
        fleet[*it].vehicles.append(v);
    }
    return fleet;
}

QList<ImportedRecord> parseRecordsCsv(const QByteArray &data, const QString &file) {
    static const QStringList header = {QStringLiteral("device"),   QStringLiteral("time"),
                                       QStringLiteral("channel"),  QStringLiteral("counter1"),
                                       QStringLiteral("counter2"), QStringLiteral("counter3"),
                                       QStringLiteral("counter4")};
    const QList<CsvRow> rows = parseCsv(data, file);
    if (rows.isEmpty()) throw ImportError(file, 1, QStringLiteral("the file is empty"));
    checkHeader(rows.first(), header, file);

    QList<ImportedRecord> out;
    out.reserve(rows.size() - 1);
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const CsvRow &row = rows[r];
        if (row.fields.size() != header.size()) {
            throw ImportError(
                file, row.line,
                QStringLiteral("%1 fields, expected %2").arg(row.fields.size()).arg(header.size()));
        }
        const QStringList &f = row.fields;
        ImportedRecord rec;
        rec.line = row.line;
        if (!parseInt32(f[0], &rec.device))
            throw ImportError(
                file, row.line,
                QStringLiteral("the device number \"%1\" is not a 32-bit whole number").arg(f[0]));
        const std::optional<double> stamp = parseServerTime(f[1].trimmed());
        if (!stamp)
            throw ImportError(
                file, row.line,
                QStringLiteral("the time \"%1\" is not dd.mm.yyyy hh:mm:ss").arg(f[1]));
        rec.record.stamp = *stamp;
        rec.channel = f[2].trimmed().toUpper();
        if (!isChannel(rec.channel))
            throw ImportError(
                file, row.line,
                QStringLiteral("the channel \"%1\" is neither GSM nor USB").arg(f[2]));
        for (int c = 0; c < 4; ++c) {
            const QString t = f[3 + c].trimmed();
            if (t.isEmpty()) continue;
            bool ok = false;
            const qlonglong v = t.toLongLong(&ok);
            if (!ok || v < 0 || v > std::numeric_limits<std::int32_t>::max()) {
                throw ImportError(
                    file, row.line,
                    QStringLiteral("counter%1 \"%2\" is not a whole number from 0 to %3")
                        .arg(c + 1)
                        .arg(t)
                        .arg(std::numeric_limits<std::int32_t>::max()));
            }
            rec.record.counters[c] = v;
        }
        out.append(rec);
    }
    return out;
}

} // namespace kp::monitor
