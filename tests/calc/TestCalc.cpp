// The run's interval arithmetic, the counting of one input and the statements it sends.
#include "calc/Counting.h"
#include "calc/Intervals.h"
#include "calc/Statements.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"

#include <QtTest>

using namespace kp::calc;

Q_DECLARE_METATYPE(QList<QVariant>)

namespace {
double at(int y, int mo, int d, int h = 0, int mi = 0) {
    return kp::toSerial(QDate(y, mo, d), QTime(h, mi));
}
const double kWeek = 1.0 / 7.0;

// Rows as "in/out" texts, "-" for an interval that writes nothing.
QStringList countRows(int role, const QList<QVariant> &maxima, int &splitSign) {
    InputCounter c(role, splitSign);
    QStringList rows;
    for (const QVariant &v : maxima) {
        auto r = c.next(v);
        rows << (r ? QStringLiteral("%1/%2").arg(r->in).arg(r->out) : QStringLiteral("-"));
    }
    return rows;
}
} // namespace

class TestCalc : public QObject {
    Q_OBJECT
private slots:
    void intervalCount_data();
    void intervalCount();
    void firstIntervalAlignment_data();
    void firstIntervalAlignment();
    void everyWholeMinuteStartsItsOwnInterval();
    void boundTextsUseAPointAndDateTimeTheLocaleSeparator();
    void countedRows_data();
    void countedRows();
    void carriedReadingFollowsTheReadings_data();
    void carriedReadingFollowsTheReadings();
    void splitSignIsSharedByTheInputsOfARun();
    void aCounterValueThatIsNoNumberIsAnError();
    void createTableStatement_data();
    void createTableStatement();
    void intervalQueryStatement();
    void insertStatements_data();
    void insertStatements();
};

void TestCalc::intervalCount_data() {
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<double>("perDay");
    QTest::addColumn<qint64>("count");
    QTest::newRow("00:00-02:00 hourly is just above 2")
        << at(2009, 5, 19) << at(2009, 5, 19, 2) << 24.0 << qint64(3);
    QTest::newRow("whole-day preset hourly")
        << at(2009, 5, 19) << at(2009, 5, 20) << 24.0 << qint64(24);
    QTest::newRow("yesterday in 2025 hourly")
        << at(2025, 3, 9) << at(2025, 3, 10) << 24.0 << qint64(24);
    QTest::newRow("08:00-20:00 hourly")
        << at(2009, 5, 19, 8) << at(2009, 5, 19, 20) << 24.0 << qint64(12);
    QTest::newRow("10 days weekly") << at(2009, 5, 1) << at(2009, 5, 11) << kWeek << qint64(2);
    QTest::newRow("one week weekly") << at(2009, 5, 11) << at(2009, 5, 18) << kWeek << qint64(1);
    QTest::newRow("one week by the minute")
        << at(2024, 6, 3) << at(2024, 6, 10) << 1440.0 << qint64(10080);
    QTest::newRow("end equals start")
        << at(2009, 5, 19, 8) << at(2009, 5, 19, 8) << 24.0 << qint64(0);
    QTest::newRow("end before start")
        << at(2009, 5, 19, 20) << at(2009, 5, 19, 8) << 24.0 << qint64(-12);
}

void TestCalc::intervalCount() {
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(double, perDay);
    QFETCH(qint64, count);
    QCOMPARE(kp::calc::intervalCount(start, end, perDay), count);
}

void TestCalc::firstIntervalAlignment_data() {
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("perDay");
    QTest::addColumn<QDateTime>("first");
    QTest::newRow("08:20 hourly starts at 08:00")
        << at(2009, 5, 19, 8, 20) << 24.0 << QDateTime(QDate(2009, 5, 19), QTime(8, 0));
    QTest::newRow("08:00 hourly") << at(2009, 5, 19, 8) << 24.0
                                  << QDateTime(QDate(2009, 5, 19), QTime(8, 0));
    QTest::newRow("08:47 in 30 minutes")
        << at(2009, 5, 19, 8, 47) << 48.0 << QDateTime(QDate(2009, 5, 19), QTime(8, 30));
    QTest::newRow("08:47 in 10 minutes")
        << at(2009, 5, 19, 8, 47) << 144.0 << QDateTime(QDate(2009, 5, 19), QTime(8, 40));
    QTest::newRow("08:47 in 5 minutes")
        << at(2009, 5, 19, 8, 47) << 288.0 << QDateTime(QDate(2009, 5, 19), QTime(8, 45));
    QTest::newRow("13:00 daily starts at midnight")
        << at(2009, 5, 19, 13) << 1.0 << QDateTime(QDate(2009, 5, 19), QTime(0, 0));
    // 16.05.2009 is a Saturday: its midnight is a day number divisible by 7.
    QTest::newRow("Saturday midnight weekly keeps its own week")
        << at(2009, 5, 16) << kWeek << QDateTime(QDate(2009, 5, 16), QTime(0, 0));
    QTest::newRow("Saturday midnight 2024 weekly")
        << at(2024, 6, 8) << kWeek << QDateTime(QDate(2024, 6, 8), QTime(0, 0));
    QTest::newRow("Wednesday weekly goes back to Saturday")
        << at(2009, 5, 20, 9) << kWeek << QDateTime(QDate(2009, 5, 16), QTime(0, 0));
    QTest::newRow("Friday 23:59 weekly goes back a week")
        << at(2009, 5, 15, 23, 59) << kWeek << QDateTime(QDate(2009, 5, 9), QTime(0, 0));
}

void TestCalc::firstIntervalAlignment() {
    QFETCH(double, start);
    QFETCH(double, perDay);
    QFETCH(QDateTime, first);
    IntervalGrid g(start, perDay);
    QCOMPARE(kp::serialToDateTime(g.start(0)), first);
    QVERIFY(g.start(0) <= start);
    QVERIFY(start < g.end(0));
    // The intervals follow each other without gaps.
    QCOMPARE(g.end(0), g.start(0) + 1.0 / perDay);
    QCOMPARE(kp::serialToDateTime(g.start(1)), first.addSecs(qint64(86400.0 / perDay + 0.5)));
}

void TestCalc::everyWholeMinuteStartsItsOwnInterval() {
    // Many minutes times 1440 come out a hair below the whole number; the first interval must
    // still start at the period start, or the last minute of the period is never counted.
    for (int day = 0; day < 40; day += 3) {
        const QDate date = QDate(2024, 1, 1).addDays(day);
        for (int minute = 0; minute < 1440; ++minute) {
            const QTime time = QTime(0, 0).addSecs(minute * 60);
            const double start = kp::toSerial(date, time);
            IntervalGrid g(start, 1440.0);
            if (kp::serialToDateTime(g.start(0)) != QDateTime(date, time))
                QFAIL(qPrintable(QStringLiteral("%1 %2").arg(date.toString(), time.toString())));
        }
    }
}

void TestCalc::boundTextsUseAPointAndDateTimeTheLocaleSeparator() {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QCOMPARE(boundText(39952.5), QStringLiteral("39952.5"));
    QCOMPARE(dateTimeText(39952.5, ru), QStringLiteral("39952,5"));
    QCOMPARE(boundText(39952.0 + 1.0 / 24.0), QStringLiteral("39952.0416666667"));
    QCOMPARE(displayText(39952.5, ru), QStringLiteral("19.05.2009 12:00:00"));
    QCOMPARE(displayText(39952.0, ru), QStringLiteral("19.05.2009"));
}

void TestCalc::countedRows_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<QList<QVariant>>("maxima");
    QTest::addColumn<QStringList>("rows");
    const QVariant none;
    auto ints = [](std::initializer_list<qlonglong> v) {
        QList<QVariant> l;
        for (qlonglong x : v)
            l << QVariant(x);
        return l;
    };
    QTest::newRow("entering: none 40 46 46 30 36")
        << 2 << (QList<QVariant>{none} + ints({40, 46, 46, 30, 36}))
        << QStringList{"-", "20/0", "3/0", "-", "-", "3/0"};
    QTest::newRow("entering: 32-bit integers as well")
        << 2 << QList<QVariant>{QVariant(int(9)), QVariant(int(15))} << QStringList{"4/0", "3/0"};
    QTest::newRow("an empty interval keeps the carried reading")
        << 2 << QList<QVariant>{QVariant(qlonglong(10)), none, none, QVariant(qlonglong(20))}
        << QStringList{"5/0", "-", "-", "5/0"};
    QTest::newRow("leaving: counts 4 and 2") << 3 << ints({8, 12}) << QStringList{"0/-4", "0/-2"};
    QTest::newRow("carried: odd 3 5 1 first in the run")
        << 4 << ints({6, 16, 18}) << QStringList{"2/-2", "2/-2", "1/-1"};
    QTest::newRow("carried: odd 1 and 1") << 4 << ints({2, 4}) << QStringList{"1/-1", "-"};
    QTest::newRow("carried: even counts are halved") << 4 << ints({8}) << QStringList{"2/-2"};
    QTest::newRow("real column: 45 then 47")
        << 2 << QList<QVariant>{QVariant(45.0), QVariant(47.0)} << QStringList{"22/0", "2/0"};
    QTest::newRow("real column: halves round to even")
        << 2 << QList<QVariant>{QVariant(3.0), QVariant(5.0), QVariant(7.0)}
        << QStringList{"2/0", "-", "2/0"};
    QTest::newRow("role 1 and unknown roles write nothing")
        << 0 << ints({40, 60}) << QStringList{"-", "-"};
    QTest::newRow("role 7 writes nothing") << 7 << ints({40}) << QStringList{"-"};
}

void TestCalc::countedRows() {
    QFETCH(int, role);
    QFETCH(QList<QVariant>, maxima);
    QFETCH(QStringList, rows);
    int splitSign = 0;
    QCOMPARE(countRows(role, maxima, splitSign), rows);
}

void TestCalc::carriedReadingFollowsTheReadings_data() {
    QTest::addColumn<QList<QVariant>>("maxima");
    QTest::addColumn<double>("carried");
    QTest::newRow("after a restart the lower reading")
        << QList<QVariant>{QVariant(), QVariant(qlonglong(40)), QVariant(qlonglong(46)),
                           QVariant(qlonglong(46)), QVariant(qlonglong(30))}
        << 15.0;
    QTest::newRow("odd integer halves toward zero")
        << QList<QVariant>{QVariant(qlonglong(41))} << 20.0;
    QTest::newRow("22.5 to the even 22") << QList<QVariant>{QVariant(45.0)} << 22.0;
    QTest::newRow("23.5 to the even 24") << QList<QVariant>{QVariant(45.0), QVariant(47.0)} << 24.0;
    QTest::newRow("no data at all") << QList<QVariant>{QVariant(), QVariant()} << 0.0;
}

void TestCalc::carriedReadingFollowsTheReadings() {
    QFETCH(QList<QVariant>, maxima);
    QFETCH(double, carried);
    int splitSign = 0;
    InputCounter c(RoleEntering, splitSign);
    for (const QVariant &v : maxima)
        c.next(v);
    QCOMPARE(c.carried(), carried);
}

void TestCalc::splitSignIsSharedByTheInputsOfARun() {
    // One run: the first odd count of the second input is rounded down because the first
    // input's odd count was rounded up.
    int splitSign = 0;
    QCOMPARE(countRows(RoleCarried, {QVariant(qlonglong(6))}, splitSign), QStringList{"2/-2"});
    QCOMPARE(splitSign, 1);
    QCOMPARE(countRows(RoleCarried, {QVariant(qlonglong(6))}, splitSign), QStringList{"1/-1"});
    QCOMPARE(splitSign, -1);
    // Entering and leaving inputs never touch it.
    countRows(RoleEntering, {QVariant(qlonglong(6))}, splitSign);
    QCOMPARE(splitSign, -1);
}

void TestCalc::aCounterValueThatIsNoNumberIsAnError() {
    int splitSign = 0;
    InputCounter c(RoleEntering, splitSign);
    QVERIFY_THROWS_EXCEPTION(kp::EDatabaseError, c.next(QVariant(QStringLiteral("abc"))));
    QCOMPARE(c.next(QVariant(QStringLiteral("40")))->in, 20);
}

void TestCalc::createTableStatement_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("sql");
    QTest::newRow("no vehicles")
        << "/opt/kp/result.dbf" << QStringList{}
        << "CREATE TABLE '/opt/kp/result.dbf' (DateTime VARCHAR(20), DTSTR VARCHAR(20), INKolvo "
           "VARCHAR(10), OUTKolvo VARCHAR(10) )";
    QTest::newRow("two vehicles")
        << "/opt/kp/result.dbf" << QStringList{"12", "345"}
        << "CREATE TABLE '/opt/kp/result.dbf' (DateTime VARCHAR(20), DTSTR VARCHAR(20), INKolvo "
           "VARCHAR(10), OUTKolvo VARCHAR(10) , IN12 VARCHAR(10), OUT12 VARCHAR(10), IN345 "
           "VARCHAR(10), OUT345 VARCHAR(10))";
    QTest::newRow("a quote in the path is doubled")
        << "/home/o'neil/result.dbf" << QStringList{"7"}
        << "CREATE TABLE '/home/o''neil/result.dbf' (DateTime VARCHAR(20), DTSTR VARCHAR(20), "
           "INKolvo VARCHAR(10), OUTKolvo VARCHAR(10) , IN7 VARCHAR(10), OUT7 VARCHAR(10))";
}

void TestCalc::createTableStatement() {
    QFETCH(QString, path);
    QFETCH(QStringList, devices);
    QFETCH(QString, sql);
    QCOMPARE(createResultTableSql(path, devices), sql);
}

void TestCalc::intervalQueryStatement() {
    QCOMPARE(intervalMaxSql("/opt/kp/temp.dbf", 3, "39952.3333333333", "39952.375"),
             QStringLiteral("SELECT MAX(COUNTER3) as ValueC FROM '/opt/kp/temp.dbf' WHERE "
                            "(TDATETIME > '39952.3333333333') AND (TDATETIME < '39952.375')"));
}

void TestCalc::insertStatements_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<qint64>("in");
    QTest::addColumn<qint64>("out");
    QTest::addColumn<QString>("sql");
    const QString head = "INSERT INTO '/opt/kp/result.dbf' ";
    QTest::newRow("entering") << 2 << qint64(20) << qint64(0)
                              << head + "(DateTime, DTSTR, INKolvo, OUTKolvo, IN517, OUT517) "
                                        "VALUES ('39952,5', '19.05.2009 12:00:00', '20', '0', "
                                        "'20', '0')";
    QTest::newRow("leaving") << 3 << qint64(0) << qint64(-4)
                             << head + "(DateTime, DTSTR, INKolvo, OUTKolvo, IN517, OUT517) "
                                       "VALUES ('39952,5', '19.05.2009 12:00:00', '0', '-4', "
                                       "'0', '-4')";
    QTest::newRow("carried") << 4 << qint64(2) << qint64(-2)
                             << head + "(DateTime, DTSTR, INKolvo, IN517, OUTKolvo, OUT517) "
                                       "VALUES ('39952,5', '19.05.2009 12:00:00', '2', '2', "
                                       "'-2', '-2')";
}

void TestCalc::insertStatements() {
    QFETCH(int, role);
    QFETCH(qint64, in);
    QFETCH(qint64, out);
    QFETCH(QString, sql);
    QCOMPARE(
        insertRowSql("/opt/kp/result.dbf", role, "517", "39952,5", "19.05.2009 12:00:00", in, out),
        sql);
}

QTEST_GUILESS_MAIN(TestCalc)
#include "TestCalc.moc"
