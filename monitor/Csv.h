// The import files of kelvon-monitor: comma-separated UTF-8 text with a header line, fields in
// double quotes where they hold commas, quotes ("" inside quotes) or line breaks.
#pragma once

#include "monitor/FleetData.h"

#include "platform/core/Exceptions.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace kp::monitor {

// A bad import file: the message names the file and the line ("fleet.csv:7: ...").
class ImportError : public kp::Exception {
public:
    ImportError(const QString &file, int line, const QString &what)
        : kp::Exception(QStringLiteral("%1:%2: %3").arg(file, QString::number(line), what)),
          line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

struct CsvRow {
    int line = 0; // where the row begins, from 1
    QStringList fields;
};

// All rows, the header included; blank lines are skipped. Raises ImportError.
QList<CsvRow> parseCsv(const QByteArray &data, const QString &file);

// The fleet file: header
//   group_file,group_name,group_address,group_contacts,device,model,number,route,drivers,
//   alias,tel_num,check_points_file
// one row per vehicle; groups in the order they first appear, vehicles in file order.
Fleet parseFleetCsv(const QByteArray &data, const QString &file);

// The records file: header device,time,channel,counter1,counter2,counter3,counter4; time as
// "dd.mm.yyyy hh:mm:ss", channel GSM or USB, counters whole numbers >= 0 (empty is 0).
struct ImportedRecord {
    int line = 0;
    std::int32_t device = 0;
    QString channel;
    Record record;
};
QList<ImportedRecord> parseRecordsCsv(const QByteArray &data, const QString &file);

} // namespace kp::monitor
