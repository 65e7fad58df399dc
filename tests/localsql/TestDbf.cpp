// The dBASE reader and writer: what we write is read back the same by an independent reader,
// the layout follows the names and the number of fields, files written by other programs are
// read, damage is reported before anything is trusted, and failed writes leave the old file.
#include "Fixtures.h"
#include "TestSuites.h"
#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"

#include <QDir>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QtTest>

using namespace kp::localsql;
using fixtures::fileBytes;

namespace {

QList<DbfField> manyFields(int count, const QString &prefix) {
    QList<DbfField> f;
    for (int i = 0; i < count; ++i)
        f << dbfCharacter(prefix + QString::number(i), 10);
    return f;
}

QString messageOf(const std::function<void()> &fn) {
    try {
        fn();
    } catch (const kp::EDatabaseError &e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

quint16 le16(const QByteArray &b, int at) {
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

} // namespace

class TestDbf : public QObject {
    Q_OBJECT
private slots:
    void writtenTableReadsTheSameInTheIndependentReader();
    void dayNumberStampsRoundTripExactly();
    void numericFieldsReadAsIntegerOrReal_data();
    void numericFieldsReadAsIntegerOrReal();
    void layoutFollowsNamesAndFieldCount_data();
    void layoutFollowsNamesAndFieldCount();
    void level7LayoutMatchesTheGoldenFile();
    void readsFilesOfOtherWriters();
    void damagedFilesAreReported_data();
    void damagedFilesAreReported();
    void valuesThatDoNotFitAreRefused_data();
    void valuesThatDoNotFitAreRefused();
    void failedWriteLeavesTheOldFile_data();
    void failedWriteLeavesTheOldFile();
    void failedAppendKeepsTheOldRecordCount();
    void createNewRefusesAnExistingFile();
};

void TestDbf::writtenTableReadsTheSameInTheIndependentReader() {
    fixtures::OddFolder dir;
    QVERIFY(dir.isValid());
    const QString path = dir.path(QStringLiteral("mixed.dbf"));
    const QList<DbfField> fields{dbfCharacter(QStringLiteral("NAME"), 20),
                                 dbfNumeric(QStringLiteral("COUNT"), 10),
                                 dbfNumeric(QStringLiteral("AMOUNT"), 12, 3),
                                 dbfFloat(QStringLiteral("RATIO"), 20, 6),
                                 dbfDate(QStringLiteral("DAY")),
                                 dbfLogical(QStringLiteral("OK"))};
    const QList<DbfRow> rows{
        {QStringLiteral("ПАЗ - А123"), 20, 1.5, 0.25, QDate(2009, 5, 19), true},
        {QStringLiteral("  leading"), -2, -1234.567, -3.0, QDate(1999, 12, 31), false},
        {QString(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant()},
        {QStringLiteral("ёЁ№"), qlonglong(9999999999LL), QStringLiteral("42.125"), 1e6,
         QStringLiteral("2024-02-29"), QStringLiteral("T")},
    };
    writeDbfTable(path, fields, rows);

    const QJsonObject t = fixtures::independentRead(path);
    QVERIFY2(!t.contains(QStringLiteral("error")),
             qPrintable(t.value(QStringLiteral("error")).toString()));
    QCOMPARE(t[QStringLiteral("version")].toInt(), 3);
    QCOMPARE(t[QStringLiteral("encoding")].toString(), QStringLiteral("cp1251"));
    const QJsonArray f = t[QStringLiteral("fields")].toArray();
    QCOMPARE(f.size(), fields.size());
    for (int i = 0; i < fields.size(); ++i) {
        const QJsonObject o = f[i].toObject();
        QCOMPARE(o[QStringLiteral("name")].toString(), fields[i].name);
        QCOMPARE(o[QStringLiteral("type")].toString(), QString(QChar::fromLatin1(fields[i].type)));
        QCOMPARE(o[QStringLiteral("length")].toInt(), fields[i].length);
        QCOMPARE(o[QStringLiteral("decimals")].toInt(), fields[i].decimals);
    }
    const QJsonArray r = t[QStringLiteral("records")].toArray();
    QCOMPARE(r.size(), 4);
    QJsonObject r0 = r[0].toObject(), r1 = r[1].toObject(), r2 = r[2].toObject(),
                r3 = r[3].toObject();
    QCOMPARE(r0[QStringLiteral("NAME")].toString(), QStringLiteral("ПАЗ - А123"));
    QCOMPARE(r0[QStringLiteral("COUNT")].toInt(), 20);
    QCOMPARE(r0[QStringLiteral("AMOUNT")].toDouble(), 1.5);
    QCOMPARE(r0[QStringLiteral("RATIO")].toDouble(), 0.25);
    QCOMPARE(r0[QStringLiteral("DAY")].toString(), QStringLiteral("2009-05-19"));
    QCOMPARE(r0[QStringLiteral("OK")].toBool(), true);
    QCOMPARE(r1[QStringLiteral("NAME")].toString(), QStringLiteral("  leading"));
    QCOMPARE(r1[QStringLiteral("COUNT")].toInt(), -2);
    QCOMPARE(r1[QStringLiteral("AMOUNT")].toDouble(), -1234.567);
    QCOMPARE(r1[QStringLiteral("OK")].toBool(), false);
    QVERIFY(r2[QStringLiteral("COUNT")].isNull());
    QVERIFY(r2[QStringLiteral("DAY")].isNull());
    QVERIFY(r2[QStringLiteral("OK")].isNull());
    QCOMPARE(r3[QStringLiteral("NAME")].toString(), QStringLiteral("ёЁ№"));
    QCOMPARE(r3[QStringLiteral("COUNT")].toDouble(), 9999999999.0);
    QCOMPARE(r3[QStringLiteral("AMOUNT")].toDouble(), 42.125);
    QCOMPARE(r3[QStringLiteral("DAY")].toString(), QStringLiteral("2024-02-29"));

    // Our own reader agrees, and the file carries today's date and the end mark.
    const DbfTable ours = DbfTable::read(path);
    QCOMPARE(ours.recordCount(), 4);
    QCOMPARE(ours.value(0, 0).toString(), QStringLiteral("ПАЗ - А123"));
    QCOMPARE(ours.value(1, 2).toDouble(), -1234.567);
    QVERIFY(ours.value(2, 0).isNull()); // a blank character field reads as null
    QCOMPARE(ours.value(3, 1).toLongLong(), 9999999999LL);
    QCOMPARE(ours.value(3, 4).toDate(), QDate(2024, 2, 29));
    QCOMPARE(ours.lastUpdate(), QDate::currentDate());
    QCOMPARE(ours.languageDriver(), quint8(0xC9));
    const QByteArray bytes = fileBytes(path);
    QCOMPARE(quint8(bytes.back()), quint8(0x1A));
    QCOMPARE(quint8(bytes[ours.headerLength() - 1]), quint8(0x0D));
    // No temporary file is left beside it.
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"mixed.dbf"});
}

void TestDbf::dayNumberStampsRoundTripExactly() {
    // The server's export stamps records in a N(20,12) field: a week of stamps at random
    // seconds must come back as the very same doubles.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("temp.dbf"));
    QList<double> stamps;
    QList<QList<QVariant>> counters;
    QRandomGenerator rng(7);
    for (int i = 0; i < 2000; ++i) {
        const double seconds = rng.bounded(7 * 86400.0);
        stamps << 39952.0 + seconds / 86400.0;
        counters << QList<QVariant>{i, 2 * i};
    }
    stamps << 39952.5 + 30.0 / 86400 << 0.0 << 2958465.999988426; // 31.12.9999 23:59:59
    counters << QList<QVariant>{1, 1} << QList<QVariant>{1, 1} << QList<QVariant>{1, 1};
    fixtures::writeTempTable(path, stamps, counters);
    const DbfTable t = DbfTable::read(path);
    QCOMPARE(t.recordCount(), stamps.size());
    for (int i = 0; i < stamps.size(); ++i) {
        const QVariant v = t.value(i, 0);
        QCOMPARE(v.typeId(), int(QMetaType::Double));
        QCOMPARE(v.toDouble(), stamps[i]);
    }
    QCOMPARE(t.value(5, 1).typeId(), int(QMetaType::LongLong));
}

void TestDbf::numericFieldsReadAsIntegerOrReal_data() {
    QTest::addColumn<DbfField>("field");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QVariant>("expected");
    const DbfField n0 = dbfNumeric(QStringLiteral("V"), 10, 0);
    const DbfField n2 = dbfNumeric(QStringLiteral("V"), 10, 2);
    const DbfField f = dbfFloat(QStringLiteral("V"), 10, 2);
    QTest::newRow("integer") << n0 << QByteArray("        40") << QVariant(qlonglong(40));
    QTest::newRow("negative integer") << n0 << QByteArray("       -17") << QVariant(qlonglong(-17));
    QTest::newRow("left aligned") << n0 << QByteArray("12        ") << QVariant(qlonglong(12));
    QTest::newRow("blank is null") << n0 << QByteArray("          ") << QVariant();
    QTest::newRow("NUL padding is null") << n0 << QByteArray(10, '\0') << QVariant();
    QTest::newRow("point in a 0-decimal field") << n0 << QByteArray("       4.5") << QVariant(4.5);
    QTest::newRow("decimals give real") << n2 << QByteArray("     45.00") << QVariant(45.0);
    QTest::newRow("whole number in a real field")
        << n2 << QByteArray("        45") << QVariant(45.0);
    QTest::newRow("float with exponent") << f << QByteArray("  1.5E+002") << QVariant(150.0);
    QTest::newRow("plus sign") << n2 << QByteArray("     +1.25") << QVariant(1.25);
}

void TestDbf::numericFieldsReadAsIntegerOrReal() {
    QFETCH(DbfField, field);
    QFETCH(QByteArray, raw);
    QFETCH(QVariant, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.dbf"));
    writeDbfTable(path, {field}, {DbfRow{QVariant()}});
    QByteArray bytes = fileBytes(path);
    const DbfTable empty = DbfTable::fromBytes(bytes, path);
    bytes.replace(empty.headerLength() + 1, raw.size(), raw);
    const DbfTable t = DbfTable::fromBytes(bytes, path);
    const QVariant v = t.value(0, 0);
    QCOMPARE(v.typeId(), expected.typeId());
    QCOMPARE(v, expected);
}

void TestDbf::layoutFollowsNamesAndFieldCount_data() {
    QTest::addColumn<QList<DbfField>>("fields");
    QTest::addColumn<int>("version"); // 0: refused
    QTest::addColumn<QString>("message");
    QTest::newRow("result table of two vehicles")
        << QList<DbfField>{dbfCharacter("DateTime", 20), dbfCharacter("IN12", 10),
                           dbfCharacter("OUT1234567", 10)}
        << 3 << QString();
    QTest::newRow("device number of 10 digits")
        << QList<DbfField>{dbfCharacter("DateTime", 20), dbfCharacter("OUT1234567890", 10)} << 4
        << QString();
    QTest::newRow("255 fields") << manyFields(255, "F") << 3 << QString();
    QTest::newRow("256 fields") << manyFields(256, "F") << 4 << QString();
    QTest::newRow("510 vehicles") << manyFields(1024, "OUT123456789") << 4 << QString();
    QTest::newRow("1025 fields") << manyFields(1025, "F") << 0
                                 << QStringLiteral("too many columns");
    QTest::newRow("32-character name") << QList<DbfField>{dbfCharacter(QString(32, u'X'), 10)} << 0
                                       << QStringLiteral("column name too long");
    QTest::newRow("31-character name")
        << QList<DbfField>{dbfCharacter(QString(31, u'X'), 10)} << 4 << QString();
    QTest::newRow("repeated name regardless of case")
        << QList<DbfField>{dbfCharacter("IN12", 10), dbfCharacter("in12", 10)} << 0
        << QStringLiteral("repeated column name");
    QTest::newRow("character field of 255")
        << QList<DbfField>{dbfCharacter("A", 255)} << 0 << QStringLiteral("more than 254");
    QTest::newRow("no fields") << QList<DbfField>{} << 0 << QStringLiteral("at least one");
}

void TestDbf::layoutFollowsNamesAndFieldCount() {
    QFETCH(QList<DbfField>, fields);
    QFETCH(int, version);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.dbf"));
    if (version == 0) {
        const QString m = messageOf([&] { writeDbfTable(path, fields, {}); });
        QVERIFY2(m.contains(message) && m.contains(path), qPrintable(m));
        QVERIFY(!QFile::exists(path));
        return;
    }
    writeDbfTable(path, fields, {DbfRow{QStringLiteral("x")}});
    QCOMPARE(int(quint8(fileBytes(path)[0])), version);
    const DbfTable t = DbfTable::read(path);
    QCOMPARE(t.fields(), fields); // no name is cut
    QCOMPARE(t.value(0, 0).toString(), QStringLiteral("x"));
    if (version == 3) {
        const QJsonObject o = fixtures::independentRead(path);
        QCOMPARE(o[QStringLiteral("fields")].toArray().size(), fields.size());
    }
}

void TestDbf::level7LayoutMatchesTheGoldenFile() {
    // tests/data/localsql/level7.dbf: two fields, DateTime C(20) and OUT1234567890 C(10), one
    // record ("39952,5", "-3"). The bytes, as the level 7 layout has them:
    //   0      version 0x04 (level 7, no memo)
    //   1..3   date of the last update (year - 1900, month, day): not compared
    //   4..7   record count 1
    //   8..9   header length 68 + 2 * 48 + 1 = 165
    //   10..11 record length 1 + 20 + 10 = 31
    //   29     language driver 0xC9 (Windows-1251)
    //   32..63 language driver name, 64..67 reserved: zeros
    //   68     descriptors of 48 bytes: name in 32 bytes padded with NUL, type at +32,
    //          length at +33, decimals at +34, the rest zeros
    //   164    0x0D ends the field list; the record follows, its deletion flag a blank;
    //          the file ends with 0x1A.
    const QString golden =
        qEnvironmentVariable("KP_SOURCE_DIR") + QStringLiteral("/tests/data/localsql/level7.dbf");
    const QByteArray expected = fileBytes(golden);
    QCOMPARE(expected.size(), 165 + 31 + 1);
    QCOMPARE(quint8(expected[0]), quint8(0x04));
    QCOMPARE(le16(expected, 4), quint16(1));
    QCOMPARE(le16(expected, 8), quint16(165));
    QCOMPARE(le16(expected, 10), quint16(31));
    QCOMPARE(quint8(expected[29]), quint8(0xC9));
    QCOMPARE(expected.mid(68, 9), QByteArray("DateTime\0", 9));
    QCOMPARE(expected[68 + 32], 'C');
    QCOMPARE(int(expected[68 + 33]), 20);
    QCOMPARE(expected.mid(116, 14), QByteArray("OUT1234567890\0", 14));
    QCOMPARE(expected[116 + 32], 'C');
    QCOMPARE(int(expected[116 + 33]), 10);
    QCOMPARE(quint8(expected[164]), quint8(0x0D));
    QCOMPARE(expected.mid(165, 31), QByteArray(" 39952,5             -3        "));
    QCOMPARE(quint8(expected[196]), quint8(0x1A));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.dbf"));
    writeDbfTable(path,
                  {dbfCharacter(QStringLiteral("DateTime"), 20),
                   dbfCharacter(QStringLiteral("OUT1234567890"), 10)},
                  {DbfRow{QStringLiteral("39952,5"), QStringLiteral("-3")}});
    QByteArray written = fileBytes(path);
    QCOMPARE(written.size(), expected.size());
    written.replace(1, 3, expected.mid(1, 3));
    QCOMPARE(written, expected);

    const DbfTable t = DbfTable::read(golden);
    QCOMPARE(t.layout(), DbfLayout::Level7);
    QCOMPARE(t.fields()[1].name, QStringLiteral("OUT1234567890"));
    QCOMPARE(t.value(0, 1).toString(), QStringLiteral("-3"));
}

void TestDbf::readsFilesOfOtherWriters() {
    // A dBASE IV file as another program writes it: no language driver (so Windows-1251 is
    // assumed), a NUL after the field list counted in the header, names padded with blanks,
    // numbers left-aligned, a deleted record and no end mark.
    QByteArray b(32, '\0');
    b[0] = 0x03;
    b[1] = char(109), b[2] = 5, b[3] = 19;
    b[4] = 3;
    const int headerLength = 32 + 2 * 32 + 2;
    b[8] = char(headerLength);
    b[10] = char(1 + 6 + 8);
    auto descriptor = [](const char *name, char type, int length, int decimals) {
        QByteArray d(32, '\0');
        d.replace(0, int(strlen(name)), name);
        d[11] = type;
        d[16] = char(length);
        d[17] = char(decimals);
        return d;
    };
    b += descriptor("NAME  ", 'C', 6, 0);
    b += descriptor("VAL", 'N', 8, 2);
    b += '\x0D';
    b += '\0';
    b += QByteArray(" \xCF\xC0\xC7   12.5    ", 15);
    b += QByteArray("*gone  1       ", 15);
    b += QByteArray(" x      -0.25  ", 15);
    const DbfTable t = DbfTable::fromBytes(b, QStringLiteral("/other.dbf"));
    QCOMPARE(t.fieldCount(), 2);
    QCOMPARE(t.fields()[0].name, QStringLiteral("NAME"));
    QCOMPARE(t.recordCount(), 3);
    QCOMPARE(t.value(0, 0).toString(), QStringLiteral("ПАЗ"));
    QCOMPARE(t.value(0, 1).toDouble(), 12.5);
    QVERIFY(t.isDeleted(1));
    QVERIFY(!t.isDeleted(2));
    QCOMPARE(t.value(2, 1).toDouble(), -0.25);
    QCOMPARE(t.lastUpdate(), QDate(2009, 5, 19));
}

void TestDbf::damagedFilesAreReported_data() {
    QTest::addColumn<int>("at"); // -1: cut the file to `value` bytes
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message");
    // The base file: fields A C(5), N N(6); two records; header 32 + 64 + 1 = 97, record 12.
    QTest::newRow("truncated header") << -1 << 20 << "truncated header";
    QTest::newRow("cut inside the field list") << -1 << 60 << "truncated header";
    QTest::newRow("version byte") << 0 << 0x02 << "not a dBASE table";
    QTest::newRow("record length") << 10 << 13 << "record length 13 does not match the fields (12)";
    QTest::newRow("record count") << 4 << 3 << "the file is too short for its record count 3";
    QTest::newRow("huge record count") << 7 << 0x7F << "the file is too short for its record count";
    QTest::newRow("header length too small") << 8 << 20 << "header length 20";
    QTest::newRow("no end of the field list") << 96 << int('X') << "no end mark";
    QTest::newRow("memo field") << 32 + 11 << int('M') << "unsupported type 'M'";
    QTest::newRow("zero length") << 32 + 16 << 0 << "bad length 0";
    QTest::newRow("decimals as long as the field") << 64 + 17 << 6 << "bad length 6 or decimals 6";
    QTest::newRow("field without name") << 32 << 0 << "has no name";
    QTest::newRow("repeated name") << 64 << int('A') << "repeated column name";
    QTest::newRow("encrypted") << 15 << 1 << "encrypted";
}

void TestDbf::damagedFilesAreReported() {
    QFETCH(int, at);
    QFETCH(int, value);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.dbf"));
    writeDbfTable(path, {dbfCharacter("A", 5), dbfNumeric("N", 6)},
                  {DbfRow{"a", 1}, DbfRow{"b", 2}});
    QByteArray b = fileBytes(path);
    if (at == 64)
        b[64] = 'A', b[65] = 0; // the second field gets the first one's name
    else if (at < 0)
        b.truncate(value);
    else
        b[at] = char(value);
    fixtures::writeBytes(path, b);
    const QString m = messageOf([&] { DbfTable::read(path); });
    QVERIFY2(m.startsWith(QStringLiteral("Table '%1': ").arg(path)), qPrintable(m));
    QVERIFY2(m.contains(message), qPrintable(m));
}

void TestDbf::valuesThatDoNotFitAreRefused_data() {
    QTest::addColumn<DbfField>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("text too long") << dbfCharacter("DTSTR", 5) << QVariant("123456")
                                   << "value too long (6 characters, at most 5)";
    QTest::newRow("not Windows-1251")
        << dbfCharacter("A", 5) << QVariant(QStringLiteral("日本")) << "cannot be stored";
    QTest::newRow("number too wide")
        << dbfNumeric("N", 4) << QVariant(12345) << "12345 does not fit 4 characters";
    QTest::newRow("decimals make it too wide")
        << dbfNumeric("N", 6, 3) << QVariant(123.5) << "123.500 does not fit";
    QTest::newRow("text that is no number")
        << dbfNumeric("N", 6) << QVariant("12a") << "not a number: '12a'";
    QTest::newRow("comma is no decimal point")
        << dbfNumeric("N", 6, 1) << QVariant("1,5") << "not a number";
    QTest::newRow("infinity") << dbfFloat("F", 10, 2) << QVariant(qInf()) << "not a finite";
    QTest::newRow("bad date") << dbfDate("D") << QVariant("2009-02-30") << "not a date";
}

void TestDbf::valuesThatDoNotFitAreRefused() {
    QFETCH(DbfField, field);
    QFETCH(QVariant, value);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("v.dbf"));
    const QString m = messageOf([&] { writeDbfTable(path, {field}, {DbfRow{value}}); });
    QVERIFY2(m.contains(message) && m.contains(field.name), qPrintable(m));
    QVERIFY(!QFile::exists(path));
}

void TestDbf::failedWriteLeavesTheOldFile_data() {
    QTest::addColumn<bool>("permanent");
    QTest::newRow("one failure") << false;
    QTest::newRow("every operation from then on") << true;
}

void TestDbf::failedWriteLeavesTheOldFile() {
    QFETCH(bool, permanent);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("temp.dbf"));
    const QList<DbfField> fields{dbfNumeric("TDATETIME", 20, 12), dbfNumeric("COUNTER1", 10)};
    writeDbfTable(path, fields, {DbfRow{39952.5, 1}});
    const QByteArray old = fileBytes(path);
    QList<DbfRow> rows;
    for (int i = 0; i < 50000; ++i)
        rows << DbfRow{39953.0 + i / 86400.0, i}; // > 1 MB: 2 writes
    fixtures::FailingIo io;
    bool succeeded = false;
    for (int n = 1; n < 50 && !succeeded; ++n) {
        {
            fixtures::IoGuard guard(&io);
            io.arm(n, permanent);
            try {
                writeDbfTable(path, fields, rows);
                succeeded = !io.failed();
            } catch (const kp::EDatabaseError &e) {
                QVERIFY2(e.message().contains(path), qPrintable(e.message()));
            }
            io.disarm();
        }
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        if (!succeeded) {
            QCOMPARE(fileBytes(path), old);
            // With every operation failing even the removal of the temporary file fails.
            if (!permanent) QCOMPARE(files, QStringList{"temp.dbf"});
        }
    }
    QVERIFY(succeeded);
    QCOMPARE(DbfTable::read(path).recordCount(), rows.size());
    if (!permanent) QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"temp.dbf"});
}

void TestDbf::failedAppendKeepsTheOldRecordCount() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("result.dbf"));
    const QList<DbfField> fields{dbfCharacter("DateTime", 20), dbfCharacter("INKolvo", 10)};
    writeDbfTable(path, fields, {DbfRow{"39952,5", "20"}});
    fixtures::FailingIo io;
    int n = 1;
    for (;; ++n) {
        QVERIFY(n < 20);
        bool failed = false;
        {
            fixtures::IoGuard guard(&io);
            io.arm(n, false);
            try {
                DbfAppender a(path);
                a.append({DbfRow{"39952,541666", "3"}});
            } catch (const kp::EDatabaseError &) {
                failed = true;
            }
            io.disarm();
        }
        const DbfTable t = DbfTable::read(path);
        if (!failed) {
            QCOMPARE(t.recordCount(), 2);
            break;
        }
        // The header's count is unchanged and the table reads with the row it had.
        QCOMPARE(t.recordCount(), 1);
        QCOMPARE(t.value(0, 1).toString(), QStringLiteral("20"));
    }
    QVERIFY(n > 3); // open, fstat, pread, then the writes: several were failed on the way
    const DbfTable t = DbfTable::read(path);
    QCOMPARE(t.value(1, 0).toString(), QStringLiteral("39952,541666"));
    QCOMPARE(quint8(fileBytes(path).back()), quint8(0x1A));
    QCOMPARE(fixtures::independentRead(path)[QStringLiteral("records")].toArray().size(), 2);
}

void TestDbf::createNewRefusesAnExistingFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("result.dbf"));
    writeDbfTable(path, {dbfCharacter("A", 5)}, {DbfRow{"old"}});
    const QString m = messageOf(
        [&] { writeDbfTable(path, {dbfCharacter("B", 5)}, {}, DbfWriteMode::CreateNew); });
    QVERIFY2(m.contains(QStringLiteral("table already exists")), qPrintable(m));
    QCOMPARE(DbfTable::read(path).value(0, 0).toString(), QStringLiteral("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"result.dbf"});
}

KP_TEST_SUITE(TestDbf)
#include "TestDbf.moc"
