#include "monitor/Store.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

namespace kp::monitor {

namespace {

const char *schema = R"(
CREATE TABLE IF NOT EXISTS groups(
  position INTEGER PRIMARY KEY, file_name TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
  address TEXT NOT NULL, contacts TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS vehicles(
  device INTEGER PRIMARY KEY, group_position INTEGER NOT NULL, position INTEGER NOT NULL,
  model TEXT NOT NULL, number TEXT NOT NULL, route TEXT NOT NULL, drivers TEXT NOT NULL,
  alias TEXT NOT NULL, tel_num TEXT NOT NULL, check_points_file TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS records(
  device INTEGER NOT NULL, channel TEXT NOT NULL, stamp REAL NOT NULL,
  counter1 INTEGER NOT NULL, counter2 INTEGER NOT NULL, counter3 INTEGER NOT NULL,
  counter4 INTEGER NOT NULL, PRIMARY KEY(device, channel, stamp)) WITHOUT ROWID;
)";

// One prepared statement, finalized on every path.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(st_); }
    bool ok() const { return st_ != nullptr; }
    void bind(int i, qint64 v) { sqlite3_bind_int64(st_, i, v); }
    void bind(int i, double v) { sqlite3_bind_double(st_, i, v); }
    void bind(int i, const QString &v) {
        const QByteArray u = v.toUtf8();
        sqlite3_bind_text(st_, i, u.constData(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(st_); }
    void reset() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    qint64 integer(int c) { return sqlite3_column_int64(st_, c); }
    double real(int c) { return sqlite3_column_double(st_, c); }
    QString text(int c) {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(st_, c));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(st_, c)) : QString();
    }

private:
    sqlite3_stmt *st_ = nullptr;
};

} // namespace

QString Store::databasePath(const QString &dataDir) {
    return QDir(dataDir).filePath(QStringLiteral("monitoring.sqlite"));
}

bool Store::exists(const QString &dataDir) { return QFileInfo::exists(databasePath(dataDir)); }

Store::Store(const QString &dataDir, bool create) : path_(databasePath(dataDir)) {
    if (create && !QDir().mkpath(dataDir))
        throw kp::Exception(QStringLiteral("cannot create the data folder %1").arg(dataDir));
    const int flags = create ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(path_.toUtf8().constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        fail(QStringLiteral("cannot open"));
    sqlite3_busy_timeout(db_, 5000);
    exec(schema);
}

Store::~Store() { sqlite3_close(db_); }

void Store::fail(const QString &what) {
    const QString msg =
        db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("out of memory");
    throw kp::Exception(QStringLiteral("%1: %2: %3").arg(path_, what, msg));
}

void Store::exec(const char *sql) {
    char *err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "");
        sqlite3_free(err);
        throw kp::Exception(QStringLiteral("%1: %2").arg(path_, msg));
    }
}

Fleet Store::loadFleet() {
    Fleet fleet;
    Statement g(db_, "SELECT position, file_name, name, address, contacts FROM groups "
                     "ORDER BY position");
    if (!g.ok()) fail(QStringLiteral("reading the groups"));
    QList<qint64> positions;
    while (g.step() == SQLITE_ROW) {
        positions.append(g.integer(0));
        fleet.append({g.text(1), g.text(2), g.text(3), g.text(4), {}});
    }
    Statement v(db_, "SELECT group_position, device, model, number, route, drivers, alias, "
                     "tel_num, check_points_file FROM vehicles ORDER BY group_position, position");
    if (!v.ok()) fail(QStringLiteral("reading the vehicles"));
    while (v.step() == SQLITE_ROW) {
        const qsizetype at = positions.indexOf(v.integer(0));
        if (at < 0) continue;
        Vehicle veh;
        veh.device = static_cast<std::int32_t>(v.integer(1));
        veh.model = v.text(2);
        veh.number = v.text(3);
        veh.route = v.text(4);
        veh.drivers = v.text(5);
        veh.alias = v.text(6);
        veh.telNum = v.text(7);
        veh.checkPointsFile = v.text(8);
        fleet[at].vehicles.append(veh);
    }
    return fleet;
}

bool Store::hasFleet() {
    Statement s(db_, "SELECT EXISTS(SELECT 1 FROM groups)");
    return s.ok() && s.step() == SQLITE_ROW && s.integer(0) != 0;
}

QList<Record> Store::records(std::int32_t device, const QString &channel, double from, double to) {
    Statement s(db_, "SELECT stamp, counter1, counter2, counter3, counter4 FROM records "
                     "WHERE device = ?1 AND channel = ?2 AND stamp >= ?3 AND stamp <= ?4 "
                     "ORDER BY stamp");
    if (!s.ok()) fail(QStringLiteral("reading the records"));
    s.bind(1, qint64(device));
    s.bind(2, channel);
    s.bind(3, from);
    s.bind(4, to);
    QList<Record> out;
    while (s.step() == SQLITE_ROW) {
        out.append(Record{s.real(0), {s.integer(1), s.integer(2), s.integer(3), s.integer(4)}});
    }
    return out;
}

void Store::replaceFleet(const Fleet &fleet) {
    exec("BEGIN IMMEDIATE");
    try {
        exec("DELETE FROM vehicles; DELETE FROM groups;");
        Statement g(db_, "INSERT INTO groups VALUES (?1, ?2, ?3, ?4, ?5)");
        Statement v(db_, "INSERT INTO vehicles VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
        if (!g.ok() || !v.ok()) fail(QStringLiteral("writing the fleet"));
        for (qsizetype gi = 0; gi < fleet.size(); ++gi) {
            const Group &grp = fleet[gi];
            g.bind(1, qint64(gi + 1));
            g.bind(2, grp.fileName);
            g.bind(3, grp.name);
            g.bind(4, grp.address);
            g.bind(5, grp.contacts);
            if (g.step() != SQLITE_DONE) fail(QStringLiteral("writing group %1").arg(grp.fileName));
            g.reset();
            for (qsizetype vi = 0; vi < grp.vehicles.size(); ++vi) {
                const Vehicle &veh = grp.vehicles[vi];
                v.bind(1, qint64(veh.device));
                v.bind(2, qint64(gi + 1));
                v.bind(3, qint64(vi + 1));
                v.bind(4, veh.model);
                v.bind(5, veh.number);
                v.bind(6, veh.route);
                v.bind(7, veh.drivers);
                v.bind(8, veh.alias);
                v.bind(9, veh.telNum);
                v.bind(10, veh.checkPointsFile);
                if (v.step() != SQLITE_DONE)
                    fail(QStringLiteral("writing device %1").arg(veh.device));
                v.reset();
            }
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Store::addRecords(const QList<ImportedRecord> &records, const QString &file) {
    QSet<std::int32_t> devices;
    {
        Statement d(db_, "SELECT device FROM vehicles");
        if (!d.ok()) fail(QStringLiteral("reading the vehicles"));
        while (d.step() == SQLITE_ROW)
            devices.insert(static_cast<std::int32_t>(d.integer(0)));
    }
    if (devices.isEmpty())
        throw kp::Exception(
            QStringLiteral("%1: no fleet has been imported yet: import the fleet first")
                .arg(path_));
    for (const ImportedRecord &r : records) {
        if (!devices.contains(r.device))
            throw ImportError(file, r.line,
                              QStringLiteral("device %1 is not in the fleet").arg(r.device));
    }
    exec("BEGIN IMMEDIATE");
    try {
        Statement s(db_, "INSERT OR REPLACE INTO records VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        if (!s.ok()) fail(QStringLiteral("writing the records"));
        for (const ImportedRecord &r : records) {
            s.bind(1, qint64(r.device));
            s.bind(2, r.channel);
            s.bind(3, r.record.stamp);
            for (int c = 0; c < 4; ++c)
                s.bind(4 + c, qint64(r.record.counters[c]));
            if (s.step() != SQLITE_DONE)
                fail(QStringLiteral("writing the record of line %1").arg(r.line));
            s.reset();
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace kp::monitor
