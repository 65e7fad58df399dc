// kelvon-monitor as a program: seen by a client that no one here wrote (gdbus), started twice,
// left without its bus, and its command line.
#include "monitor/DemoFleet.h"
#include "server/Kelvon_tlb.h"
#include "tests/server/MonitorProcess.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using kp::test::MonitorProcess;
using kp::test::runMonitor;

namespace {

struct GdbusResult {
    int exitCode = -1;
    QString out;
    QString err;
};

GdbusResult gdbus(const QStringList &args) {
    QProcess p;
    p.start(QStringLiteral("gdbus"), args);
    GdbusResult r;
    if (!p.waitForFinished(15000)) return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    r.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return r;
}

GdbusResult call(const QString &member, const QStringList &args = {}) {
    return gdbus(
        QStringList{QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                    QStringLiteral("org.kelvon.Monitoring"), QStringLiteral("--object-path"),
                    QStringLiteral("/org/kelvon/KelvonAutomation"), QStringLiteral("--method"),
                    QStringLiteral("org.kelvon.IKelvonAutomation.") + member} +
        args);
}

// gdbus prints a text as ('ПАЗ-3205',) and a number as (517,).
QString textReply(const QString &s) {
    static const QRegularExpression re(QStringLiteral("^\\('(.*)',\\)$"));
    const auto m = re.match(s);
    return m.hasMatch() ? m.captured(1) : QStringLiteral("<%1>").arg(s);
}

QString sourceFile(const QString &rel) {
    return qEnvironmentVariable("KP_SOURCE_DIR") + QLatin1Char('/') + rel;
}

} // namespace

class TestMonitorBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void introspectionListsEveryEntry();
    void gdbusEnumeratesAGroup();
    void gdbusSeesFailures();
    void refusesToStartTwice();
    void quitsWhenItsBusGoesAway();
    void importReportsTheBadLine();
    void demoWiringOnStdout();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir home_;
    MonitorProcess server_;
};

void TestMonitorBus::initTestCase() {
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath(QStringLiteral("share"))));
    QVERIFY(server_.start());
}

void TestMonitorBus::cleanup() { QVERIFY(server_.running()); }

void TestMonitorBus::introspectionListsEveryEntry() {
    const GdbusResult r =
        gdbus({QStringLiteral("introspect"), QStringLiteral("--session"), QStringLiteral("--dest"),
               QStringLiteral("org.kelvon.Monitoring"), QStringLiteral("--object-path"),
               QStringLiteral("/org/kelvon/KelvonAutomation"), QStringLiteral("--xml")});
    QCOMPARE(r.exitCode, 0);
    QXmlStreamReader xml(r.out);
    QString iface;
    QStringList methods, signalNames;
    QHash<QString, QString> inSig, outSig;
    QString method;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        const auto a = xml.attributes();
        if (xml.name() == u"interface") iface = a.value(QLatin1String("name")).toString();
        if (iface == u"org.kelvon.IKelvonAutomation" && xml.name() == u"method") {
            method = a.value(QLatin1String("name")).toString();
            methods.append(method);
        }
        if (iface == u"org.kelvon.IKelvonAutomation" && xml.name() == u"arg") {
            (a.value(QLatin1String("direction")) == u"out" ? outSig : inSig)[method] +=
                a.value(QLatin1String("type")).toString();
        }
        if (iface == u"org.kelvon.IKelvonAutomationEvents" && xml.name() == u"signal")
            signalNames.append(a.value(QLatin1String("name")).toString());
    }
    QVERIFY(!xml.hasError());
    QCOMPARE(methods.size(), 220);
    QCOMPARE(methods.first(), QStringLiteral("get_CurrentVersion"));
    QCOMPARE(methods.last(), QStringLiteral("get_Counters34Array"));
    for (int i = 0; i < 220; ++i) {
        const auto &e = kp::kelvon::entryInfo(kp::kelvon::Entry(i));
        QCOMPARE(methods[i], QString::fromLatin1(e.name));
    }
    // The entries the desktop program calls, with the types it relies on.
    QCOMPARE(outSig.value(QStringLiteral("get_GroupsNum")), QStringLiteral("i"));
    QCOMPARE(outSig.value(QStringLiteral("get_CarModel")), QStringLiteral("s"));
    QCOMPARE(inSig.value(QStringLiteral("set_CarIndex")), QStringLiteral("i"));
    QCOMPARE(inSig.value(QStringLiteral("StartComputing")), QStringLiteral("sisssi"));
    QCOMPARE(inSig.value(QStringLiteral("ExportListToFile")), QStringLiteral("sssii"));
    QCOMPARE(outSig.value(QStringLiteral("get_Counters12Array")), QStringLiteral("v"));
    QCOMPARE(signalNames, (QStringList{"OnChangeCarsLists", "OnReceiveOnlineData", "OnCloseServer",
                                       "OnChangeParameters", "OnEndComputing"}));
}

void TestMonitorBus::gdbusEnumeratesAGroup() {
    const kp::monitor::Group group = kp::monitor::demo::fleet()[1];
    QCOMPARE(call(QStringLiteral("get_GroupsNum")).out, QStringLiteral("(3,)"));
    QCOMPARE(call(QStringLiteral("set_GroupIndex"), {QStringLiteral("2")}).out,
             QStringLiteral("()"));
    QCOMPARE(call(QStringLiteral("get_GroupCarsNum")).out,
             QStringLiteral("(%1,)").arg(group.vehicles.size()));
    QCOMPARE(textReply(call(QStringLiteral("get_GroupFileName")).out), group.fileName);
    QCOMPARE(textReply(call(QStringLiteral("get_GroupName")).out), group.name);
    for (int c = 1; c <= group.vehicles.size(); ++c) {
        const kp::monitor::Vehicle &v = group.vehicles[c - 1];
        QCOMPARE(call(QStringLiteral("set_CarIndex"), {QString::number(c)}).exitCode, 0);
        QCOMPARE(call(QStringLiteral("get_CarDevice")).out, QStringLiteral("(%1,)").arg(v.device));
        QCOMPARE(textReply(call(QStringLiteral("get_CarModel")).out), v.model);
        QCOMPARE(textReply(call(QStringLiteral("get_CarNumber")).out), v.number);
        QCOMPARE(textReply(call(QStringLiteral("get_CarRoute")).out), v.route);
    }
}

void TestMonitorBus::gdbusSeesFailures() {
    GdbusResult r = call(QStringLiteral("get_CarLatitude"));
    QVERIFY(r.exitCode != 0);
    QVERIFY2(r.err.contains(QLatin1String("org.kelvon.Error.HResult: 80004001")),
             qPrintable(r.err));
    r = call(QStringLiteral("set_GroupIndex"), {QStringLiteral("9")});
    QVERIFY2(r.err.contains(QLatin1String("org.kelvon.Error.HResult: 8002000B")),
             qPrintable(r.err));
    // A client that does not read the introspection data may send anything.
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.kelvon.Monitoring"),
                QStringLiteral("/org/kelvon/KelvonAutomation"),
                QStringLiteral("org.kelvon.IKelvonAutomation.set_GroupIndex"),
                QStringLiteral("string:one")});
    QVERIFY(send.waitForFinished(10000));
    const QByteArray sendErr = send.readAllStandardError();
    QVERIFY2(sendErr.contains("InvalidArgs"), sendErr.constData());
    r = call(QStringLiteral("get_NoSuchEntry"));
    QVERIFY2(r.err.contains(QLatin1String("UnknownMethod")), qPrintable(r.err));
}

void TestMonitorBus::refusesToStartTwice() {
    const auto r = runMonitor({});
    QVERIFY(r.exitCode != 0);
    const QList<QByteArray> lines = r.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("already runs"), lines.first().constData());
}

void TestMonitorBus::quitsWhenItsBusGoesAway() {
    // A bus of our own, killed under the server's feet.
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=" +
        QFile::encodeName(dir.path()) +
        "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    conf.close();
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    QVERIFY(daemon.waitForReadyRead(10000));
    const QByteArray address = daemon.readLine().trimmed();
    QVERIFY(!address.isEmpty());

    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address));
    server.setProcessEnvironment(env);
    server.start(kp::test::monitorExecutable(), {});
    QVERIFY(server.waitForStarted());
    {
        // It serves on that bus before the bus goes.
        QDBusConnection own =
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("own-bus"));
        QVERIFY(own.isConnected());
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        m.setArguments({QStringLiteral("org.kelvon.Monitoring")});
        QTRY_VERIFY(own.call(m).arguments().value(0).toBool());
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("own-bus"));
    QCOMPARE(server.state(), QProcess::Running);
    daemon.kill();
    daemon.waitForFinished();
    QVERIFY(server.waitForFinished(5000));
}

void TestMonitorBus::importReportsTheBadLine() {
    QTemporaryDir data;
    const auto r =
        runMonitor({QStringLiteral("--data"), data.path(), QStringLiteral("import-fleet"),
                    sourceFile(QStringLiteral("tests/data/monitor/bad-fleet.csv"))});
    QVERIFY(r.exitCode != 0);
    QVERIFY2(r.err.contains("bad-fleet.csv:4: device 501 is already listed on line 2"),
             r.err.constData());
    QVERIFY(!QFile::exists(data.filePath(QStringLiteral("monitoring.sqlite"))));

    // The good file goes in; a bad records file after it changes nothing.
    QCOMPARE(runMonitor({QStringLiteral("--data"), data.path(), QStringLiteral("import-fleet"),
                         sourceFile(QStringLiteral("tests/data/monitor/fleet.csv"))})
                 .exitCode,
             0);
    const auto bad =
        runMonitor({QStringLiteral("--data"), data.path(), QStringLiteral("import-records"),
                    sourceFile(QStringLiteral("tests/data/monitor/bad-records.csv"))});
    QVERIFY(bad.exitCode != 0);
    QVERIFY2(bad.err.contains("bad-records.csv:3:"), bad.err.constData());
    QVERIFY(server_.running()); // the demo server, with another data folder, is left alone
    QCOMPARE(call(QStringLiteral("get_GroupsNum")).out, QStringLiteral("(3,)"));
}

void TestMonitorBus::demoWiringOnStdout() {
    const auto r = runMonitor({QStringLiteral("--demo-wiring")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, kp::monitor::demo::wiringIni());
    QVERIFY(r.err.isEmpty());
}

void TestMonitorBus::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said"); // in stdout or stderr
    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Testing aids:");
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << QByteArray("unknown argument");
    QTest::newRow("fail-read without code")
        << QStringList{"--fail-read", "get_CarModel"} << 2 << QByteArray("ENTRY=HRESULT");
    QTest::newRow("fail-read success code")
        << QStringList{"--fail-read", "get_CarModel=0"} << 2 << QByteArray("ENTRY=HRESULT");
    QTest::newRow("exit-after not a number")
        << QStringList{"--exit-after", "x"} << 2 << QByteArray("--exit-after");
    QTest::newRow("import without file")
        << QStringList{"import-fleet"} << 2 << QByteArray("needs a file");
    QTest::newRow("import missing file") << QStringList{"import-fleet", "/nonexistent/f.csv"} << 1
                                         << QByteArray("/nonexistent/f.csv");
}

void TestMonitorBus::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    const auto r = runMonitor(args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2((r.out + r.err).contains(said), (r.out + r.err).constData());
}

QTEST_GUILESS_MAIN(TestMonitorBus)
#include "TestMonitorBus.moc"
