// One calculation run without its thread and without a monitoring server: a fake server that
// exports records through the real dBASE writer, fake roles, and the real local SQL layer. The
// rows of result.dbf are compared with counts computed here from the exported readings.
#include "calc/Run.h"
#include "calc/Thread.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"

#include <QTemporaryDir>
#include <QtTest>
#include <map>

using namespace kp::calc;
using kp::localsql::DbfRow;

namespace {

struct Record {
    double when;
    QList<QVariant> counters; // COUNTER1..COUNTER4
};

// What the run told the window, in order.
class Recorder : public RunObserver {
public:
    QStringList events;
    QStringList selection;
    std::function<void()> onInterval;
    void statusMessage(const QString &t) override { events << "msg " + t; }
    void progressRange(std::int64_t m) override { events << QString("range %1").arg(m); }
    void progressPosition(std::int64_t p) override { events << QString("pos %1").arg(p); }
    void intervalProgress(std::int64_t k, std::int64_t t) override {
        events << QString("(%1/%2)").arg(k).arg(t);
        if (onInterval) onInterval();
    }
    void detachDisplay() override { events << "detach"; }
    void selectionTaken(const QStringList &d) override {
        events << "selection";
        selection = d;
    }
    QStringList only(const QString &prefix) const {
        QStringList out;
        for (const QString &e : events)
            if (e.startsWith(prefix)) out << e;
        return out;
    }
};

// A monitoring server that computes instantly (or after `busyPasses` reads) and exports the
// records of the current vehicle.
class FakeServer : public CounterServer {
public:
    std::map<std::int32_t, QList<Record>> records;
    std::map<std::int32_t, int> trips;
    bool realCounters = false;
    int busyPasses = 0;
    bool failEverything = false;
    QStringList *log = nullptr; // the test's list: the server goes with the run
    std::function<void()> onBusy;

    void SetGroupIndexByFileName(const QString &g) override {
        if (failEverything)
            throw kp::EOleSysError(QStringLiteral("Сервер недоступен"), qint32(0x800706BA));
        *log << "SetGroupIndexByFileName " + g;
    }
    void StartComputing(const QString &g, std::int32_t device, const QString &start,
                        const QString &end, const QString &channel, std::int32_t f) override {
        *log << QString("StartComputing %1 %2 %3 %4 %5 %6")
                    .arg(g)
                    .arg(device)
                    .arg(start, end, channel)
                    .arg(f);
        current_ = device;
        busy_ = busyPasses;
    }
    int get_ComputingBusy() override {
        if (onBusy) onBusy();
        return busy_ > 0 ? busy_-- : 0;
    }
    int get_ComputingPercents() override { return 50; }
    int get_TripsNum() override { return trips.count(current_) ? trips[current_] : 1; }
    void set_TripIndex(int i) override { *log << QString("TripIndex %1").arg(i); }
    void ExportListToFile(const QString &path, const QString &list, const QString &kind,
                          std::int32_t a, std::int32_t b) override {
        *log << QString("Export %1 %2 %3 %4").arg(list, kind).arg(a).arg(b);
        QList<kp::localsql::DbfField> fields{kp::localsql::dbfNumeric("TDATETIME", 20, 10)};
        const int first = kind == "num12" ? 1 : 3;
        for (int i = first; i < first + 2; ++i) {
            const QString name = QString("COUNTER%1").arg(i);
            fields << (realCounters ? kp::localsql::dbfNumeric(name, 12, 2)
                                    : kp::localsql::dbfNumeric(name, 10));
        }
        QList<DbfRow> rows;
        for (const Record &r : records[current_])
            rows << DbfRow{r.when, r.counters.value(first - 1), r.counters.value(first)};
        kp::localsql::writeDbfTable(path, fields, rows);
    }

private:
    std::int32_t current_ = 0;
    int busy_ = 0;
};

class FakeRoles : public RoleSource {
public:
    explicit FakeRoles(std::map<std::int32_t, QList<int>> *r) : roles_(r) {}
    int role(std::int32_t device, int input) override {
        auto it = roles_->find(device);
        return it == roles_->end() ? 0 : it->second.value(input - 1);
    }

private:
    std::map<std::int32_t, QList<int>> *roles_;
};

struct ResultRow {
    QString dateTime, dtstr;
    QMap<QString, QString> values; // INKolvo, OUTKolvo, IN<n>, OUT<n> (null ones left out)
};

QList<ResultRow> readResult(const QString &path) {
    const auto t = kp::localsql::DbfTable::read(path);
    QList<ResultRow> rows;
    for (qint64 r = 0; r < t.recordCount(); ++r) {
        ResultRow row;
        for (int f = 0; f < t.fieldCount(); ++f) {
            const QVariant v = t.value(r, f);
            const QString name = t.fields()[f].name;
            if (name == "DateTime" || name.compare("DATETIME", Qt::CaseInsensitive) == 0)
                row.dateTime = v.toString();
            else if (name.compare("DTSTR", Qt::CaseInsensitive) == 0)
                row.dtstr = v.toString();
            else if (!v.isNull())
                row.values[name.toUpper()] = v.toString();
        }
        rows << row;
    }
    return rows;
}

// Each run has a thread of its own, and with it a database connection of its own.
void runOnItsOwnThread(Calculation &calc) {
    std::unique_ptr<QThread> t(QThread::create([&calc] { calc.RunCalculation(); }));
    t->start();
    t->wait();
}

double at(int h, int m, int s = 0) { return kp::toSerial(QDate(2009, 5, 19), QTime(h, m, s)); }

} // namespace

class TestRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void rowsMatchTheReadings();
    void aRealCounterColumnRoundsHalvesToEven();
    void carriedInputsShareTheSplitAcrossVehicles();
    void statusAndProgressInOrder();
    void skippedInputsAdvanceTheBar();
    void vehicleWithoutCountedInputIsListedNotComputed();
    void channelAndPeriodReachTheServer();
    void noTripsGivesNoRowsAndNoFailure();
    void unreachableServerListsEveryVehicle();
    void missingExportEndsOnlyThatVehicle();
    void repeatedDeviceFailsTheTableAndProcessesNothing();
    void cancelBeforeTheRunKeepsTheOldTable();
    void cancelWhileTheServerComputes();
    void cancelDuringCountingKeepsTheRowsSoFar();
    void emptyPeriodCreatesTheTableOnly();
    void vehicleLabels_data();
    void vehicleLabels();
    void threadHandsOverEveryChangeInOrder();

private:
    RunSettings settings(QList<RunVehicle> vehicles) const;
    QList<RunFailure> run(
        const RunSettings &s, std::function<bool()> cancelled = [] { return false; });

    QTemporaryDir dir_;
    FakeServer prototype_;
    QStringList calls_;
    std::map<std::int32_t, QList<int>> roles_;
    Recorder recorder_;
    int splitSign_ = 0;
};

void TestRun::init() {
    QVERIFY(dir_.isValid());
    QFile::remove(dir_.filePath("result.dbf"));
    QFile::remove(dir_.filePath("temp.dbf"));
    prototype_ = FakeServer();
    calls_.clear();
    prototype_.log = &calls_;
    roles_.clear();
    recorder_ = Recorder();
}

RunSettings TestRun::settings(QList<RunVehicle> vehicles) const {
    RunSettings s;
    s.dateBegin = s.dateEnd = QDate(2009, 5, 19);
    s.timeBegin = QTime(8, 0);
    s.timeEnd = QTime(12, 0);
    s.intervalsPerDay = 24;
    s.vehicles = std::move(vehicles);
    s.workDir = dir_.path();
    s.locale = QLocale(QLocale::Russian, QLocale::Russia);
    return s;
}

QList<RunFailure> TestRun::run(const RunSettings &s, std::function<bool()> cancelled) {
    Calculation calc(
        s, recorder_, std::move(cancelled),
        [this] { return std::unique_ptr<CounterServer>(std::make_unique<FakeServer>(prototype_)); },
        [this](const QString &path) {
            Q_ASSERT(path.endsWith("/TS/Cars.ini"));
            return std::make_unique<FakeRoles>(&roles_);
        });
    calc.SplitSign = splitSign_;
    runOnItsOwnThread(calc);
    splitSign_ = calc.SplitSign;
    return calc.failures();
}

void TestRun::rowsMatchTheReadings() {
    // Two vehicles over 08:00-12:00 hourly. 517 counts entering on input 1 and leaving on
    // input 3; 12 counts carried passengers on input 2.
    roles_[517] = {2, 1, 3, 1};
    roles_[12] = {1, 4, 1, 1};
    auto c = [](int a, int b, int c3, int d) {
        return QList<QVariant>{qlonglong(a), qlonglong(b), qlonglong(c3), qlonglong(d)};
    };
    prototype_.records[517] = {{at(8, 10, 7), c(10, 0, 4, 0)},
                               {at(8, 50, 3), c(40, 0, 8, 0)},
                               {at(9, 20, 11), c(46, 0, 12, 0)},
                               {at(11, 5, 9), c(30, 0, 30, 0)},
                               {at(11, 40, 1), c(36, 0, 31, 0)}};
    prototype_.records[12] = {{at(8, 30, 5), c(0, 6, 0, 0)}, {at(10, 15, 2), c(0, 16, 0, 0)}};
    const auto failures = run(settings({{517, "ПАЗ", "А123", "g1.grp"}, {12, "", "", "g2.grp"}}));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.value(0).message));
    QCOMPARE(recorder_.selection, (QStringList{"517", "12"}));

    const auto rows = readResult(dir_.filePath("result.dbf"));
    QStringList got;
    for (const ResultRow &r : rows) {
        QStringList cells;
        for (auto it = r.values.begin(); it != r.values.end(); ++it)
            cells << it.key() + "=" + it.value();
        got << r.dtstr + " " + cells.join(' ');
    }
    // Input 1 of 517: maxima 40 (08h), 46 (09h), none, 36 (11h) -> readings 20, 23, -, 18:
    // rows 20 and 3; the fall to 18 writes nothing. Input 3: 8, 12, -, 31 -> 4, 6, -, 15:
    // rows -4, -2, -9. Input 2 of 12: 6 (08h), 16 (10h) -> 3, 8: counts 3 and 5, both odd: the
    // first rounded up (2/-2), the second down (2/-2).
    QCOMPARE(got, (QStringList{
                      "19.05.2009 08:00:00 IN517=20 INKOLVO=20 OUT517=0 OUTKOLVO=0",
                      "19.05.2009 09:00:00 IN517=3 INKOLVO=3 OUT517=0 OUTKOLVO=0",
                      "19.05.2009 08:00:00 IN517=0 INKOLVO=0 OUT517=-4 OUTKOLVO=-4",
                      "19.05.2009 09:00:00 IN517=0 INKOLVO=0 OUT517=-2 OUTKOLVO=-2",
                      "19.05.2009 11:00:00 IN517=0 INKOLVO=0 OUT517=-9 OUTKOLVO=-9",
                      "19.05.2009 08:00:00 IN12=2 INKOLVO=2 OUT12=-2 OUTKOLVO=-2",
                      "19.05.2009 10:00:00 IN12=2 INKOLVO=2 OUT12=-2 OUTKOLVO=-2",
                  }));
    QCOMPARE(rows[0].dateTime, QStringLiteral("39952,3333333333"));
    // Each counted input was exported on its own.
    QCOMPARE(calls_.filter("Export"),
             (QStringList{"Export data_counters num12 1 1", "Export data_counters num34 1 1",
                          "Export data_counters num12 1 1"}));
}

void TestRun::aRealCounterColumnRoundsHalvesToEven() {
    roles_[7] = {2, 1, 1, 1};
    prototype_.realCounters = true;
    prototype_.records[7] = {{at(8, 12, 1), {45.0}}, {at(9, 33, 3), {47.0}}};
    QVERIFY(run(settings({{7, "", "", "g"}})).isEmpty());
    const auto rows = readResult(dir_.filePath("result.dbf"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].values["INKOLVO"], QStringLiteral("22"));
    QCOMPARE(rows[1].values["INKOLVO"], QStringLiteral("2"));
}

void TestRun::carriedInputsShareTheSplitAcrossVehicles() {
    // Odd counts 1 and 1 in two vehicles of one run: the first rounded up, the second down to 0.
    roles_[1] = {4, 1, 1, 1};
    roles_[2] = {4, 1, 1, 1};
    prototype_.records[1] = {{at(9, 1, 1), {qlonglong(2)}}};
    prototype_.records[2] = {{at(9, 1, 1), {qlonglong(2)}}};
    QVERIFY(run(settings({{1, "", "", "g"}, {2, "", "", "g"}})).isEmpty());
    const auto rows = readResult(dir_.filePath("result.dbf"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].values["IN1"], QStringLiteral("1"));
    QCOMPARE(rows[0].values["OUT1"], QStringLiteral("-1"));
}

void TestRun::statusAndProgressInOrder() {
    roles_[517] = {2, 1, 1, 1};
    prototype_.busyPasses = 2;
    QVERIFY(run(settings({{517, "ПАЗ", "А123", "g"}})).isEmpty());
    QCOMPARE(recorder_.events,
             (QStringList{"detach", "selection", "msg Получение данных по ПАЗ - А123", "range 100",
                          "pos 50", "pos 50", "msg Расчет по ПАЗ - А123", "range 16", "(0/16)",
                          "(1/16)", "(2/16)", "(3/16)"}));
}

void TestRun::skippedInputsAdvanceTheBar() {
    roles_[9] = {2, 1, 1, 4};
    QVERIFY(run(settings({{9, "", "", "g"}})).isEmpty());
    QCOMPARE(recorder_.only("("), (QStringList{"(0/16)", "(1/16)", "(2/16)", "(3/16)", "(12/16)",
                                               "(13/16)", "(14/16)", "(15/16)"}));
    QCOMPARE(calls_.filter("Export"),
             (QStringList{"Export data_counters num12 1 1", "Export data_counters num34 1 1"}));
}

void TestRun::vehicleWithoutCountedInputIsListedNotComputed() {
    roles_[5] = {1, 1, 1, 1};
    // 6 has no section at all: every role reads 0.
    roles_[8] = {1, 3, 1, 1};
    const auto failures = run(settings({{5, "ЛиАЗ", "", "g"}, {6, "", "", "g"}, {8, "", "", "g"}}));
    QCOMPARE(failures.size(), 2);
    QCOMPARE(failures[0].vehicle, QStringLiteral("ЛиАЗ"));
    QCOMPARE(failures[0].message, QStringLiteral("К данному ТС не подключен ни один датчик"));
    QCOMPARE(failures[1].vehicle, QStringLiteral("6"));
    QCOMPARE(calls_.filter("StartComputing").size(), 1);
    QVERIFY(calls_.filter("StartComputing")[0].contains(" 8 "));
}

void TestRun::channelAndPeriodReachTheServer() {
    roles_[517] = {2, 1, 1, 1};
    RunSettings s = settings({{517, "", "", "grp17.dat"}});
    s.channel = "USB";
    QVERIFY(run(s).isEmpty());
    QCOMPARE(calls_.mid(0, 3),
             (QStringList{"SetGroupIndexByFileName grp17.dat",
                          "StartComputing grp17.dat 517 19.05.2009 08:00:00 19.05.2009 12:00:00 "
                          "USB 0",
                          "TripIndex 1"}));
}

void TestRun::noTripsGivesNoRowsAndNoFailure() {
    roles_[517] = {2, 2, 2, 2};
    prototype_.trips[517] = 0;
    QVERIFY(run(settings({{517, "", "", "g"}})).isEmpty());
    QVERIFY(calls_.filter("Export").isEmpty());
    QCOMPARE(readResult(dir_.filePath("result.dbf")).size(), 0);
}

void TestRun::unreachableServerListsEveryVehicle() {
    roles_[1] = roles_[2] = {2, 1, 1, 1};
    prototype_.failEverything = true;
    const auto failures = run(settings({{1, "A", "", "g"}, {2, "B", "", "g"}}));
    QCOMPARE(failures.size(), 2);
    QCOMPARE(failures[0].vehicle, QStringLiteral("A"));
    QCOMPARE(failures[0].message, QStringLiteral("Сервер недоступен"));
    QCOMPARE(failures[1].vehicle, QStringLiteral("B"));
    QCOMPARE(readResult(dir_.filePath("result.dbf")).size(), 0);
}

void TestRun::missingExportEndsOnlyThatVehicle() {
    roles_[1] = roles_[2] = {2, 1, 1, 1};
    prototype_.records[2] = {{at(8, 30, 30), {qlonglong(10)}}};
    // The first vehicle's export produces no table; the second one's does.
    int exports = 0;
    Calculation calc(
        settings({{1, "A", "", "g"}, {2, "B", "", "g"}}), recorder_, [] { return false; },
        [this, &exports] {
            struct Skipping : FakeServer {
                int *n;
                void ExportListToFile(const QString &p, const QString &l, const QString &k,
                                      std::int32_t a, std::int32_t b) override {
                    if ((*n)++ > 0) FakeServer::ExportListToFile(p, l, k, a, b);
                }
            };
            auto s = std::make_unique<Skipping>();
            static_cast<FakeServer &>(*s) = prototype_;
            s->n = &exports;
            return std::unique_ptr<CounterServer>(std::move(s));
        },
        [this](const QString &) { return std::make_unique<FakeRoles>(&roles_); });
    runOnItsOwnThread(calc);
    QCOMPARE(calc.failures().size(), 1);
    QCOMPARE(calc.failures()[0].vehicle, QStringLiteral("A"));
    QVERIFY(!calc.failures()[0].message.isEmpty());
    const auto rows = readResult(dir_.filePath("result.dbf"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].values["IN2"], QStringLiteral("5"));
}

void TestRun::repeatedDeviceFailsTheTableAndProcessesNothing() {
    roles_[3] = {2, 1, 1, 1};
    const auto failures = run(settings({{3, "", "", "g"}, {3, "", "", "g"}}));
    QCOMPARE(failures.size(), 1);
    QVERIFY(failures[0].vehicle.isEmpty());
    QVERIFY2(failures[0].message.startsWith("Таблица результатов не создана: "),
             qPrintable(failures[0].message));
    QVERIFY(calls_.isEmpty());
    QVERIFY(!QFile::exists(dir_.filePath("result.dbf")));
}

void TestRun::cancelBeforeTheRunKeepsTheOldTable() {
    QFile old(dir_.filePath("result.dbf"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old table");
    old.close();
    roles_[1] = {2, 1, 1, 1};
    QVERIFY(run(settings({{1, "", "", "g"}}), [] { return true; }).isEmpty());
    QVERIFY(recorder_.events.isEmpty());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old table"));
}

void TestRun::cancelWhileTheServerComputes() {
    roles_[1] = roles_[2] = {2, 1, 1, 1};
    prototype_.busyPasses = 1000000;
    bool cancel = false;
    int reads = 0;
    prototype_.onBusy = [&] {
        if (++reads == 3) cancel = true;
    };
    QVERIFY(run(settings({{1, "", "", "g"}, {2, "", "", "g"}}), [&] { return cancel; }).isEmpty());
    QCOMPARE(reads, 3); // the wait ends within one pass
    QVERIFY(calls_.filter("Export").isEmpty());
    QCOMPARE(calls_.filter("StartComputing").size(), 1); // no further vehicle
}

void TestRun::cancelDuringCountingKeepsTheRowsSoFar() {
    roles_[1] = {2, 1, 1, 1};
    roles_[2] = {2, 1, 1, 1};
    prototype_.records[1] = {{at(8, 30, 30), {qlonglong(10)}},
                             {at(9, 30, 30), {qlonglong(20)}},
                             {at(10, 30, 30), {qlonglong(30)}}};
    bool cancel = false;
    int intervals = 0;
    recorder_.onInterval = [&] {
        if (++intervals == 2) cancel = true; // after the first interval was counted
    };
    QVERIFY(run(settings({{1, "", "", "g"}, {2, "", "", "g"}}), [&] { return cancel; }).isEmpty());
    const auto rows = readResult(dir_.filePath("result.dbf"));
    QCOMPARE(rows.size(), 2); // 08:00 and the 09:00 interval that had already begun
    QCOMPARE(calls_.filter("StartComputing").size(), 1);
}

void TestRun::emptyPeriodCreatesTheTableOnly() {
    roles_[1] = {2, 1, 1, 1};
    prototype_.records[1] = {{at(8, 30, 30), {qlonglong(10)}}};
    RunSettings s = settings({{1, "", "", "g"}});
    s.timeEnd = s.timeBegin;
    QVERIFY(run(s).isEmpty());
    const auto t = kp::localsql::DbfTable::read(dir_.filePath("result.dbf"));
    QCOMPARE(t.recordCount(), 0);
    QCOMPARE(t.fieldCount(), 6);
    QVERIFY(recorder_.only("(").isEmpty());
}

void TestRun::vehicleLabels_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("label");
    QTest::newRow("model and number") << "ПАЗ"
                                      << "А123"
                                      << "ПАЗ - А123";
    QTest::newRow("model only") << "ПАЗ"
                                << ""
                                << "ПАЗ";
    QTest::newRow("neither") << ""
                             << ""
                             << "517";
}

void TestRun::vehicleLabels() {
    QFETCH(QString, model);
    QFETCH(QString, number);
    QFETCH(QString, label);
    QCOMPARE(vehicleLabel({517, model, number, "g"}), label);
}

void TestRun::threadHandsOverEveryChangeInOrder() {
    // A long run of intervals is handed to the window thinned out, but in order, and each input
    // ends on its last interval before the next change.
    roles_[1] = {2, 1, 1, 2};
    roles_[2] = {3, 1, 1, 1};
    RunSettings s = settings({{1, "", "", "g"}, {2, "", "", "g"}});
    s.timeBegin = QTime(0, 0);
    s.dateEnd = s.dateBegin.addDays(3);
    s.timeEnd = QTime(0, 0);
    s.intervalsPerDay = 1440; // 4,320 intervals an input
    kp::calc::CountThread thread(
        s,
        [this] { return std::unique_ptr<CounterServer>(std::make_unique<FakeServer>(prototype_)); },
        [this](const QString &) { return std::make_unique<FakeRoles>(&roles_); });
    QStringList seen;
    connect(
        &thread, &CountThread::statusMessageChanged, &thread,
        [&](const QString &t) { seen << "msg " + t; }, Qt::DirectConnection);
    connect(
        &thread, &CountThread::progressRangeChanged, &thread,
        [&](qint64 m) { seen << QString("range %1").arg(m); }, Qt::DirectConnection);
    connect(
        &thread, &CountThread::intervalCounted, &thread,
        [&](qint64 k, qint64 t) { seen << QString("(%1/%2)").arg(k).arg(t); },
        Qt::DirectConnection);
    thread.start();
    QVERIFY(thread.wait(60000));
    QVERIFY(thread.failures().isEmpty());
    // Between two other changes the intervals rise, begin with the first and end with the last.
    QStringList segment;
    QList<QStringList> segments;
    for (const QString &e : seen + QStringList{"end"}) {
        if (e.startsWith('(')) {
            segment << e;
        } else if (!segment.isEmpty()) {
            segments << segment;
            segment.clear();
        }
    }
    QCOMPARE(segments.size(), 2);
    QCOMPARE(segments[0].first(), QStringLiteral("(0/17280)"));
    QCOMPARE(segments[0].last(), QStringLiteral("(17279/17280)"));
    QCOMPARE(segments[1].first(), QStringLiteral("(0/17280)"));
    QCOMPARE(segments[1].last(), QStringLiteral("(4319/17280)"));
    QVERIFY(segments[0].contains("(4319/17280)"));  // the last of input 1, before the jump
    QVERIFY(segments[0].contains("(12960/17280)")); // the first of input 4
    for (const QStringList &seg : segments) {
        qint64 previous = -1;
        for (const QString &e : seg) {
            const qint64 k = e.mid(1, e.indexOf('/') - 1).toLongLong();
            QVERIFY(k > previous);
            previous = k;
        }
    }
}

QTEST_GUILESS_MAIN(TestRun)
#include "TestRun.moc"
