// The INI layer: reading and writing as the Windows profile functions do, byte for byte, and
// writes that either happen whole or leave the file as it was.
#include "Bytes.h"
#include "FaultyIo.h"
#include "config/IniFile.h"
#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using kp::EIniFileException;
using kp::config::IniFile;

namespace {

QString golden(const QString &name) {
    return qEnvironmentVariable("KP_SOURCE_DIR") + QStringLiteral("/tests/data/ini/") + name;
}

// Everything in the folder except the file itself: temporary files left behind.
QStringList strays(const QString &dir, const QString &file) {
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(file);
    return names;
}

// The error a failed write must raise: the INI write error with the file's full path.
#define EXPECT_WRITE_ERROR(statement, path)                                                        \
    do {                                                                                           \
        bool raised = false;                                                                       \
        try {                                                                                      \
            statement;                                                                             \
        } catch (const EIniFileException &e) {                                                     \
            raised = true;                                                                         \
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + (path));                 \
        }                                                                                          \
        QVERIFY2(raised, "no write error");                                                        \
    } while (0)

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void init();

    void readsAsTheProfileFunctions_data();
    void readsAsTheProfileFunctions();
    void readsCrOnlyAndLfOnlyLines();
    void missingFileReadsAsEmpty();
    void readInteger_data();
    void readInteger();

    void writesGolden_data();
    void writesGolden();
    void newSectionInEmptyFileHasNoLeadingBreak();
    void writesTrimmedNamesAndExactValues();
    void sameValueLeavesFileUntouched_data();
    void sameValueLeavesFileUntouched();
    void cyrillicRoundTripsAsWindows1251();
    void keepsTheFilesEncoding_data();
    void keepsTheFilesEncoding();
    void refusesTextTheFileCannotHold_data();
    void refusesTextTheFileCannotHold();

    void failedWritesRaiseAndLeaveTheFile_data();
    void failedWritesRaiseAndLeaveTheFile();
    void everyFailingStepLeavesTheOldFile_data();
    void everyFailingStepLeavesTheOldFile();
    void crashBeforeTheRenameLeavesTheOldFile();
    void keepsPermissionsAndLinks();

    void readsOnceAndSeesItsOwnWrites();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

void TestIniFile::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    path_ = dir_->filePath(QStringLiteral("Test.ini"));
}

void TestIniFile::readsAsTheProfileFunctions_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const QString def = QStringLiteral("<default>");
    QTest::newRow("plain") << "Groups"
                           << "1" << QStringLiteral("Центр");
    QTest::newRow("first of duplicate sections") << "Groups"
                                                 << "count"
                                                 << "3";
    QTest::newRow("case of section and key") << "GROUPS"
                                             << "COUNT"
                                             << "3";
    QTest::newRow("blanks around name and value") << "Groups"
                                                  << "2"
                                                  << "  Север  ";
    QTest::newRow("comment line is no entry") << "Groups"
                                              << "; comment inside" << def;
    QTest::newRow("before the first header") << ""
                                             << "orphan" << def;
    QTest::newRow("blanks in brackets, text after ]") << "Spaced"
                                                      << "Key"
                                                      << "value ; not a comment";
    QTest::newRow("hash is no comment") << "Spaced"
                                        << "#hash"
                                        << "kept";
    QTest::newRow("entry without =") << "Spaced"
                                     << "NoEquals" << def;
    QTest::newRow("split at the first =") << "Spaced"
                                          << "eq"
                                          << "a=b";
    QTest::newRow("single quotes removed") << "Spaced"
                                           << "Quoted"
                                           << "x";
    QTest::newRow("lone quote kept") << "Spaced"
                                     << "Single"
                                     << "\"";
    QTest::newRow("mismatched quotes kept") << "Spaced"
                                            << "Mismatch"
                                            << "\"x'";
    QTest::newRow("names keep their quotes") << "Spaced"
                                             << "\"q\""
                                             << "named with quotes";
    QTest::newRow("unquoted name of quoted key") << "Spaced"
                                                 << "q" << def;
    QTest::newRow("section named empty") << ""
                                         << "empty"
                                         << "section";
    QTest::newRow("first of duplicate keys, tab") << ""
                                                  << "casekey"
                                                  << "first";
    QTest::newRow("header without ]") << "Unclosed"
                                      << "u"
                                      << "1";
    QTest::newRow("Cyrillic case folding")
        << QStringLiteral("группа") << QStringLiteral("имя") << QStringLiteral("Значение");
    QTest::newRow("empty value is no default")
        << QStringLiteral("Группа") << QStringLiteral("ПУСТО") << "";
    QTest::newRow("missing key") << "Groups"
                                 << "7" << def;
    QTest::newRow("missing section") << "Nowhere"
                                     << "count" << def;
    QTest::newRow("blanks around the asked names") << " Groups\t"
                                                   << " 1 " << QStringLiteral("Центр");
}

void TestIniFile::readsAsTheProfileFunctions() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    IniFile ini(golden(QStringLiteral("mixed.ini")));
    QCOMPARE(ini.readString(section, key, QStringLiteral("<default>")), expected);
}

void TestIniFile::readsCrOnlyAndLfOnlyLines() {
    IniFile cr(golden(QStringLiteral("cr-only.ini")));
    QCOMPARE(cr.readString("A", "x", "-"), QString("1"));
    QCOMPARE(cr.readString("B", "y", "-"), QString("2"));
    QCOMPARE(cr.readString("A", "; note", "-"), QString("-"));
    IniFile lf(golden(QStringLiteral("lf-only.ini")));
    QCOMPARE(lf.readString("A", "y", "-"), QString("2"));
    QCOMPARE(lf.readString("B", "z", "-"), QString("3")); // last line without a break
    // CR LF is one break, LF CR two: the empty line between does not matter either way.
    writeBytes(path_, "[S]\n\rk=v\r\n\r\n[T]\r\rm=w");
    IniFile mixed(path_);
    QCOMPARE(mixed.readString("S", "k", "-"), QString("v"));
    QCOMPARE(mixed.readString("T", "m", "-"), QString("w"));
}

void TestIniFile::missingFileReadsAsEmpty() {
    IniFile ini(dir_->filePath("none/Missing.ini"));
    QCOMPARE(ini.readString("Groups", "count", "d"), QString("d"));
    QCOMPARE(ini.readInteger("Groups", "count", 7), 7);
    QCOMPARE(ini.fileName(), dir_->filePath("none/Missing.ini"));
}

void TestIniFile::readInteger_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    const int def = -77;
    QTest::newRow("decimal") << QByteArray("42") << 42;
    QTest::newRow("digits then letters") << QByteArray("42A9") << def;
    QTest::newRow("letter first") << QByteArray("B42") << def;
    QTest::newRow("0x hex") << QByteArray("0x1A") << 26;
    QTest::newRow("0X hex, lower digits") << QByteArray("0X1a") << 26;
    QTest::newRow("dollar hex") << QByteArray("$1A") << 26;
    QTest::newRow("negative") << QByteArray("-5") << -5;
    QTest::newRow("plus sign") << QByteArray("+7") << 7;
    QTest::newRow("leading zeros") << QByteArray("007") << 7;
    QTest::newRow("empty") << QByteArray("") << def;
    QTest::newRow("sign alone") << QByteArray("-") << def;
    QTest::newRow("0x alone") << QByteArray("0x") << def;
    QTest::newRow("dollar alone") << QByteArray("$") << def;
    QTest::newRow("beyond 32 bits") << QByteArray("99999999999") << def;
    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("one past largest") << QByteArray("2147483648") << def;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("one past smallest") << QByteArray("-2147483649") << def;
    QTest::newRow("hex bit pattern") << QByteArray("0xFFFFFFFF") << -1;
    QTest::newRow("hex beyond 32 bits") << QByteArray("$100000000") << def;
    QTest::newRow("sign before hex") << QByteArray("-$1A") << def;
    QTest::newRow("fraction") << QByteArray("1.5") << def;
    QTest::newRow("inner blank") << QByteArray("1 2") << def;
    QTest::newRow("trimmed blanks") << QByteArray(" \t12 ") << 12;
    QTest::newRow("through the string read: quotes") << QByteArray("\"12\"") << 12;
    QTest::newRow("Cyrillic") << cp1251(QStringLiteral("пять")) << def;
}

void TestIniFile::readInteger() {
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    writeBytes(path_, "[S]\r\nk=" + value + "\r\n");
    QCOMPARE(IniFile(path_).readInteger("S", "k", -77), expected);
}

void TestIniFile::writesGolden_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("replace in first section, key keeps spelling") << "mixed.ini"
                                                                  << "GROUPS"
                                                                  << "COUNT"
                                                                  << "4"
                                                                  << "mixed-replaced.ini";
    QTest::newRow("replace indented quoted line")
        << "mixed.ini"
        << "Groups"
        << "2" << QStringLiteral("Юг") << "mixed-replaced-quoted.ini";
    QTest::newRow("append after last entry, before comment and blank")
        << "mixed.ini"
        << "groups"
        << "4" << QStringLiteral("Восток") << "mixed-appended.ini";
    QTest::newRow("new section at the end") << "mixed.ini" << QStringLiteral("Новая") << "k"
                                            << "v"
                                            << "mixed-new-section.ini";
    QTest::newRow("LF: append keeps other line ends") << "lf-only.ini"
                                                      << "A"
                                                      << "w"
                                                      << "9"
                                                      << "lf-only-appended.ini";
    QTest::newRow("LF: replace") << "lf-only.ini"
                                 << "A"
                                 << "x"
                                 << "5"
                                 << "lf-only-replaced.ini";
    QTest::newRow("LF: append to last line without break") << "lf-only.ini"
                                                           << "B"
                                                           << "q"
                                                           << "1"
                                                           << "lf-only-appended-last.ini";
    QTest::newRow("LF: new section after last line without break") << "lf-only.ini"
                                                                   << "C"
                                                                   << "k"
                                                                   << "v"
                                                                   << "lf-only-new-section.ini";
    QTest::newRow("CR: replace") << "cr-only.ini"
                                 << "a"
                                 << "X"
                                 << "7"
                                 << "cr-only-replaced.ini";
    QTest::newRow("CR: append before comment and blank") << "cr-only.ini"
                                                         << "A"
                                                         << "n"
                                                         << "1"
                                                         << "cr-only-appended.ini";
    QTest::newRow("CR: new section") << "cr-only.ini"
                                     << "C"
                                     << "k"
                                     << "v"
                                     << "cr-only-new-section.ini";
}

void TestIniFile::writesGolden() {
    QFETCH(QString, input);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    writeBytes(path_, readBytes(golden(input)));
    {
        IniFile ini(path_);
        ini.writeString(section, key, value);
        QCOMPARE(ini.readString(section, key, "-"), value); // its own write, seen at once
    }
    QCOMPARE(readBytes(path_), readBytes(golden(expected)));
    QCOMPARE(IniFile(path_).readString(section, key, "-"), value);
    QVERIFY(strays(dir_->path(), "Test.ini").isEmpty());
}

void TestIniFile::newSectionInEmptyFileHasNoLeadingBreak() {
    writeBytes(path_, "");
    IniFile(path_).writeString("S", "k", "v");
    QCOMPARE(readBytes(path_), QByteArray("[S]\r\nk=v\r\n"));
    // A header that ends the file without a break gets one before its first entry.
    writeBytes(path_, "[S]");
    IniFile(path_).writeInteger("S", "n", 5);
    QCOMPARE(readBytes(path_), QByteArray("[S]\r\nn=5\r\n"));
    // A section with no entries takes its first one right after the header.
    writeBytes(path_, "[S]\r\n; note\r\n\r\n[T]\r\n");
    IniFile(path_).writeInteger("s", "n", -12);
    QCOMPARE(readBytes(path_), QByteArray("[S]\r\nn=-12\r\n; note\r\n\r\n[T]\r\n"));
}

void TestIniFile::writesTrimmedNamesAndExactValues() {
    IniFile ini(path_);
    ini.writeString(" Sec\t", "  key ", " v ");
    ini.writeString("Sec", "quoted", "\"a b\"");
    QCOMPARE(readBytes(path_), QByteArray("[Sec]\r\nkey= v \r\nquoted=\"a b\"\r\n"));
    QCOMPARE(IniFile(path_).readString("Sec", "quoted", "-"), QString("a b"));
}

void TestIniFile::sameValueLeavesFileUntouched_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("same text") << "1" << QStringLiteral("Центр");
    QTest::newRow("same raw quoted text") << "2" << QStringLiteral("\"  Север  \"");
}

void TestIniFile::sameValueLeavesFileUntouched() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QByteArray before = readBytes(golden("mixed.ini"));
    writeBytes(path_, before);
    struct utimbuf old {
        1000000000, 1000000000
    };
    QCOMPARE(utime(QFile::encodeName(path_).constData(), &old), 0);
    // Read-only too: a write that changes nothing is no failure.
    QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup));
    FaultyIo io;
    IniFile ini(path_, io);
    io.reset();
    ini.writeString("groups", key, value);
    QCOMPARE(io.ops, 0);
    QCOMPARE(readBytes(path_), before);
    QCOMPARE(QFileInfo(path_).lastModified().toSecsSinceEpoch(), qint64(1000000000));
}

void TestIniFile::cyrillicRoundTripsAsWindows1251() {
    const QString names[] = {QStringLiteral("Центральный парк"),
                             QStringLiteral("Ёлкино – Южное №5")};
    {
        IniFile ini(path_);
        ini.writeInteger("Groups", "count", 2);
        ini.writeString("Groups", "1", names[0]);
        ini.writeString("Groups", "2", names[1]);
        ini.writeString(QStringLiteral("Группа"), QStringLiteral("Имя"), QStringLiteral("ёжик"));
    }
    QCOMPARE(readBytes(path_), readBytes(golden("cyrillic-new.ini")));
    IniFile back(path_);
    QCOMPARE(back.readString("groups", "1", {}), names[0]);
    QCOMPARE(back.readString("groups", "2", {}), names[1]);
    QCOMPARE(back.readString(QStringLiteral("ГРУППА"), QStringLiteral("имя"), {}),
             QStringLiteral("ёжик"));
}

void TestIniFile::keepsTheFilesEncoding_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QString name = QStringLiteral("Север");
    const QByteArray u8 = name.toUtf8();
    QTest::newRow("UTF-8 byte-order mark")
        << QByteArray("\xEF\xBB\xBF[S]\r\na=" + u8 + "\r\n")
        << QByteArray("\xEF\xBB\xBF[S]\r\na=" + u8 + "\r\nb=" + u8 + "\r\n");
    QTest::newRow("UTF-8 without mark")
        << QByteArray("[S]\na=" + u8 + "\n") << QByteArray("[S]\na=" + u8 + "\nb=" + u8 + "\r\n");
    auto utf16 = [](const QString &s) {
        QByteArray out;
        for (QChar c : s)
            out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return out;
    };
    QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFE" + utf16("[S]\r\na=" + name + "\r\n"))
                              << QByteArray("\xFF\xFE" +
                                            utf16("[S]\r\na=" + name + "\r\nb=" + name + "\r\n"));
    QTest::newRow("code page") << QByteArray("[S]\r\na=" + cp1251(name) + "\r\n")
                               << QByteArray("[S]\r\na=" + cp1251(name) + "\r\nb=" + cp1251(name) +
                                             "\r\n");
    QTest::newRow("ASCII is the code page")
        << QByteArray("[S]\r\na=x\r\n") << QByteArray("[S]\r\na=x\r\nb=" + cp1251(name) + "\r\n");
}

void TestIniFile::keepsTheFilesEncoding() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QString name = QStringLiteral("Север");
    writeBytes(path_, before);
    IniFile ini(path_);
    QVERIFY(ini.readString("S", "a", "-") == name || before.endsWith("a=x\r\n"));
    ini.writeString("S", "b", name);
    QCOMPARE(readBytes(path_), after);
    QCOMPARE(IniFile(path_).readString("s", "B", "-"), name);
}

void TestIniFile::refusesTextTheFileCannotHold_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const QByteArray ascii("[S]\r\na=1\r\n");
    QTest::newRow("line break in value") << ascii << "S"
                                         << "b"
                                         << "x\r\n[S]\r\na=2";
    QTest::newRow("LF in value") << ascii << "S"
                                 << "a"
                                 << "x\ny";
    QTest::newRow("= in key") << ascii << "S"
                              << "a=b"
                              << "1";
    QTest::newRow("key like a header") << ascii << "S"
                                       << " [T"
                                       << "1";
    QTest::newRow("key like a comment") << ascii << "S"
                                        << ";k"
                                        << "1";
    QTest::newRow("] in section") << ascii << "S]x"
                                  << "k"
                                  << "1";
    QTest::newRow("not in the code page") << ascii << "S"
                                          << "b" << QStringLiteral("Ұлы 😀");
    // Code-page bytes of these letters form valid UTF-8 and would read back as other letters.
    QTest::newRow("code page bytes that look like UTF-8") << ascii << "S"
                                                          << "b" << QStringLiteral("ЖЁ");
    QTest::newRow("lone surrogate in UTF-8") << QByteArray("[S]\r\na=\xD0\x81\r\n") << "S"
                                             << "b" << QString(QChar(0xD800));
}

void TestIniFile::refusesTextTheFileCannotHold() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    writeBytes(path_, before);
    IniFile ini(path_);
    QVERIFY(!ini.canWrite(section, key, value));
    EXPECT_WRITE_ERROR(ini.writeString(section, key, value), path_);
    QCOMPARE(readBytes(path_), before);
    // An emoji is fine where the file can hold it.
    if (before.contains('\xD0')) QVERIFY(ini.canWrite("S", "b", QStringLiteral("😀")));
}

void TestIniFile::failedWritesRaiseAndLeaveTheFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("read-only file") << "readonly";
    QTest::newRow("read-only, readable by owner and group") << "readonly-owner";
    QTest::newRow("missing folder") << "missing-folder";
    QTest::newRow("parent is a regular file") << "parent-file";
    QTest::newRow("folder that cannot be written") << "folder-denied";
    QTest::newRow("disk full") << "disk-full";
    QTest::newRow("file that cannot be read") << "unreadable";
    QTest::newRow("a folder in the file's place") << "is-folder";
}

void TestIniFile::failedWritesRaiseAndLeaveTheFile() {
    QFETCH(QString, kind);
    const QByteArray before("[S]\r\nk=old\r\n");
    QString path = path_;
    FaultyIo io;
    if (kind == "missing-folder") path = dir_->filePath("TS/Cars.ini");
    if (kind == "parent-file") {
        writeBytes(dir_->filePath("TS"), "not a folder");
        path = dir_->filePath("TS/Cars.ini");
    }
    if (kind == "is-folder")
        QVERIFY(QDir(dir_->path()).mkdir("Test.ini"));
    else if (path == path_)
        writeBytes(path_, before);
    if (kind == "readonly")
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadOther));
    if (kind == "readonly-owner")
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup));
    if (kind == "folder-denied")
        io.onOp = [](const char *op, const char *path) {
            return strcmp(op, "open") == 0 && strstr(path, ".tmp") ? EACCES : 0;
        };
    if (kind == "disk-full")
        io.onOp = [](const char *op, const char *) {
            return strcmp(op, "write") == 0 ? ENOSPC : 0;
        };
    if (kind == "unreadable")
        io.onOp = [](const char *op, const char *) { return strcmp(op, "read") == 0 ? EIO : 0; };

    IniFile ini(path, io);
    EXPECT_WRITE_ERROR(ini.writeString("S", "k", "new"), QFileInfo(path).absoluteFilePath());
    EXPECT_WRITE_ERROR(ini.writeInteger("T", "n", 1), QFileInfo(path).absoluteFilePath());
    io.onOp = nullptr;
    if (kind == "is-folder") {
        QVERIFY(QFileInfo(path_).isDir());
    } else if (path == path_) {
        QCOMPARE(readBytes(path_), before);
        QVERIFY(strays(dir_->path(), "Test.ini").isEmpty());
    } else {
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo(dir_->filePath("TS")).isDir() || kind != "missing-folder");
    }
}

void TestIniFile::everyFailingStepLeavesTheOldFile_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("one failure, existing file") << int(FaultyIo::Once) << true;
    QTest::newRow("lasting failure, existing file") << int(FaultyIo::FromThenOn) << true;
    QTest::newRow("one failure, new file") << int(FaultyIo::Once) << false;
    QTest::newRow("lasting failure, new file") << int(FaultyIo::FromThenOn) << false;
}

void TestIniFile::everyFailingStepLeavesTheOldFile() {
    QFETCH(int, mode);
    QFETCH(bool, fileExists);
    const QByteArray before = fileExists ? QByteArray("; kept\r\n[S]\r\nk=old\r\n") : QByteArray();
    const QByteArray after =
        fileExists ? QByteArray("; kept\r\n[S]\r\nk=new\r\n") : QByteArray("[S]\r\nk=new\r\n");
    auto restore = [&] {
        if (fileExists)
            writeBytes(path_, before);
        else
            QFile::remove(path_);
    };
    restore();

    // How many operations a write takes when nothing fails.
    FaultyIo io;
    int total = 0;
    {
        IniFile ini(path_, io);
        io.reset();
        ini.writeString("S", "k", "new");
        total = io.ops;
    }
    QVERIFY(total >= 5);

    int raised = 0;
    for (int n = 1; n <= total + 1; ++n) {
        restore();
        IniFile ini(path_, io);
        io.failAt(n, FaultyIo::Mode(mode));
        bool failed = false;
        try {
            ini.writeString("S", "k", "new");
        } catch (const EIniFileException &e) {
            failed = true;
            QCOMPARE(e.message(), "Unable to write to " + path_);
        }
        io.never();
        const QByteArray now = readBytes(path_);
        if (failed) {
            ++raised;
            QVERIFY2(now == (fileExists ? before : QByteArray("<missing>")),
                     qPrintable(QString("failing operation %1").arg(n)));
            // The object still holds what is on disk: a retry writes the whole change.
            ini.writeString("S", "k", "new");
            QCOMPARE(readBytes(path_), after);
        } else {
            QCOMPARE(now, after);
        }
        if (mode == FaultyIo::Once)
            QVERIFY2(strays(dir_->path(), "Test.ini").isEmpty(),
                     qPrintable(QString("failing operation %1").arg(n)));
        for (const QString &s : strays(dir_->path(), "Test.ini"))
            QFile::remove(dir_->filePath(s));
    }
    // Only the owner change may fail unnoticed (a file we may not give away stays ours).
    QVERIFY2(raised >= total - (fileExists ? 1 : 0), qPrintable(QString::number(raised)));
}

void TestIniFile::crashBeforeTheRenameLeavesTheOldFile() {
    const QByteArray before = readBytes(golden("mixed.ini"));
    FaultyIo io;
    int total = 0;
    writeBytes(path_, before);
    {
        IniFile ini(path_, io);
        io.reset();
        ini.writeString("Groups", "count", "4");
        total = io.ops;
    }
    for (int n = 1; n <= total; ++n) {
        writeBytes(path_, before);
        pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            IniFile ini(path_, io);
            io.failAt(n, FaultyIo::Crash);
            ini.writeString("Groups", "count", "4");
            _exit(3); // the write went through: the crash point was after the last step
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        const QByteArray now = readBytes(path_);
        if (WEXITSTATUS(status) == 0)
            QVERIFY2(now == before, qPrintable(QString("crash at operation %1").arg(n)));
        else
            QCOMPARE(now, readBytes(golden("mixed-replaced.ini")));
        // A crashed write may leave its temporary file; it is never taken for the file.
        QCOMPARE(IniFile(path_).readString("Groups", "count", "-"),
                 WEXITSTATUS(status) == 0 ? QString("3") : QString("4"));
    }
}

void TestIniFile::keepsPermissionsAndLinks() {
    writeBytes(path_, "[S]\r\nk=1\r\n");
    QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    IniFile(path_).writeInteger("S", "k", 2);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path_).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(IniFile(path_).readInteger("S", "k", 0), 2);

    // One write bit, even for the group only, makes a file writable.
    QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteGroup));
    IniFile(path_).writeInteger("S", "k", 4);
    QCOMPARE(::stat(QFile::encodeName(path_).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0420));
    QCOMPARE(IniFile(path_).readInteger("S", "k", 0), 4);

    // A new file gets what the umask leaves of rw for everyone, like any file created.
    const QString fresh = dir_->filePath("New.ini");
    IniFile(fresh).writeInteger("S", "k", 1);
    const mode_t mask = umask(0);
    umask(mask);
    QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0666 & ~mask);

    // A linked file is replaced where it lies; the link stays a link.
    const QString link = dir_->filePath("Link.ini");
    QVERIFY(QFile::link(path_, link));
    IniFile(link).writeInteger("S", "k", 3);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(IniFile(path_).readInteger("S", "k", 0), 3);
}

void TestIniFile::readsOnceAndSeesItsOwnWrites() {
    writeBytes(path_, "[S]\r\nk=1\r\n");
    FaultyIo io;
    IniFile ini(path_, io);
    QCOMPARE(io.opens, 1);
    for (int i = 0; i < 50; ++i)
        ini.readInteger("S", "k", 0);
    QCOMPARE(io.opens, 1);

    // A change by hand (or another copy) after the open is not this operation's business...
    writeBytes(path_, "[S]\r\nk=9\r\n");
    QCOMPARE(ini.readInteger("S", "k", 0), 1);
    // ... but the next operation sees the file as it is now.
    QCOMPARE(IniFile(path_).readInteger("S", "k", 0), 9);

    // Writes reach the disk at once and later reads of the same operation see them.
    IniFile op(path_);
    op.writeInteger("S", "a", 5);
    QCOMPARE(IniFile(path_).readInteger("S", "a", 0), 5);
    op.writeInteger("S", "a", 6);
    op.writeString("T", "b", "x");
    QCOMPARE(op.readInteger("S", "a", 0), 6);
    QCOMPARE(op.readString("T", "b", "-"), QString("x"));
    QCOMPARE(readBytes(path_), QByteArray("[S]\r\nk=9\r\na=6\r\n[T]\r\nb=x\r\n"));
}

std::unique_ptr<QObject> makeTestIniFile() { return std::make_unique<TestIniFile>(); }

#include "TestIniFile.moc"
