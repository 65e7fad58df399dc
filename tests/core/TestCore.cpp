// Day numbers, and the number and date texts of the system under ru_RU and the C locale.
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Formats.h"

#include <QtTest>

using namespace kp;

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void serialOfDateAndTime_data();
    void serialOfDateAndTime();
    void serialRoundTripsToTheMillisecond();
    void floatToStr_data();
    void floatToStr();
    void strToFloatReadsBothSeparators();
    void dateTimeToStr_data();
    void dateTimeToStr();
    void longTimeFormatHasNoZoneField_data();
    void longTimeFormatHasNoZoneField();
    void serverTextUsesColons();
    void exceptionsCarryTheirDetails();
};

void TestCore::serialOfDateAndTime_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<double>("serial");
    QTest::newRow("epoch") << QDate(1899, 12, 30) << QTime(0, 0) << 0.0;
    QTest::newRow("1.1.1900") << QDate(1900, 1, 1) << QTime(0, 0) << 2.0;
    QTest::newRow("noon 19.05.2009") << QDate(2009, 5, 19) << QTime(12, 0) << 39952.5;
    QTest::newRow("06:00 of 29.12.1899") << QDate(1899, 12, 29) << QTime(6, 0) << -1.25;
    QTest::newRow("1.1.1970") << QDate(1970, 1, 1) << QTime(0, 0) << 25569.0;
}

void TestCore::serialOfDateAndTime() {
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(double, serial);
    QCOMPARE(toSerial(date, time), serial);
    QCOMPARE(serialToDateTime(serial), QDateTime(date, time));
}

void TestCore::serialRoundTripsToTheMillisecond() {
    // A moment a hair before midnight must not come back as the wrong day.
    const QDateTime moments[] = {
        {QDate(2024, 2, 29), QTime(23, 59, 59, 999)},
        {QDate(2009, 5, 19), QTime(13, 0, 30)},
        {QDate(2026, 12, 31), QTime(0, 0, 0, 1)},
    };
    for (const QDateTime &m : moments) QCOMPARE(serialToDateTime(toSerial(m)), m);
    // 0.9999999999 of a day rounds to the next midnight, not to 24:00 of the same day.
    QCOMPARE(serialToDateTime(39952.9999999999), QDateTime(QDate(2009, 5, 20), QTime(0, 0)));
}

void TestCore::floatToStr_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    struct Row { double v; const char *ru; const char *c; };
    const Row rows[] = {
        {39952.5, "39952,5", "39952.5"},
        {0, "0", "0"},
        {-2, "-2", "-2"},
        {1234567, "1234567", "1234567"},           // never grouped
        {39952.5416666667, "39952,5416666667", "39952.5416666667"},
        {39952.0 + 1.0 / 24, "39952,0416666667", "39952.0416666667"}, // 15 significant digits
        {0.1, "0,1", "0.1"},
        {1.0 / 7, "0,142857142857143", "0.142857142857143"},
        {123456789012345678.0, "123456789012346000", "123456789012346000"}, // no exponent
        {0.0000012, "0,0000012", "0.0000012"},
    };
    for (const Row &r : rows) {
        QTest::newRow(qPrintable(QStringLiteral("ru %1").arg(r.c))) << "ru_RU" << r.v << QString::fromUtf8(r.ru);
        QTest::newRow(qPrintable(QStringLiteral("C %1").arg(r.c))) << "C" << r.v << QString::fromUtf8(r.c);
    }
}

void TestCore::floatToStr() {
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(kp::floatToStr(value, QLocale(locale)), text);
}

void TestCore::strToFloatReadsBothSeparators() {
    double v = 0;
    QVERIFY(strToFloat(QStringLiteral("39952,5"), QLocale(QStringLiteral("ru_RU")), &v));
    QCOMPARE(v, 39952.5);
    QVERIFY(strToFloat(QStringLiteral("39952.5"), QLocale(QStringLiteral("ru_RU")), &v));
    QCOMPARE(v, 39952.5);
    QVERIFY(!strToFloat(QStringLiteral("39 952,5"), QLocale(QStringLiteral("ru_RU")), &v));
    QVERIFY(!strToFloat(QString(), QLocale::c(), &v));
    // A round trip of the general form gives back the very same double for a day number.
    const double bound = 39952.0 + 13.0 / 24;
    QVERIFY(strToFloat(kp::floatToStr(bound, QLocale(QStringLiteral("ru_RU"))),
                       QLocale(QStringLiteral("ru_RU")), &v));
    QVERIFY(qAbs(v - bound) < 1e-9);
}

void TestCore::dateTimeToStr_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("ru noon") << "ru_RU" << 39952.5 << "19.05.2009 12:00:00";
    QTest::newRow("ru midnight") << "ru_RU" << 39952.0 << "19.05.2009";
    QTest::newRow("ru a hair before midnight rounds to it") << "ru_RU" << 39952.99999999999 << "20.05.2009";
    QTest::newRow("ru 13:05:07") << "ru_RU" << toSerial(QDate(2009, 5, 19), QTime(13, 5, 7)) << "19.05.2009 13:05:07";
    const QLocale c = QLocale::c();
    const QString cDate = c.toString(QDate(2009, 5, 19), c.dateFormat(QLocale::ShortFormat));
    QTest::newRow("C noon") << "C" << 39952.5 << cDate + " 12:00:00";
    QTest::newRow("C midnight") << "C" << 39952.0 << cDate;
}

void TestCore::dateTimeToStr() {
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(kp::dateTimeToStr(value, QLocale(locale)), text);
}

void TestCore::longTimeFormatHasNoZoneField_data() {
    QTest::addColumn<QString>("locale");
    for (const char *l : {"ru_RU", "C", "en_US", "de_DE"}) QTest::newRow(l) << l;
}

void TestCore::longTimeFormatHasNoZoneField() {
    QFETCH(QString, locale);
    const QString f = longTimeFormat(QLocale(locale));
    QVERIFY2(!f.contains(u't'), qPrintable(f));
    QVERIFY(f.contains(QStringLiteral("ss")));
    QCOMPARE(f, f.trimmed());
}

void TestCore::serverTextUsesColons() {
    QCOMPARE(formatServerDateTime(toSerial(QDate(2009, 5, 9), QTime(8, 5, 3))), QStringLiteral("09.05.2009 08:05:03"));
    QCOMPARE(formatServerDateTime(39952.0), QStringLiteral("19.05.2009 00:00:00"));
}

void TestCore::exceptionsCarryTheirDetails() {
    try {
        throw EOleException(QStringLiteral("Ошибка"), static_cast<HResult>(0x80004005), QStringLiteral("Kelvon_ocx.cpp"));
    } catch (const EOleSysError &e) {
        QCOMPARE(e.errorCode(), static_cast<HResult>(0x80004005));
        QCOMPARE(e.message(), QStringLiteral("Ошибка"));
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Ошибка"));
        auto &full = dynamic_cast<const EOleException &>(e);
        QCOMPARE(full.source(), QStringLiteral("Kelvon_ocx.cpp"));
        QCOMPARE(full.helpContext(), 0);
    }
}

QTEST_GUILESS_MAIN(TestCore)
#include "TestCore.moc"
