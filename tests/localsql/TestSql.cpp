// SQL over dBASE files: the statements of the calculation and the result display run as written
// with the results they rely on, tables follow their files on disk, failures name the table and
// change no file, and the index and the statement cache give exactly what a plain run gives.
#include "Fixtures.h"
#include "TestSuites.h"
#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"
#include "platform/localsql/Query.h"
#include "platform/localsql/SqlText.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

using namespace kp::localsql;
using fixtures::quoted;

namespace {

constexpr double kNoon = 39952.5; // 19.05.2009 12:00

// 120 records, one a minute from 12:00:30: COUNTER1 = 2i, COUNTER2 = i, and one record stamped
// exactly 39952.4 (09:36) with 999 in both.
void writeTemp(const QString &path, int decimals = 0) {
    QList<double> stamps;
    QList<QList<QVariant>> counters;
    for (int i = 0; i < 120; ++i) {
        stamps << kNoon + (i * 60 + 30) / 86400.0;
        counters << QList<QVariant>{2 * i, i};
    }
    stamps << 39952.4;
    counters << QList<QVariant>{999, 999};
    fixtures::writeTempTable(path, stamps, counters, decimals);
}

ResultSet select(const QString &sql) {
    Query q(sql);
    q.open();
    return *q.resultSet();
}

void exec(const QString &sql) {
    Query q(sql);
    q.execSql();
}

QString messageOf(const std::function<void()> &fn) {
    try {
        fn();
    } catch (const kp::EDatabaseError &e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

// Values compared with their types: an integer must come as an integer, a real as a real.
bool sameValue(const QVariant &a, const QVariant &b) {
    if (a.isValid() != b.isValid()) return false;
    if (!a.isValid()) return true;
    return a.typeId() == b.typeId() && a == b;
}

QString show(const QVariant &v) {
    return v.isValid() ? QStringLiteral("%1(%2)").arg(v.typeName(), v.toString())
                       : QStringLiteral("null");
}

QString showRows(const QList<QVariantList> &rows) {
    QStringList out;
    for (const QVariantList &r : rows) {
        QStringList cells;
        for (const QVariant &v : r)
            cells << show(v);
        out << u'[' + cells.join(QStringLiteral(", ")) + u']';
    }
    return out.join(u' ');
}

bool sameRows(const QList<QVariantList> &a, const QList<QVariantList> &b) {
    if (a.size() != b.size()) return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (int j = 0; j < a[i].size(); ++j)
            if (!sameValue(a[i][j], b[i][j])) return false;
    }
    return true;
}

#define COMPARE_ROWS(actual, expected)                                                             \
    QVERIFY2(sameRows(actual, expected),                                                           \
             qPrintable(                                                                           \
                 QStringLiteral("got %1, expected %2").arg(showRows(actual), showRows(expected))))

const QString kCreateResult = QStringLiteral(
    "CREATE TABLE %1 (DateTime VARCHAR(20), DTSTR VARCHAR(20), INKolvo VARCHAR(10), OUTKolvo "
    "VARCHAR(10) , IN12 VARCHAR(10), OUT12 VARCHAR(10), IN345 VARCHAR(10), OUT345 VARCHAR(10))");
const QString kInsert1 = QStringLiteral(
    "INSERT INTO %1 (DateTime, DTSTR, INKolvo, OUTKolvo, IN12, OUT12) VALUES ('39952,5', "
    "'19.05.2009 12:00:00', '20', '0', '20', '0')");
const QString kInsert2 = QStringLiteral(
    "INSERT INTO %1 (DateTime, DTSTR, INKolvo, IN345, OUTKolvo, OUT345) VALUES ('39952,5', "
    "'19.05.2009 12:00:00', '2', '2', '-2', '-2')");
const QString kMax = QStringLiteral(
    "SELECT MAX(COUNTER%1) as ValueC FROM %2 WHERE (TDATETIME > '%3') AND (TDATETIME < '%4')");
const QString kCount = QStringLiteral("SELECT COUNT(*) as count1 FROM %1");
const QString kTotals = QStringLiteral("SELECT SUM(CAST(INKolvo as integer)) as INKolvo, "
                                       "SUM(CAST(OUTKolvo as integer)) as OUTKolvo FROM %1");
const QString kGridInOut = QStringLiteral(
    "SELECT DateTime, DTSTR, SUM(CAST(INKolvo as integer)) as INKolvo, SUM(-CAST(OUTKolvo as "
    "integer)) as OUTKolvo , SUM(CAST(IN12 as integer)) as IN12, SUM(-CAST(OUT12 as integer)) as "
    "OUT12 FROM %1 GROUP BY DateTime, DTSTR ORDER BY DateTime");
const QString kGridCarried = QStringLiteral(
    "SELECT DateTime, DTSTR, SUM(CAST(INKolvo as integer)) as INKolvo, 0 as OUTKolvo , "
    "SUM(CAST(IN12 as integer)) + SUM(-CAST(OUT12 as integer)) as IN12, SUM(-CAST(OUT12 as "
    "integer)) as OUT12 FROM %1 GROUP BY DateTime, DTSTR ORDER BY DateTime");

} // namespace

class TestSql : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Engine::closeForThisThread(); }
    void statementsOfARunAndItsDisplay();
    void highestReadingOfAnInterval_data();
    void highestReadingOfAnInterval();
    void resultTableAggregates_data();
    void resultTableAggregates();
    void indexAndScanGiveTheSameRows();
    void cachedStatementsGiveTheSameResults();
    void statementShapes_data();
    void statementShapes();
    void tablesFollowTheirFiles();
    void pathsDifferingInCaseAreDifferentTables();
    void failuresNameTheTableAndChangeNoFile_data();
    void failuresNameTheTableAndChangeNoFile();
    void insertFailingAtTheNthOperationKeepsTheTable_data();
    void insertFailingAtTheNthOperationKeepsTheTable();
    void resultTableForManyVehicles_data();
    void resultTableForManyVehicles();
    void queryObjectWalksItsRows();
    void eachThreadHasItsOwnConnection();
};

void TestSql::statementsOfARunAndItsDisplay() {
    fixtures::OddFolder dir;
    QVERIFY(dir.isValid());
    const QString temp = dir.path(QStringLiteral("temp.dbf"));
    const QString result = dir.path(QStringLiteral("result.dbf"));
    writeTemp(temp);
    const QString R = quoted(result), T = quoted(temp);

    exec(kCreateResult.arg(R));
    const DbfTable created = DbfTable::read(result);
    QCOMPARE(created.fieldCount(), 8);
    QCOMPARE(created.recordCount(), 0);
    for (const DbfField &f : created.fields())
        QCOMPARE(f.type, 'C');
    QCOMPARE(created.fields()[1].length, 20);
    QCOMPARE(created.fields()[7].length, 10);

    exec(kInsert1.arg(R));
    exec(kInsert2.arg(R));
    // Each row is in the file at once.
    QCOMPARE(DbfTable::read(result).recordCount(), 2);

    COMPARE_ROWS(select(kMax.arg(1).arg(T, "39952.5", "39952.5416666667")).rows,
                 (QList<QVariantList>{{118}}));
    ResultSet r = select(kCount.arg(R));
    QCOMPARE(r.names, QStringList{"count1"});
    COMPARE_ROWS(r.rows, (QList<QVariantList>{{2}}));
    r = select(kTotals.arg(R));
    QCOMPARE(r.names, (QStringList{"INKolvo", "OUTKolvo"}));
    COMPARE_ROWS(r.rows, (QList<QVariantList>{{22, -2}}));
    r = select(kGridInOut.arg(R));
    QCOMPARE(r.names, (QStringList{"DateTime", "DTSTR", "INKolvo", "OUTKolvo", "IN12", "OUT12"}));
    COMPARE_ROWS(r.rows,
                 (QList<QVariantList>{{QStringLiteral("39952,5"),
                                       QStringLiteral("19.05.2009 12:00:00"), 22, 2, 20, 0}}));
    r = select(kGridCarried.arg(R));
    COMPARE_ROWS(r.rows,
                 (QList<QVariantList>{{QStringLiteral("39952,5"),
                                       QStringLiteral("19.05.2009 12:00:00"), 22, 0, 20, 0}}));

    // The independent reader sees the two rows, other vehicles' columns empty.
    const QJsonObject o = fixtures::independentRead(result);
    const QJsonArray recs = o[QStringLiteral("records")].toArray();
    QCOMPARE(recs.size(), 2);
    QCOMPARE(recs[0].toObject()[QStringLiteral("DateTime")].toString(), QStringLiteral("39952,5"));
    QCOMPARE(recs[0].toObject()[QStringLiteral("IN12")].toString(), QStringLiteral("20"));
    QCOMPARE(recs[0].toObject()[QStringLiteral("IN345")].toString(), QString());
    QCOMPARE(recs[1].toObject()[QStringLiteral("OUT345")].toString(), QStringLiteral("-2"));
}

void TestSql::highestReadingOfAnInterval_data() {
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("counter");
    QTest::addColumn<QString>("lo");
    QTest::addColumn<QString>("hi");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("first hour") << 0 << 1 << "39952.5"
                                << "39952.5416666667" << QVariant(118);
    QTest::newRow("second hour, other counter") << 0 << 2 << "39952.5416666667"
                                                << "39952.5833333333" << QVariant(119);
    QTest::newRow("hour without records is null") << 0 << 1 << "39952.625"
                                                  << "39952.6666666667" << QVariant();
    QTest::newRow("one minute") << 0 << 1 << "39952.5006944444"
                                << "39952.5013888889" << QVariant(2);
    QTest::newRow("record on the lower bound belongs to neither")
        << 0 << 1 << "39952.4"
        << "39952.4006944444" << QVariant();
    QTest::newRow("record on the upper bound belongs to neither") << 0 << 1 << "39952.3993055556"
                                                                  << "39952.4" << QVariant();
    QTest::newRow("record inside") << 0 << 1 << "39952.3993055556"
                                   << "39952.4006944444" << QVariant(999);
    // Compared as text, '39952...' > '9' would be false: the comparison must be numeric.
    QTest::newRow("numeric, not text, comparison") << 0 << 1 << "9"
                                                   << "100000" << QVariant(999);
    QTest::newRow("real counters give a real") << 2 << 1 << "39952.5"
                                               << "39952.5416666667" << QVariant(118.0);
    QTest::newRow("real counters, no rows") << 2 << 1 << "39953"
                                            << "39954" << QVariant();
    QTest::newRow("bound that is no number") << 0 << 1 << "abc"
                                             << "abd" << QVariant();
}

void TestSql::highestReadingOfAnInterval() {
    QFETCH(int, decimals);
    QFETCH(int, counter);
    QFETCH(QString, lo);
    QFETCH(QString, hi);
    QFETCH(QVariant, expected);
    QTemporaryDir dir;
    const QString temp = dir.filePath(QStringLiteral("temp.dbf"));
    writeTemp(temp, decimals);
    for (bool indexed : {true, false}) {
        setRangeIndexEnabled(indexed);
        Query q(kMax.arg(counter).arg(quoted(temp), lo, hi));
        q.open();
        QCOMPARE(q.recordCount(), 1);
        const QVariant v = q.fieldByName(QStringLiteral("ValueC"));
        QVERIFY2(sameValue(v, expected), qPrintable(show(v)));
    }
}

void TestSql::resultTableAggregates_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<QVariantList>>("expected");
    const QString s1 = QStringLiteral("19.05.2009 12:00:00"),
                  s2 = QStringLiteral("19.05.2009 13:00:00");
    QTest::newRow("count") << kCount << QList<QVariantList>{{5}};
    QTest::newRow("totals ignore nulls") << kTotals << QList<QVariantList>{{29, -7}};
    QTest::newRow("grid, in and out, groups and orders by text")
        << kGridInOut
        << QList<QVariantList>{{"39952,5", s1, 22, 2, 20, 0}, {"39952,5416666667", s2, 7, 5, 4, 3}};
    QTest::newRow("grid, carried")
        << kGridCarried
        << QList<QVariantList>{{"39952,5", s1, 22, 0, 20, 0}, {"39952,5416666667", s2, 7, 0, 7, 3}};
    QTest::newRow("vehicle without rows sums to null")
        << QStringLiteral("SELECT SUM(CAST(IN777 as integer)) as IN777 FROM %1")
        << QList<QVariantList>{{QVariant()}};
    QTest::newRow("blank field is null")
        << QStringLiteral("SELECT COUNT(IN12) as n, COUNT(*) as m FROM %1")
        << QList<QVariantList>{{2, 5}};
    QTest::newRow("where on text")
        << QStringLiteral("SELECT INKolvo FROM %1 WHERE DTSTR = '19.05.2009 13:00:00' ORDER BY "
                          "INKolvo")
        << QList<QVariantList>{{"0"}, {"3"}, {"4"}};
}

void TestSql::resultTableAggregates() {
    QFETCH(QString, sql);
    QFETCH(QList<QVariantList>, expected);
    QTemporaryDir dir;
    const QString R = quoted(dir.filePath(QStringLiteral("result.dbf")));
    exec(kCreateResult.arg(R).replace(QStringLiteral("OUT345 VARCHAR(10)"),
                                      QStringLiteral("OUT345 VARCHAR(10), IN777 VARCHAR(10)")));
    exec(kInsert1.arg(R));
    exec(kInsert2.arg(R));
    const QString row = QStringLiteral(
        "INSERT INTO %1 (DateTime, DTSTR, INKolvo, OUTKolvo, %2, %3) VALUES ('39952,5416666667', "
        "'19.05.2009 13:00:00', '%4', '%5', '%4', '%5')");
    exec(row.arg(R, "IN12", "OUT12").arg(4).arg(-3));
    exec(row.arg(R, "IN345", "OUT345").arg(3).arg(-2));
    exec(QStringLiteral("INSERT INTO %1 (DateTime, DTSTR, INKolvo, OUTKolvo) VALUES "
                        "('39952,5416666667', '19.05.2009 13:00:00', '0', '0')")
             .arg(R));
    COMPARE_ROWS(select(sql.arg(R)).rows, expected);
}

void TestSql::indexAndScanGiveTheSameRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("temp.dbf"));
    QRandomGenerator rng(11);
    QList<DbfRow> rows;
    for (int i = 0; i < 3000; ++i) {
        QVariant stamp = rng.bounded(20) == 0
                             ? QVariant()
                             : QVariant(int(rng.bounded(200)) - 50 + int(rng.bounded(4)) * 0.25);
        QVariant n = rng.bounded(10) == 0 ? QVariant() : QVariant(int(rng.bounded(100)) - 20);
        rows << DbfRow{stamp, n, rng.bounded(1000) / 10.0};
    }
    writeDbfTable(path,
                  {dbfNumeric("TDATETIME", 20, 12), dbfNumeric("COUNTER1", 10),
                   dbfNumeric("COUNTER2", 10, 1)},
                  rows);
    const QString T = quoted(path);
    QStringList statements;
    const char *ops[] = {">", ">=", "<", "<=", "="};
    for (int k = 0; k < 150; ++k) {
        const double a = int(rng.bounded(260)) - 80 + int(rng.bounded(4)) * 0.25;
        const double b = a + int(rng.bounded(40));
        const char *op1 = ops[rng.bounded(2)];
        const char *op2 = ops[2 + rng.bounded(2)];
        statements << QStringLiteral("SELECT MAX(COUNTER1) as v, COUNT(*) as c FROM %1 WHERE "
                                     "(TDATETIME %2 '%3') AND (TDATETIME %4 '%5')")
                          .arg(T, op1)
                          .arg(a)
                          .arg(op2)
                          .arg(b);
        statements << QStringLiteral(
                          "SELECT rowid, TDATETIME, COUNTER2 FROM %1 WHERE COUNTER1 %2 %3")
                          .arg(T, ops[rng.bounded(5)])
                          .arg(int(rng.bounded(100)) - 20);
        statements << QStringLiteral("SELECT SUM(COUNTER2) FROM %1 WHERE TDATETIME = '%2' AND "
                                     "COUNTER2 > 50.5")
                          .arg(T)
                          .arg(a);
    }
    statements
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE TDATETIME > 'abc'").arg(T)
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE TDATETIME < 'abc'").arg(T)
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE TDATETIME < NULL").arg(T)
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE TDATETIME > x'00'").arg(T)
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE COUNTER1 > 9223372036854775807").arg(T)
        << QStringLiteral("SELECT COUNT(*) FROM %1 WHERE COUNTER1 >= -9.5e300").arg(T);
    for (const QString &s : statements) {
        setRangeIndexEnabled(true);
        const ResultSet indexed = select(s);
        setRangeIndexEnabled(false);
        const ResultSet scanned = select(s);
        QVERIFY2(sameRows(indexed.rows, scanned.rows),
                 qPrintable(s + QStringLiteral(": ") + showRows(indexed.rows) +
                            QStringLiteral(" / ") + showRows(scanned.rows)));
        QCOMPARE(indexed.names, scanned.names);
    }
}

void TestSql::cachedStatementsGiveTheSameResults() {
    QTemporaryDir dir;
    const QString temp = dir.filePath(QStringLiteral("temp.dbf"));
    writeTemp(temp);
    const QString T = quoted(temp);
    // The run's statements differ only in their bounds: they share one prepared statement.
    QList<QVariant> cached;
    for (int m = 0; m < 180; ++m) {
        const QString lo = QString::number(kNoon + (m - 30) / 1440.0, 'g', 15);
        const QString hi = QString::number(kNoon + (m - 29) / 1440.0, 'g', 15);
        Query q(kMax.arg(1).arg(T, lo, hi));
        q.open();
        cached << q.fieldByName(QStringLiteral("ValueC"));
    }
    QCOMPARE(Engine::forThisThread().cachedStatementCount(), 1);
    for (int m = 0; m < 180; m += 7) {
        Engine::closeForThisThread();
        const QString lo = QString::number(kNoon + (m - 30) / 1440.0, 'g', 15);
        const QString hi = QString::number(kNoon + (m - 29) / 1440.0, 'g', 15);
        const ResultSet fresh = select(kMax.arg(1).arg(T, lo, hi));
        QVERIFY2(sameValue(fresh.rows[0][0], cached[m]), qPrintable(QString::number(m)));
    }
    // Literals that name result columns stay literals.
    ResultSet r = select(
        QStringLiteral("SELECT '5', MAX(COUNTER1) FROM %1 WHERE TDATETIME > '39952.55'").arg(T));
    QCOMPARE(r.names, (QStringList{"'5'", "MAX(COUNTER1)"}));
    COMPARE_ROWS(r.rows, (QList<QVariantList>{{"5", 238}}));
    r = select(
        QStringLiteral("SELECT COUNTER1 = '2' AS two FROM %1 WHERE COUNTER1 < '3' ORDER BY 1")
            .arg(T));
    COMPARE_ROWS(r.rows, (QList<QVariantList>{{0}, {1}}));
}

void TestSql::statementShapes_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<QStringList>("tables");
    QTest::newRow("interval maximum")
        << "SELECT MAX(COUNTER1) as ValueC FROM '/d/temp.dbf' WHERE (TDATETIME > '39952.5') AND "
           "(TDATETIME < '39952.5416666667')"
        << "SELECT MAX(COUNTER1) as ValueC FROM '/d/temp.dbf' WHERE (TDATETIME > ?) AND "
           "(TDATETIME < ?)"
        << QStringList{"39952.5", "39952.5416666667"} << QStringList{"/d/temp.dbf"};
    QTest::newRow("insert values") << "INSERT INTO '/d/it''s.dbf' (A, B) VALUES ('x''y', '-2')"
                                   << "INSERT INTO '/d/it''s.dbf' (A, B) VALUES (?, ?)"
                                   << QStringList{"x'y", "-2"} << QStringList{"/d/it's.dbf"};
    QTest::newRow("expression in values stays")
        << "INSERT INTO 't' (A) VALUES ('a' || 'b')"
        << "INSERT INTO 't' (A) VALUES ('a' || 'b')" << QStringList{} << QStringList{"t"};
    QTest::newRow("select list literal stays")
        << "SELECT 'a' = 'a' FROM \"t x\" WHERE y = 'b'"
        << "SELECT 'a' = 'a' FROM \"t x\" WHERE y = ?" << QStringList{"b"} << QStringList{"t x"};
    QTest::newRow("subquery in the where clause")
        << "SELECT (SELECT 1 FROM 'a' WHERE x = '1'), y = '2' FROM 'b', 'c' q WHERE z > '3'"
        << "SELECT (SELECT 1 FROM 'a' WHERE x = ?), y = '2' FROM 'b', 'c' q WHERE z > ?"
        << QStringList{"1", "3"} << QStringList{"a", "b", "c"};
    QTest::newRow("own parameters: nothing taken out")
        << "SELECT * FROM 't' WHERE a = ? AND b = '1'"
        << "SELECT * FROM 't' WHERE a = ? AND b = '1'" << QStringList{} << QStringList{"t"};
    QTest::newRow("quote in a comment")
        << "SELECT * FROM 't' -- it's\nWHERE a = '1'"
        << "SELECT * FROM 't' -- it's\nWHERE a = ?" << QStringList{"1"} << QStringList{"t"};
    QTest::newRow("create table") << "CREATE TABLE '/d/r.dbf' (DateTime VARCHAR(20))"
                                  << "CREATE TABLE '/d/r.dbf' (DateTime VARCHAR(20))"
                                  << QStringList{} << QStringList{"/d/r.dbf"};
    QTest::newRow("unterminated literal")
        << "SELECT * FROM 't' WHERE a = 'x"
        << "SELECT * FROM 't' WHERE a = 'x" << QStringList{} << QStringList{"t"};
}

void TestSql::statementShapes() {
    QFETCH(QString, sql);
    QFETCH(QString, key);
    QFETCH(QStringList, params);
    QFETCH(QStringList, tables);
    const SqlShape s = analyzeSql(sql.toStdString());
    QCOMPARE(QString::fromStdString(s.key), key);
    QStringList got;
    for (const std::string &p : s.params)
        got << QString::fromStdString(p);
    QCOMPARE(got, params);
    QCOMPARE(s.tables, tables);
}

void TestSql::tablesFollowTheirFiles() {
    fixtures::OddFolder dir;
    const QString temp = dir.path(QStringLiteral("temp.dbf"));
    const QString T = quoted(temp);
    const QString maxAll =
        QStringLiteral("SELECT MAX(COUNTER1) as v FROM %1 WHERE TDATETIME > '0'").arg(T);
    writeTemp(temp);
    COMPARE_ROWS(select(maxAll).rows, (QList<QVariantList>{{999}}));
    // The server rewrites the export: same columns, other values, maybe the same size.
    fixtures::writeTempTable(temp, {kNoon}, {{QVariant(555), QVariant(1)}});
    COMPARE_ROWS(select(maxAll).rows, (QList<QVariantList>{{555}}));
    fixtures::writeTempTable(temp, {kNoon}, {{QVariant(556), QVariant(1)}});
    COMPARE_ROWS(select(maxAll).rows, (QList<QVariantList>{{556}}));
    // Other columns: the table is declared anew.
    fixtures::writeTempTable(temp, {kNoon}, {{QVariant(7), QVariant(8)}}, 0, 3);
    COMPARE_ROWS(select(QStringLiteral("SELECT MAX(COUNTER4) as v FROM %1").arg(T)).rows,
                 (QList<QVariantList>{{8}}));
    QVERIFY(
        messageOf([&] { select(maxAll); }).contains(QStringLiteral("no such column: COUNTER1")));
    // Gone is "no such table"; back again it is read again.
    QVERIFY(QFile::remove(temp));
    QCOMPARE(messageOf([&] { select(maxAll); }),
             QStringLiteral("Table '%1': no such table").arg(temp));
    QCOMPARE(Engine::forThisThread().attachedTables(), QStringList{});
    writeTemp(temp);
    COMPARE_ROWS(select(maxAll).rows, (QList<QVariantList>{{999}}));

    // A run deletes and recreates result.dbf with other vehicles.
    const QString result = dir.path(QStringLiteral("result.dbf"));
    const QString R = quoted(result);
    exec(kCreateResult.arg(R));
    exec(kInsert1.arg(R));
    COMPARE_ROWS(select(kCount.arg(R)).rows, (QList<QVariantList>{{1}}));
    QVERIFY(QFile::remove(result));
    exec(QStringLiteral("CREATE TABLE %1 (DateTime VARCHAR(20), IN9 VARCHAR(10))").arg(R));
    COMPARE_ROWS(select(kCount.arg(R)).rows, (QList<QVariantList>{{0}}));
    exec(QStringLiteral("INSERT INTO %1 (DateTime, IN9) VALUES ('1', '2')").arg(R));
    COMPARE_ROWS(select(QStringLiteral("SELECT IN9 FROM %1").arg(R)).rows,
                 (QList<QVariantList>{{"2"}}));
}

void TestSql::pathsDifferingInCaseAreDifferentTables() {
    QTemporaryDir dir;
    const QString lower = dir.filePath(QStringLiteral("temp.dbf"));
    const QString upper = dir.filePath(QStringLiteral("TEMP.DBF"));
    fixtures::writeTempTable(lower, {kNoon}, {{QVariant(1), QVariant(1)}});
    fixtures::writeTempTable(upper, {kNoon}, {{QVariant(2), QVariant(2)}});
    const QString sql = QStringLiteral("SELECT MAX(COUNTER1) as v FROM %1");
    for (int round = 0; round < 2; ++round) {
        COMPARE_ROWS(select(sql.arg(quoted(lower))).rows, (QList<QVariantList>{{1}}));
        COMPARE_ROWS(select(sql.arg(quoted(upper))).rows, (QList<QVariantList>{{2}}));
    }
}

void TestSql::failuresNameTheTableAndChangeNoFile_data() {
    QTest::addColumn<QString>(
        "sql"); // %R result.dbf, %T temp.dbf, %N new.dbf, %X damaged, %B bad numbers
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("subject"); // R, T, N, X, B or - for none
    QTest::addColumn<QString>("message");
    QTest::newRow("no such table") << "SELECT COUNT(*) as count1 FROM %N" << true << "N"
                                   << "no such table";
    QTest::newRow("table already exists") << "CREATE TABLE %R (A VARCHAR(10))" << false << "R"
                                          << "table already exists";
    QTest::newRow("repeated column name")
        << "CREATE TABLE %N (DateTime VARCHAR(20), IN12 VARCHAR(10), OUT12 VARCHAR(10), IN12 "
           "VARCHAR(10))"
        << false << "N"
        << "duplicate column name: IN12";
    QTest::newRow("repeated column name in another case")
        << "CREATE TABLE %N (DateTime VARCHAR(20), datetime VARCHAR(20))" << false << "N"
        << "duplicate column name";
    QTest::newRow("column name too long")
        << "CREATE TABLE %N (DateTime VARCHAR(20), OUT12345678901234567890123456789 VARCHAR(10))"
        << false << "N"
        << "column name too long";
    QTest::newRow("negative device number")
        << "CREATE TABLE %N (DateTime VARCHAR(20), IN-517 VARCHAR(10), OUT-517 VARCHAR(10))"
        << false << "N"
        << "syntax error";
    QTest::newRow("character column without length")
        << "CREATE TABLE %N (A VARCHAR)" << false << "N"
        << "give the length";
    QTest::newRow("statement SQLite rejects") << "SELEC COUNT(*) FROM %R" << true << "R"
                                              << "near \"SELEC\": syntax error";
    QTest::newRow("no such column") << "SELECT MAX(COUNTER3) as ValueC FROM %T" << true << "T"
                                    << "no such column: COUNTER3";
    QTest::newRow("insert into unknown column")
        << "INSERT INTO %R (DateTime, IN99) VALUES ('1', '2')" << false << "R"
        << "has no column named IN99";
    QTest::newRow("value too long")
        << "INSERT INTO %R (DateTime, DTSTR) VALUES ('1', '123456789012345678901')" << false << "R"
        << "value too long";
    QTest::newRow("second row does not fit: neither is written")
        << "INSERT INTO %R (DateTime) VALUES ('1'), ('123456789012345678901')" << false << "R"
        << "value too long";
    QTest::newRow("damaged file") << "SELECT COUNT(*) as count1 FROM %X" << true << "X"
                                  << "record length";
    QTest::newRow("bad bytes in a numeric field")
        << "SELECT MAX(COUNTER1) FROM %B" << true << "B"
        << "bad bytes in the numeric field COUNTER1 of record 2: '1x'";
    QTest::newRow("bad bytes met by the index")
        << "SELECT MAX(COUNTER2) FROM %B WHERE COUNTER1 > '0'" << true << "B"
        << "bad bytes in the numeric field COUNTER1";
    QTest::newRow("update") << "UPDATE %R SET INKolvo = '1'" << false << "R"
                            << "not supported";
    QTest::newRow("delete") << "DELETE FROM %R" << false << "R"
                            << "not supported";
    QTest::newRow("drop") << "DROP TABLE %R" << false << "R"
                          << "not supported";
    QTest::newRow("two statements") << "SELECT COUNT(*) FROM %R; DELETE FROM %R" << false << "R"
                                    << "one statement at a time";
    QTest::newRow("open of an insert runs nothing")
        << "INSERT INTO %R (DateTime) VALUES ('1')" << true << "R"
        << "gives no result set";
    QTest::newRow("empty statement") << "" << false << "-"
                                     << "empty statement";
}

void TestSql::failuresNameTheTableAndChangeNoFile() {
    QFETCH(QString, sql);
    QFETCH(bool, open);
    QFETCH(QString, subject);
    QFETCH(QString, message);
    fixtures::OddFolder dir;
    QMap<QString, QString> paths{{"R", dir.path("result.dbf")},
                                 {"T", dir.path("temp.dbf")},
                                 {"N", dir.path("new.dbf")},
                                 {"X", dir.path("damaged.dbf")},
                                 {"B", dir.path("numbers.dbf")}};
    writeTemp(paths["T"]);
    exec(kCreateResult.arg(quoted(paths["R"])));
    exec(kInsert1.arg(quoted(paths["R"])));
    exec(kInsert2.arg(quoted(paths["R"])));
    fixtures::writeTempTable(paths["X"], {kNoon}, {{QVariant(1), QVariant(1)}});
    QByteArray damaged = fixtures::fileBytes(paths["X"]);
    damaged[10] = char(damaged[10] + 1);
    fixtures::writeBytes(paths["X"], damaged);
    fixtures::writeTempTable(paths["B"], {kNoon, kNoon + 0.001},
                             {{QVariant(1), QVariant(1)}, {QVariant(11), QVariant(2)}});
    QByteArray numbers = fixtures::fileBytes(paths["B"]);
    const int at = numbers.lastIndexOf("11");
    numbers[at + 1] = 'x';
    fixtures::writeBytes(paths["B"], numbers);

    QMap<QString, QByteArray> before;
    for (auto it = paths.begin(); it != paths.end(); ++it)
        before[it.key()] = fixtures::fileBytes(it.value());
    for (auto it = paths.begin(); it != paths.end(); ++it)
        sql.replace("%" + it.key(), quoted(it.value()));

    const QString m = messageOf([&] {
        Query q(sql);
        if (open)
            q.open();
        else
            q.execSql();
    });
    QVERIFY2(m.contains(message), qPrintable(m));
    if (subject != u"-") {
        const QString prefix = QStringLiteral("Table '%1': ").arg(paths[subject]);
        QVERIFY2(m.startsWith(prefix), qPrintable(m));
    }
    for (auto it = paths.begin(); it != paths.end(); ++it)
        QVERIFY2(fixtures::fileBytes(it.value()) == before[it.key()], qPrintable(it.key()));
    QVERIFY(!QFile::exists(paths["N"]));
    // The layer goes on working after the failure.
    COMPARE_ROWS(select(kCount.arg(quoted(paths["R"]))).rows, (QList<QVariantList>{{2}}));
}

void TestSql::insertFailingAtTheNthOperationKeepsTheTable_data() {
    QTest::addColumn<bool>("permanent");
    QTest::newRow("one failure") << false;
    QTest::newRow("every operation from then on") << true;
}

void TestSql::insertFailingAtTheNthOperationKeepsTheTable() {
    QFETCH(bool, permanent);
    QTemporaryDir dir;
    const QString result = dir.filePath(QStringLiteral("result.dbf"));
    const QString R = quoted(result);
    exec(kCreateResult.arg(R));
    exec(kInsert1.arg(R));
    exec(kInsert2.arg(R));
    fixtures::FailingIo io;
    int n = 1;
    for (;; ++n) {
        QVERIFY(n < 40);
        bool failed = false;
        {
            fixtures::IoGuard guard(&io);
            io.arm(n, permanent);
            try {
                exec(kInsert1.arg(R).replace("'20'", "'7'"));
            } catch (const kp::EDatabaseError &e) {
                failed = true;
                QVERIFY2(e.message().contains(result), qPrintable(e.message()));
            }
            io.disarm();
            // A failure after the count was written (the final fstat) leaves a good insert.
            QVERIFY(!failed || io.failed());
        }
        if (!failed) break;
        // The header's count is unchanged and the table reads with the rows it had, in the
        // independent reader, in ours and through SQL.
        const DbfTable t = DbfTable::read(result);
        QCOMPARE(t.recordCount(), 2);
        QCOMPARE(t.value(1, 2).toString(), QStringLiteral("2"));
        // A reader that stops at the end mark agrees, unless the file refused even the end
        // mark's repair (every operation failing).
        if (!permanent) QCOMPARE(fixtures::independentRead(result)["records"].toArray().size(), 2);
        COMPARE_ROWS(select(kCount.arg(R)).rows, (QList<QVariantList>{{2}}));
    }
    QVERIFY(n > 2);
    COMPARE_ROWS(select(kTotals.arg(R)).rows, (QList<QVariantList>{{29, -2}}));
    QCOMPARE(fixtures::independentRead(result)["records"].toArray().size(), 3);
}

void TestSql::resultTableForManyVehicles_data() {
    QTest::addColumn<int>("vehicles");
    QTest::addColumn<qint64>("firstDevice");
    QTest::addColumn<QString>("message"); // empty: created
    QTest::newRow("125 vehicles of 7 digits: dBASE III") << 125 << qint64(1000000) << QString();
    QTest::newRow("510 vehicles of 10 digits: level 7") << 510 << qint64(1234567000) << QString();
    QTest::newRow("511 vehicles") << 511 << qint64(1) << QStringLiteral("too many columns");
    QTest::newRow("device number twice")
        << 2 << qint64(0) << QStringLiteral("duplicate column name: IN0");
}

void TestSql::resultTableForManyVehicles() {
    QFETCH(int, vehicles);
    QFETCH(qint64, firstDevice);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString result = dir.filePath(QStringLiteral("result.dbf"));
    const QString R = quoted(result);
    QString columns;
    QList<qint64> devices;
    for (int i = 0; i < vehicles; ++i)
        devices << (firstDevice ? firstDevice + i : 0);
    for (qint64 d : devices)
        columns += QStringLiteral(", IN%1 VARCHAR(10), OUT%1 VARCHAR(10)").arg(d);
    const QString create =
        QStringLiteral("CREATE TABLE %1 (DateTime VARCHAR(20), DTSTR VARCHAR(20), "
                       "INKolvo VARCHAR(10), OUTKolvo VARCHAR(10) %2)")
            .arg(R, columns);
    if (!message.isEmpty()) {
        const QString m = messageOf([&] { exec(create); });
        QVERIFY2(m.contains(message) && m.contains(result), qPrintable(m));
        QVERIFY(!QFile::exists(result));
        return;
    }
    exec(create);
    const DbfTable t = DbfTable::read(result);
    QCOMPARE(t.fieldCount(), 4 + 2 * vehicles);
    QCOMPARE(t.layout(), vehicles > 125 ? DbfLayout::Level7 : DbfLayout::DBase3);
    const qint64 last = devices.last();
    exec(QStringLiteral("INSERT INTO %1 (DateTime, DTSTR, INKolvo, OUTKolvo, IN%2, OUT%2) VALUES "
                        "('39952,5', '19.05.2009 12:00:00', '0', '-3', '0', '-3')")
             .arg(R)
             .arg(last));
    COMPARE_ROWS(
        select(
            QStringLiteral("SELECT SUM(-CAST(OUT%2 as integer)) as OUT%2 FROM %1").arg(R).arg(last))
            .rows,
        (QList<QVariantList>{{3}}));
}

void TestSql::queryObjectWalksItsRows() {
    QTemporaryDir dir;
    const QString R = quoted(dir.filePath(QStringLiteral("result.dbf")));
    Query q;
    QVERIFY(!q.isOpen());
    QVERIFY(q.eof());
    QCOMPARE(q.recordCount(), 0);
    QVERIFY(messageOf([&] { q.fieldByName("x"); }).contains(QStringLiteral("not open")));
    q.setSql(kCreateResult.arg(R));
    q.execSql();
    q.clear();
    QVERIFY(q.sql().isEmpty());
    q.setSql(kInsert1.arg(R));
    q.execSql();
    q.setSql(kInsert2.arg(R));
    q.execSql();
    q.setSql(QStringLiteral("SELECT INKolvo, DTSTR FROM %1 ORDER BY INKolvo DESC").arg(R));
    q.open();
    QVERIFY(q.isOpen());
    QCOMPARE(q.fieldNames(), (QStringList{"INKolvo", "DTSTR"}));
    QCOMPARE(q.recordCount(), 2);
    QCOMPARE(q.fieldByName("inkolvo").toString(), QStringLiteral("20")); // any case
    q.next();
    QCOMPARE(q.fieldByName("INKolvo").toString(), QStringLiteral("2"));
    QCOMPARE(q.recNo(), 1);
    q.next();
    QVERIFY(q.eof());
    QVERIFY(
        messageOf([&] { q.fieldByName("INKolvo"); }).contains(QStringLiteral("no current row")));
    q.first();
    QVERIFY(!q.eof());
    QCOMPARE(q.value(1).toString(), QStringLiteral("19.05.2009 12:00:00"));
    QCOMPARE(messageOf([&] { q.fieldByName("IN12"); }), QStringLiteral("Field 'IN12' not found"));
    const auto rows = q.resultSet();
    q.clear(); // closes
    QVERIFY(!q.isOpen());
    QCOMPARE(rows->rows.size(), 2); // what was read stays with whoever holds it
    // A statement with a result set may be executed; its rows are dropped.
    q.setSql(kCount.arg(R));
    q.execSql();
    QVERIFY(!q.isOpen());
}

void TestSql::eachThreadHasItsOwnConnection() {
    QTemporaryDir dir;
    const QString temp = dir.filePath(QStringLiteral("temp.dbf"));
    writeTemp(temp);
    QStringList errors;
    auto work = [&](const QString &result, int rows, QString *error) {
        try {
            const QString R = quoted(result);
            exec(kCreateResult.arg(R));
            for (int i = 0; i < rows; ++i) {
                exec(kInsert1.arg(R));
                select(kMax.arg(1).arg(quoted(temp), "39952.5", "39952.5416666667"));
            }
        } catch (const kp::EDatabaseError &e) {
            *error = e.message();
        }
    };
    QString e1, e2;
    const QString r1 = dir.filePath("r1.dbf"), r2 = dir.filePath("r2.dbf");
    std::unique_ptr<QThread> t(QThread::create([&] { work(r1, 300, &e1); }));
    t->start();
    work(r2, 200, &e2);
    QVERIFY(t->wait(60000));
    QCOMPARE(e1, QString());
    QCOMPARE(e2, QString());
    // Rows another thread appended are seen here: the file changed, so it is read again.
    COMPARE_ROWS(select(kCount.arg(quoted(r1))).rows, (QList<QVariantList>{{300}}));
    COMPARE_ROWS(select(kCount.arg(quoted(r2))).rows, (QList<QVariantList>{{200}}));
}

KP_TEST_SUITE(TestSql)
#include "TestSql.moc"
