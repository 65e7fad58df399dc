// The period presets, the intervals per day, and the statements and layout of the result
// display in both modes.
#include "results/PeriodBox.h"
#include "results/ResultStatements.h"

#include <QtTest>

using namespace kp::results;

Q_DECLARE_METATYPE(kp::results::DisplayMode)

class TestResults : public QObject {
    Q_OBJECT
private slots:
    void presets_data();
    void presets();
    void customPresetLeavesTheDates();
    void intervalsPerDay_data();
    void intervalsPerDay();
    void statements_data();
    void statements();
    void gridColumns_data();
    void gridColumns();
    void totals_data();
    void totals();
};

void TestResults::presets_data() {
    QTest::addColumn<QDate>("today");
    QTest::addColumn<int>("item");
    QTest::addColumn<QDate>("begin");
    QTest::addColumn<QDate>("end");
    const QDate wed(2009, 5, 20), mon(2009, 5, 18), sun(2009, 5, 24);
    QTest::newRow("today") << wed << 1 << wed << QDate(2009, 5, 21);
    QTest::newRow("this week on a Wednesday") << wed << 2 << mon << QDate(2009, 5, 21);
    QTest::newRow("this week on a Monday") << mon << 2 << mon << QDate(2009, 5, 19);
    QTest::newRow("this week on a Sunday") << sun << 2 << mon << QDate(2009, 5, 25);
    QTest::newRow("this month") << wed << 3 << QDate(2009, 5, 1) << QDate(2009, 5, 21);
    QTest::newRow("this month on the first")
        << QDate(2009, 5, 1) << 3 << QDate(2009, 5, 1) << QDate(2009, 5, 2);
    QTest::newRow("yesterday") << wed << 4 << QDate(2009, 5, 19) << wed;
    QTest::newRow("yesterday on the first of January")
        << QDate(2025, 1, 1) << 4 << QDate(2024, 12, 31) << QDate(2025, 1, 1);
    QTest::newRow("previous week on a Wednesday") << wed << 5 << QDate(2009, 5, 11) << mon;
    QTest::newRow("previous week on a Monday") << mon << 5 << QDate(2009, 5, 11) << mon;
    QTest::newRow("previous week on a Sunday") << sun << 5 << QDate(2009, 5, 11) << mon;
    QTest::newRow("previous month on 1 March 2024")
        << QDate(2024, 3, 1) << 6 << QDate(2024, 2, 1) << QDate(2024, 3, 1);
    QTest::newRow("previous month on 1 March 2023")
        << QDate(2023, 3, 1) << 6 << QDate(2023, 2, 1) << QDate(2023, 3, 1);
    QTest::newRow("previous month on 31 March")
        << QDate(2023, 3, 31) << 6 << QDate(2023, 2, 1) << QDate(2023, 3, 1);
    QTest::newRow("previous month in January")
        << QDate(2024, 1, 15) << 6 << QDate(2023, 12, 1) << QDate(2024, 1, 1);
}

void TestResults::presets() {
    QFETCH(QDate, today);
    QFETCH(int, item);
    QFETCH(QDate, begin);
    QFETCH(QDate, end);
    const auto dates = presetDates(item, today);
    QVERIFY(dates.has_value());
    QCOMPARE(dates->begin, begin);
    QCOMPARE(dates->end, end);
}

void TestResults::customPresetLeavesTheDates() {
    QVERIFY(!presetDates(PresetCustom, QDate(2009, 5, 20)).has_value());
    QVERIFY(!presetDates(-1, QDate(2009, 5, 20)).has_value());
}

void TestResults::intervalsPerDay_data() {
    QTest::addColumn<int>("item");
    QTest::addColumn<double>("perDay");
    QTest::newRow("1 час") << 0 << 24.0;
    QTest::newRow("30 минут") << 1 << 48.0;
    QTest::newRow("10 минут") << 2 << 144.0;
    QTest::newRow("5 минут") << 3 << 288.0;
    QTest::newRow("1 минута") << 4 << 1440.0;
    QTest::newRow("1 день") << 5 << 1.0;
    QTest::newRow("1 неделя") << 6 << 1.0 / 7.0;
    QTest::newRow("any other index") << 9 << 24.0;
    QTest::newRow("nothing chosen keeps the value") << -1 << 288.0;
}

void TestResults::intervalsPerDay() {
    QFETCH(int, item);
    QFETCH(double, perDay);
    QCOMPARE(intervalsPerDayForItem(item, 288.0), perDay);
}

void TestResults::statements_data() {
    QTest::addColumn<DisplayMode>("mode");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("chart");
    QTest::addColumn<QString>("grid");
    const QString t = " FROM '/opt/kp/result.dbf' GROUP BY DateTime, DTSTR ORDER BY DateTime";
    const QString in = "SELECT DateTime, DTSTR, SUM(CAST(INKolvo as integer)) as INKolvo, ";
    QTest::newRow("in/out, none") << DisplayMode::InOut << QStringList{}
                                  << in + "SUM(CAST(OUTKolvo as integer)) as OUTKolvo " + t
                                  << in + "SUM(-CAST(OUTKolvo as integer)) as OUTKolvo " + t;
    QTest::newRow("in/out, one")
        << DisplayMode::InOut << QStringList{"1234"}
        << in +
               "SUM(CAST(OUTKolvo as integer)) as OUTKolvo , SUM(CAST(IN1234 as integer)) as "
               "IN1234, SUM(CAST(OUT1234 as integer)) as OUT1234" +
               t
        << in +
               "SUM(-CAST(OUTKolvo as integer)) as OUTKolvo , SUM(CAST(IN1234 as integer)) as "
               "IN1234, SUM(-CAST(OUT1234 as integer)) as OUT1234" +
               t;
    QTest::newRow("in/out, two")
        << DisplayMode::InOut << QStringList{"12", "345"}
        << in +
               "SUM(CAST(OUTKolvo as integer)) as OUTKolvo , SUM(CAST(IN12 as integer)) as "
               "IN12, SUM(CAST(OUT12 as integer)) as OUT12, SUM(CAST(IN345 as integer)) as "
               "IN345, SUM(CAST(OUT345 as integer)) as OUT345" +
               t
        << in +
               "SUM(-CAST(OUTKolvo as integer)) as OUTKolvo , SUM(CAST(IN12 as integer)) as "
               "IN12, SUM(-CAST(OUT12 as integer)) as OUT12, SUM(CAST(IN345 as integer)) as "
               "IN345, SUM(-CAST(OUT345 as integer)) as OUT345" +
               t;
    QTest::newRow("carried, none") << DisplayMode::Sum << QStringList{} << in + "0 as OUTKolvo " + t
                                   << in + "0 as OUTKolvo " + t;
    QTest::newRow("carried, one")
        << DisplayMode::Sum << QStringList{"1234"}
        << in +
               "0 as OUTKolvo , SUM(CAST(IN1234 as integer)) as IN1234, SUM(CAST(OUT1234 as "
               "integer)) as OUT1234" +
               t
        << in +
               "0 as OUTKolvo , SUM(CAST(IN1234 as integer)) + SUM(-CAST(OUT1234 as integer)) "
               "as IN1234, SUM(-CAST(OUT1234 as integer)) as OUT1234" +
               t;
    QTest::newRow("carried, two")
        << DisplayMode::Sum << QStringList{"12", "345"}
        << in +
               "0 as OUTKolvo , SUM(CAST(IN12 as integer)) as IN12, SUM(CAST(OUT12 as "
               "integer)) as OUT12, SUM(CAST(IN345 as integer)) as IN345, SUM(CAST(OUT345 as "
               "integer)) as OUT345" +
               t
        << in +
               "0 as OUTKolvo , SUM(CAST(IN12 as integer)) + SUM(-CAST(OUT12 as integer)) as "
               "IN12, SUM(-CAST(OUT12 as integer)) as OUT12, SUM(CAST(IN345 as integer)) + "
               "SUM(-CAST(OUT345 as integer)) as IN345, SUM(-CAST(OUT345 as integer)) as "
               "OUT345" +
               t;
}

void TestResults::statements() {
    QFETCH(DisplayMode, mode);
    QFETCH(QStringList, devices);
    QFETCH(QString, chart);
    QFETCH(QString, grid);
    const QString r = "/opt/kp/result.dbf";
    QCOMPARE(chartSql(r, devices, mode), chart);
    QCOMPARE(gridSql(r, devices, mode), grid);
    QCOMPARE(rowCountSql(r), QStringLiteral("SELECT COUNT(*) as count1 FROM '/opt/kp/result.dbf'"));
    QCOMPARE(totalsSql(r), QStringLiteral("SELECT SUM(CAST(INKolvo as integer)) as INKolvo, "
                                          "SUM(CAST(OUTKolvo as integer)) as OUTKolvo FROM "
                                          "'/opt/kp/result.dbf'"));
}

void TestResults::gridColumns_data() {
    QTest::addColumn<DisplayMode>("mode");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("in/out, one") << DisplayMode::InOut << QStringList{"1234"}
                                 << QStringList{"DTSTR", "INKolvo", "OUTKolvo", "IN1234", "OUT1234"}
                                 << QStringList{"Время", "Кол-во вход.", "Кол-во выход.",
                                                "1234(вход.)", "1234(выход.)"};
    QTest::newRow("in/out, none") << DisplayMode::InOut << QStringList{}
                                  << QStringList{"DTSTR", "INKolvo", "OUTKolvo"}
                                  << QStringList{"Время", "Кол-во вход.", "Кол-во выход."};
    QTest::newRow("carried, two") << DisplayMode::Sum << QStringList{"12", "345"}
                                  << QStringList{"DTSTR", "INKolvo", "IN12", "IN345"}
                                  << QStringList{"Время", "Кол-во перевез.", "12(перевез.)",
                                                 "345(перевез.)"};
}

void TestResults::gridColumns() {
    QFETCH(DisplayMode, mode);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, titles);
    QStringList f, t;
    for (const GridColumn &c : kp::results::gridColumns(devices, mode)) {
        f << c.field;
        t << c.title;
    }
    QCOMPARE(f, fields);
    QCOMPARE(t, titles);
}

void TestResults::totals_data() {
    QTest::addColumn<DisplayMode>("mode");
    QTest::addColumn<QVariant>("in");
    QTest::addColumn<QVariant>("out");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("inText");
    QTest::addColumn<QString>("outText");
    QTest::addColumn<bool>("outVisible");
    QTest::newRow("in/out: leaving made positive")
        << DisplayMode::InOut << QVariant(qlonglong(120)) << QVariant(qlonglong(-97)) << "Входящих:"
        << "120"
        << "97" << true;
    QTest::newRow("in/out: null sums show 0")
        << DisplayMode::InOut << QVariant() << QVariant() << "Входящих:"
        << "0"
        << "0" << true;
    QTest::newRow("carried: one total") << DisplayMode::Sum << QVariant(qlonglong(120))
                                        << QVariant(qlonglong(-97)) << "Перевезенных:"
                                        << "120"
                                        << "" << false;
}

void TestResults::totals() {
    QFETCH(DisplayMode, mode);
    QFETCH(QVariant, in);
    QFETCH(QVariant, out);
    QFETCH(QString, caption);
    QFETCH(QString, inText);
    QFETCH(QString, outText);
    QFETCH(bool, outVisible);
    const TotalsView v = totalsView(mode, in, out);
    QCOMPARE(v.caption, caption);
    QCOMPARE(v.in, inText);
    QCOMPARE(v.out, outText);
    QCOMPARE(v.outVisible, outVisible);
}

QTEST_GUILESS_MAIN(TestResults)
#include "TestResults.moc"
