// The monitoring server's own pieces without a bus: its time texts, the import files, the
// database, the demo fleet and its wiring, and the counter export.
#include "config/IniFile.h"
#include "monitor/Csv.h"
#include "monitor/DemoFleet.h"
#include "monitor/Export.h"
#include "monitor/ServerTime.h"
#include "monitor/Store.h"
#include "platform/core/DateTime.h"
#include "platform/localsql/Dbf.h"
#include "server/HResult.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace kp::monitor;

namespace {
QByteArray fixture(const QString &name) {
    QFile f(qEnvironmentVariable("KP_SOURCE_DIR") + QStringLiteral("/tests/data/monitor/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
double serial(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    return kp::toSerial(QDate(y, m, d), QTime(hh, mm, ss));
}
const QString fleetHeader = QStringLiteral(
    "group_file,group_name,group_address,group_contacts,device,model,number,route,drivers,alias,"
    "tel_num,check_points_file\n");
} // namespace

class TestMonitor : public QObject {
    Q_OBJECT

private slots:
    void serverTime_data();
    void serverTime();
    void csvSyntax_data();
    void csvSyntax();
    void csvErrors_data();
    void csvErrors();
    void fleetFile();
    void fleetFileErrors_data();
    void fleetFileErrors();
    void recordsFileErrors_data();
    void recordsFileErrors();
    void storeImports();
    void demoFleetShape();
    void demoRecordsLikeRealUnits();
    void demoWiringMatchesCounters();
    void exportReadsBackExactly();
    void exportFailureLeavesNothing();
};

void TestMonitor::serverTime_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // -1: refused
    QTest::newRow("colons") << "19.05.2009 08:00:00" << serial(2009, 5, 19, 8);
    QTest::newRow("other separators") << "19.05.2009 08-30.15" << serial(2009, 5, 19, 8, 30, 15);
    QTest::newRow("end of day") << "31.12.2009 23:59:59" << serial(2009, 12, 31, 23, 59, 59);
    QTest::newRow("digit as separator") << "19.05.2009 08000000" << -1.0;
    QTest::newRow("short hour") << "19.05.2009 8:00:00" << -1.0;
    QTest::newRow("no seconds") << "19.05.2009 08:00" << -1.0;
    QTest::newRow("30 February") << "30.02.2009 08:00:00" << -1.0;
    QTest::newRow("hour 24") << "19.05.2009 24:00:00" << -1.0;
    QTest::newRow("slashes in date") << "19/05/2009 08:00:00" << -1.0;
    QTest::newRow("empty") << "" << -1.0;
}

void TestMonitor::serverTime() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    const auto v = parseServerTime(text);
    if (expected < 0) {
        QVERIFY(!v.has_value());
    } else {
        QVERIFY(v.has_value());
        QCOMPARE(*v, expected);
    }
}

void TestMonitor::csvSyntax_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::newRow("plain") << QByteArray("a,b\n1,2\n") << QList<int>{1, 2}
                           << QList<QStringList>{{"a", "b"}, {"1", "2"}};
    QTest::newRow("crlf, bom, no final break")
        << QByteArray("\xEF\xBB\xBF"
                      "a,b\r\n1,2")
        << QList<int>{1, 2} << QList<QStringList>{{"a", "b"}, {"1", "2"}};
    QTest::newRow("quotes") << QByteArray("\"x,y\",\"say \"\"hi\"\"\",\n") << QList<int>{1}
                            << QList<QStringList>{{"x,y", "say \"hi\"", ""}};
    QTest::newRow("break inside quotes keeps line numbers")
        << QByteArray("h\n\"two\r\nlines\"\nlast\n") << QList<int>{1, 2, 4}
        << QList<QStringList>{{"h"}, {"two\r\nlines"}, {"last"}};
    QTest::newRow("blank lines skipped")
        << QByteArray("a\n\n\r\nb\n") << QList<int>{1, 4} << QList<QStringList>{{"a"}, {"b"}};
    QTest::newRow("cyrillic") << QByteArray("ЛиАЗ,Борт 1\n") << QList<int>{1}
                              << QList<QStringList>{{"ЛиАЗ", "Борт 1"}};
}

void TestMonitor::csvSyntax() {
    QFETCH(QByteArray, data);
    QFETCH(QList<int>, lines);
    QFETCH(QList<QStringList>, rows);
    const QList<CsvRow> got = parseCsv(data, QStringLiteral("f.csv"));
    QCOMPARE(got.size(), rows.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].line, lines[i]);
        QCOMPARE(got[i].fields, rows[i]);
    }
}

void TestMonitor::csvErrors_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("message");
    QTest::newRow("quote not closed")
        << QByteArray("a\nb,\"open\nmore\n") << "f.csv:2: a quote is not closed";
    QTest::newRow("text after quote")
        << QByteArray("a\n\"x\"y\n") << "f.csv:2: text after a closing quote";
    QTest::newRow("not utf-8") << QByteArray("a\nb\n\xC0\xC1\n")
                               << "f.csv:3: the text is not UTF-8";
}

void TestMonitor::csvErrors() {
    QFETCH(QByteArray, data);
    QFETCH(QString, message);
    try {
        parseCsv(data, QStringLiteral("f.csv"));
        QFAIL("accepted");
    } catch (const ImportError &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestMonitor::fleetFile() {
    const Fleet fleet =
        parseFleetCsv(fixture(QStringLiteral("fleet.csv")), QStringLiteral("fleet.csv"));
    QCOMPARE(fleet.size(), 2);
    QCOMPARE(fleet[0].fileName, QStringLiteral("north.kgr"));
    QCOMPARE(fleet[0].vehicles.size(), 2);
    QCOMPARE(fleet[0].vehicles[1].number, QString());
    QCOMPARE(fleet[1].address, QStringLiteral("г. Тольятти,\nЮжное шоссе, 8"));
    QCOMPARE(fleet[1].vehicles[0].device, -42);
    QCOMPARE(fleet[1].vehicles[1].checkPointsFile, QStringLiteral("south7.kcp"));
}

void TestMonitor::fleetFileErrors_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("message");
    const QByteArray h = fleetHeader.toUtf8();
    QTest::newRow("duplicate device") << fixture(QStringLiteral("bad-fleet.csv"))
                                      << "f.csv:4: device 501 is already listed on line 2";
    QTest::newRow("wrong header") << QByteArray("group,name\n")
                                  << "f.csv:1: the header must be: " + fleetHeader.trimmed();
    QTest::newRow("field count") << h + "g,G,,,1,,,,,,\n"
                                 << "f.csv:2: 11 fields, expected 12";
    QTest::newRow("device not a number")
        << h + "g,G,,,x1,,,,,,,\n"
        << "f.csv:2: the device number \"x1\" is not a 32-bit whole number";
    QTest::newRow("device too large")
        << h + "g,G,,,2147483648,,,,,,,\n"
        << "f.csv:2: the device number \"2147483648\" is not a 32-bit whole number";
    QTest::newRow("empty group file") << h + ",G,,,1,,,,,,,\n"
                                      << "f.csv:2: the group file name is empty";
    QTest::newRow("group described twice") << h + "g,G,,,1,,,,,,,\ng,H,,,2,,,,,,,\n"
                                           << "f.csv:3: group g is described differently on line 2";
    QTest::newRow("empty file") << QByteArray() << "f.csv:1: the file is empty";
}

void TestMonitor::fleetFileErrors() {
    QFETCH(QByteArray, data);
    QFETCH(QString, message);
    try {
        parseFleetCsv(data, QStringLiteral("f.csv"));
        QFAIL("accepted");
    } catch (const ImportError &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestMonitor::recordsFileErrors_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("message");
    const QByteArray h = "device,time,channel,counter1,counter2,counter3,counter4\n";
    QTest::newRow("bad time")
        << fixture(QStringLiteral("bad-records.csv"))
        << "f.csv:3: the time \"19.05.2009 25:00:00\" is not dd.mm.yyyy hh:mm:ss";
    QTest::newRow("bad channel") << h + "1,19.05.2009 08:00:01,GPRS,1,1,1,1\n"
                                 << "f.csv:2: the channel \"GPRS\" is neither GSM nor USB";
    QTest::newRow("negative counter")
        << h + "1,19.05.2009 08:00:01,GSM,1,-2,,\n"
        << "f.csv:2: counter2 \"-2\" is not a whole number from 0 to 2147483647";
}

void TestMonitor::recordsFileErrors() {
    QFETCH(QByteArray, data);
    QFETCH(QString, message);
    try {
        parseRecordsCsv(data, QStringLiteral("f.csv"));
        QFAIL("accepted");
    } catch (const ImportError &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestMonitor::storeImports() {
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(!Store::exists(data));
    const Fleet fleet =
        parseFleetCsv(fixture(QStringLiteral("fleet.csv")), QStringLiteral("fleet.csv"));
    Store store(data, true);
    store.replaceFleet(fleet);
    QVERIFY(Store::exists(data));
    QCOMPARE(store.loadFleet(), fleet);

    const auto records =
        parseRecordsCsv(fixture(QStringLiteral("records.csv")), QStringLiteral("records.csv"));
    store.addRecords(records, QStringLiteral("records.csv"));
    const QList<Record> gsm =
        store.records(9001, QStringLiteral("GSM"), serial(2009, 5, 19), serial(2009, 5, 20));
    QCOMPARE(gsm.size(), 5); // "gsm" in the file is the same channel
    QVERIFY(std::is_sorted(gsm.begin(), gsm.end(),
                           [](const Record &a, const Record &b) { return a.stamp < b.stamp; }));
    QCOMPARE(gsm[3].counters[0], 8);
    QCOMPARE(store.records(9001, QStringLiteral("USB"), 0, 1e6).size(), 1);
    // The bounds are part of the period.
    QCOMPARE(store
                 .records(9001, QStringLiteral("GSM"), serial(2009, 5, 19, 8, 0, 17),
                          serial(2009, 5, 19, 8, 20, 43))
                 .size(),
             2);

    // A record of a device outside the fleet: that line, and nothing of the file is added.
    QList<ImportedRecord> more = records;
    more[0].record.stamp += 0.001;
    ImportedRecord stranger = more[0];
    stranger.device = 77;
    stranger.line = 12;
    more.append(stranger);
    try {
        store.addRecords(more, QStringLiteral("more.csv"));
        QFAIL("accepted an unknown device");
    } catch (const ImportError &e) {
        QCOMPARE(e.message(), QStringLiteral("more.csv:12: device 77 is not in the fleet"));
    }
    QCOMPARE(store.records(9001, QStringLiteral("GSM"), 0, 1e6).size(), 5);

    // A new fleet replaces the old one whole.
    Fleet other = {{QStringLiteral("x.kgr"), QStringLiteral("X"), {}, {}, {fleet[0].vehicles[0]}}};
    store.replaceFleet(other);
    QCOMPARE(store.loadFleet(), other);
}

void TestMonitor::demoFleetShape() {
    const Fleet fleet = demo::fleet();
    QCOMPARE(fleet.size(), 3);
    QSet<std::int32_t> devices;
    QSet<QString> files;
    int vehicles = 0;
    for (const Group &g : fleet) {
        QVERIFY(!g.fileName.isEmpty());
        files.insert(g.fileName);
        for (const Vehicle &v : g.vehicles) {
            devices.insert(v.device);
            ++vehicles;
        }
    }
    QCOMPARE(files.size(), 3);
    QVERIFY(vehicles >= 12 && vehicles <= 20);
    QCOMPARE(devices.size(), vehicles);
    QCOMPARE(fleet, demo::fleet());
}

void TestMonitor::demoRecordsLikeRealUnits() {
    const int day = int(serial(2026, 3, 2));
    int vehiclesWithoutRecords = 0, restarts = 0;
    for (const Group &g : demo::fleet()) {
        for (const Vehicle &v : g.vehicles) {
            const QList<Record> gsm = demo::dayRecords(v.device, QStringLiteral("GSM"), day);
            const QList<Record> usb = demo::dayRecords(v.device, QStringLiteral("USB"), day);
            if (gsm.isEmpty() && usb.isEmpty()) {
                ++vehiclesWithoutRecords;
                continue;
            }
            if (!gsm.isEmpty()) QCOMPARE(gsm, usb); // one unit, whichever way its data came
            // The same every time.
            QCOMPARE(usb, demo::dayRecords(v.device, QStringLiteral("USB"), day));
            QVERIFY(usb.first().stamp < day + 2.0 / 24); // the whole day
            QVERIFY(usb.last().stamp > day + 23.0 / 24);
            for (qsizetype i = 0; i < usb.size(); ++i) {
                const Record &r = usb[i];
                QVERIFY(r.stamp >= day && r.stamp < day + 1);
                const qint64 second = std::llround((r.stamp - day) * 86400);
                QVERIFY2(second % 60 != 0, "a record on a whole minute falls on an interval bound");
                for (qint64 c : r.counters)
                    QCOMPARE(c % 2, 0); // two pulses per passenger
                if (i == 0) continue;
                QVERIFY(r.stamp > usb[i - 1].stamp);
                const auto &p = usb[i - 1].counters;
                if (r.counters[0] < p[0] || r.counters[1] < p[1] || r.counters[2] < p[2] ||
                    r.counters[3] < p[3]) {
                    // A fall is a restart: every counter back at zero.
                    QCOMPARE(r.counters, (std::array<std::int64_t, 4>{}));
                    ++restarts;
                }
            }
        }
    }
    QCOMPARE(vehiclesWithoutRecords, 1);

    // Over a month: restarts happen now and then, and the morning peak carries more passengers
    // than the late morning.
    const Vehicle v = demo::fleet()[0].vehicles[1];
    qint64 peak = 0, quiet = 0;
    for (int d = day; d < day + 30; ++d) {
        const QList<Record> rs = demo::dayRecords(v.device, QStringLiteral("GSM"), d);
        auto at = [&](double hour) {
            qint64 last = 0;
            for (const Record &r : rs)
                if (r.stamp < d + hour / 24) last = r.counters[0];
            return last;
        };
        for (qsizetype i = 1; i < rs.size(); ++i)
            if (rs[i].counters[0] < rs[i - 1].counters[0]) ++restarts;
        if (at(9) >= at(7) && at(12) >= at(10)) {
            peak += at(9) - at(7);
            quiet += at(12) - at(10);
        }
    }
    QVERIFY(restarts > 0);
    QVERIFY2(peak > quiet * 3 / 2, qPrintable(QStringLiteral("%1 vs %2").arg(peak).arg(quiet)));

    // A period is cut from the days it touches, bounds included.
    const double from = day + 0.5, to = day + 1.25;
    const QList<Record> period = demo::records(v.device, QStringLiteral("GSM"), from, to);
    QVERIFY(!period.isEmpty());
    QVERIFY(period.first().stamp >= from && period.last().stamp <= to);
    QVERIFY(period.last().stamp > day + 1);
}

void TestMonitor::demoWiringMatchesCounters() {
    const QByteArray ini = demo::wiringIni();
    QVERIFY(!ini.contains("\n\n"));
    for (qsizetype i = 0; i < ini.size(); ++i)
        if (ini[i] == '\n') QCOMPARE(ini[i - 1], '\r'); // CRLF only
    QStringDecoder cp1251("windows-1251");
    const QString text = cp1251.decode(ini);
    QVERIFY(!cp1251.hasError());
    QVERIFY(text.contains(QStringLiteral("ПАЗ-3205"))); // Cyrillic comments, in Windows-1251

    // Sections and keys, read back plainly.
    QHash<int, QList<int>> roles;
    int section = 0;
    bool inSection = false;
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QLatin1Char('['))) {
            section = line.mid(1, line.size() - 2).toInt();
            QVERIFY(!roles.contains(section));
            roles[section] = {};
            inSection = true;
        } else if (inSection && line.startsWith(QLatin1Char('D'))) {
            QCOMPARE(line.mid(1, 1).toInt(), roles[section].size() + 1);
            roles[section].append(line.mid(3).toInt());
        }
    }
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Cars.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini);
    file.close();
    const kp::config::IniFile carsIni(file.fileName());
    const int day = int(serial(2026, 3, 2));
    int on34 = 0, carried = 0;
    for (const Group &g : demo::fleet()) {
        for (const Vehicle &v : g.vehicles) {
            QVERIFY2(roles.contains(v.device), qPrintable(QString::number(v.device)));
            const QList<int> r = roles.value(v.device);
            QCOMPARE(r.size(), 4);
            // As the program's own INI reader sees the file that ./dev writes.
            for (int i = 0; i < 4; ++i)
                QCOMPARE(carsIni.readInteger(QString::number(v.device),
                                             QStringLiteral("D%1").arg(i + 1), 0),
                         r[i]);
            QVERIFY(std::any_of(r.begin(), r.end(), [](int x) { return x > 1; }));
            if (r[2] > 1) ++on34;
            if (r.contains(4)) ++carried;
            // An input that counts has counters that move; one marked N/A stays at zero.
            const QList<Record> recs = demo::dayRecords(v.device, QStringLiteral("USB"), day);
            for (int i = 0; i < 4 && !recs.isEmpty(); ++i) {
                qint64 most = 0;
                for (const Record &x : recs)
                    most = std::max<qint64>(most, x.counters[i]);
                QCOMPARE(most > 0, r[i] > 1);
            }
        }
    }
    QCOMPARE(roles.size(), demo::fleet()[0].vehicles.size() + demo::fleet()[1].vehicles.size() +
                               demo::fleet()[2].vehicles.size());
    QVERIFY(on34 > 0);
    QVERIFY(carried > 0);
}

void TestMonitor::exportReadsBackExactly() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("temp.dbf"));
    const QList<Record> trip =
        demo::records(1031, QStringLiteral("GSM"), serial(2026, 3, 2, 8), serial(2026, 3, 2, 20));
    QVERIFY(trip.size() > 100);
    QString error;
    QCOMPARE(writeCounterTable(path, trip, 3, {}, &error), kp::hr::S_OK);
    const auto table = kp::localsql::DbfTable::read(path);
    QCOMPARE(table.recordCount(), trip.size());
    QCOMPARE(table.fieldIndex(QStringLiteral("COUNTER1")), -1);
    const int c3 = table.fieldIndex(QStringLiteral("COUNTER3"));
    const int c4 = table.fieldIndex(QStringLiteral("COUNTER4"));
    QCOMPARE(kp::localsql::columnKind(table.fields()[c3]), kp::localsql::DbfColumnKind::Integer);
    for (qint64 i = 0; i < table.recordCount(); ++i) {
        QCOMPARE(table.value(i, 0).toDouble(), trip[i].stamp); // bit for bit
        QCOMPARE(table.value(i, c3).toLongLong(), trip[i].counters[2]);
        QCOMPARE(table.value(i, c4).toLongLong(), trip[i].counters[3]);
    }
    QCOMPARE(writeCounterTable(path, trip, 1, {true, false}, &error), kp::hr::S_OK);
    const auto real = kp::localsql::DbfTable::read(path);
    QCOMPARE(kp::localsql::columnKind(real.fields()[1]), kp::localsql::DbfColumnKind::Real);
}

void TestMonitor::exportFailureLeavesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/temp.dbf"));
    QString error;
    const QList<Record> trip = {{serial(2026, 3, 2, 8, 0, 13), {2, 0, 0, 0}}};
    QCOMPARE(writeCounterTable(path, trip, 1, {}, &error), kp::hr::E_ACCESSDENIED);
    QVERIFY(error.contains(path));
    QVERIFY(!QFile::exists(path));
    QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

QTEST_MAIN(TestMonitor)
#include "TestMonitor.moc"
