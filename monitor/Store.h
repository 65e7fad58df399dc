// The server's database in its data folder (monitoring.sqlite): server groups, vehicles and
// counter records, filled by the import commands. Each thread opens a Store of its own.
#pragma once

#include "monitor/Csv.h"
#include "monitor/FleetData.h"

#include <QString>
#include <memory>

struct sqlite3;

namespace kp::monitor {

class Store {
public:
    static QString databasePath(const QString &dataDir);
    static bool exists(const QString &dataDir);

    // Opens the database; `create` makes the folder and the database when missing. Raises
    // kp::Exception with the path and SQLite's message.
    Store(const QString &dataDir, bool create);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    Fleet loadFleet();
    bool hasFleet();
    // Records of a device over a channel with from <= stamp <= to, in time order.
    QList<Record> records(std::int32_t device, const QString &channel, double from, double to);

    // Replaces the whole fleet in one transaction; records stay, keyed by device.
    void replaceFleet(const Fleet &fleet);
    // Adds records in one transaction (a record with the same device, channel and time is
    // replaced). Every device must be in the fleet: otherwise ImportError for that line, and
    // nothing is added.
    void addRecords(const QList<ImportedRecord> &records, const QString &file);

private:
    void exec(const char *sql);
    [[noreturn]] void fail(const QString &what);

    QString path_;
    sqlite3 *db_ = nullptr;
};

} // namespace kp::monitor
