// The monitoring server client against a real kelvon-monitor on the test's private session bus:
// connecting (running, bus-activated, started, impossible), the fleet enumeration, the failure
// reporter's boxes, events, a server that goes away, and exports read back.
#include "monitor/DemoFleet.h"
#include "monitor/ServerTime.h"
#include "platform/core/AppDir.h"
#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"
#include "platform/localsql/Query.h"
#include "server/HResult.h"
#include "server/Kelvon_ocx.h"
#include "tests/server/MonitorProcess.h"
#include "tests/support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <optional>

using namespace kp::hr;
using kp::kelvon::Entry;
using kp::test::busNameOwner;
using kp::test::busNamePid;
using kp::test::ModalAnswerer;
using kp::test::MonitorProcess;

namespace {

const QString serviceName = QStringLiteral("org.kelvon.Monitoring");
const QString prompt =
    QStringLiteral("\nPress [Y]es to terminate,[N]o to continue and [C]ancel to Debug");
const QString classId = QStringLiteral("{BF924D2E-5B18-4FB5-9F00-A6804802EF9E}");

QString sourceFile(const QString &rel) {
    return qEnvironmentVariable("KP_SOURCE_DIR") + QLatin1Char('/') + rel;
}

// The line of an entry in the table, found in the file itself.
int tableLine(const QString &needle) {
    QFile f(sourceFile(QStringLiteral("server/Kelvon_tlb.inc")));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    int line = 0;
    while (!f.atEnd()) {
        ++line;
        if (f.readLine().startsWith(needle.toUtf8())) return line;
    }
    return -1;
}

// Ends whatever server owns the name (one started by a client is nobody's child).
void stopAnyServer() {
    const QString owner = busNameOwner(serviceName);
    if (!owner.isEmpty()) {
        const qint64 pid = busNamePid(owner);
        if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    QVERIFY(kp::test::waitForServerName(false));
}

QString importInto(const QString &dataDir) {
    const auto f =
        kp::test::runMonitor({QStringLiteral("--data"), dataDir, QStringLiteral("import-fleet"),
                              sourceFile(QStringLiteral("tests/data/monitor/fleet.csv"))});
    const auto r =
        kp::test::runMonitor({QStringLiteral("--data"), dataDir, QStringLiteral("import-records"),
                              sourceFile(QStringLiteral("tests/data/monitor/records.csv"))});
    if (f.exitCode != 0) return QString::fromUtf8(f.err);
    if (r.exitCode != 0) return QString::fromUtf8(r.err);
    return {};
}

// Waits for the server's computation through the client, as the calculation does.
bool waitComputed(TKelvonAutomation &a, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (a.get_ComputingBusy() != 0) {
        if (t.elapsed() > timeoutMs) return false;
        QThread::msleep(10);
        a.get_ComputingPercents();
    }
    return true;
}

// A link that reaches no server: counts lookups and answers every read with 7.
class FakeObject : public kp::server::IKelvonAutomation,
                   public std::enable_shared_from_this<FakeObject> {
public:
    explicit FakeObject(HResult qi) : qi_(qi) {}
    HResult QueryInterface(const QUuid &, std::shared_ptr<kp::server::IUnknown> &out) override {
        if (failed(qi_)) {
            out.reset();
            return qi_;
        }
        out = shared_from_this();
        return S_OK;
    }
    kp::server::CallResult invoke(Entry, const QVariantList &) override {
        return {S_OK, QVariant::fromValue<qint32>(7)};
    }
    QList<kp::server::CallResult> invokePipelined(const QList<kp::server::Call> &calls) override {
        QList<kp::server::CallResult> out;
        for (const auto &c : calls)
            out.append(invoke(c.entry, c.args));
        return out;
    }
    void advise(kp::server::EventSink, std::function<void()>) override {}
    void unadvise() override {}
    bool gone() const override { return false; }
    QString address() const override { return QStringLiteral("fake"); }

private:
    HResult qi_;
};

class FakeLink : public kp::server::Link {
public:
    explicit FakeLink(HResult qi = S_OK) : qi_(qi) {}
    std::shared_ptr<kp::server::IUnknown> GetServer(const QUuid &) override {
        ++lookups;
        return std::make_shared<FakeObject>(qi_);
    }
    int lookups = 0;

private:
    HResult qi_;
};

} // namespace

class TestServerClient : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constructionContactsNothing();
    void oneLookupPerClient();
    void interfaceRefused();
    void firstOperationStartsServerAndClientsShareIt();
    void attachesToRunningServer();
    void startsThroughBusActivation();
    void cannotStartServer_data();
    void cannotStartServer();
    void enumeratesDemoFleet();
    void reportForms_data();
    void reportForms();
    void pipelinedFailuresInReadOrder();
    void failedWritesAndMethodsShowNothing();
    void eventsReachHandlers();
    void eventsWithoutHandlersAreDropped();
    void serverKilledMidEnumeration();
    void serverExitsWithoutAnswering();
    void serverGoneNoticedFromBus();
    void workerClientBoxShownByMainThread();
    void workerClientCancelledWhileBoxShown();
    void importedFleetEnumeratedAndExported();
    void exportReadBackThroughDatabaseLayer();
    void exportVariants();
    void computingNeverFinishes();
    void computingPercentsRise();
    void clientOwnedByApplication();

private:
    QTemporaryDir home_;
};

void TestServerClient::initTestCase() {
    QVERIFY(home_.isValid());
    // Servers started by the client inherit this: an empty data folder gives the demo fleet.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath(QStringLiteral("share"))));
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY(QFileInfo(kp::test::monitorExecutable()).isExecutable());
}

void TestServerClient::init() {
    kp::setAppDirForTests(qEnvironmentVariable("KP_BIN_DIR"));
    stopAnyServer();
}

void TestServerClient::cleanup() {
    // The application's own client meets its server still running when the application ends.
    if (qstrcmp(QTest::currentTestFunction(), "clientOwnedByApplication") != 0) stopAnyServer();
}

void TestServerClient::constructionContactsNothing() {
    TKelvonAutomation a;
    QCOMPARE(TKelvonAutomation::serverData().ClassID, kp::kelvon::CLSID_KelvonAutomation);
    QCOMPARE(TKelvonAutomation::serverData().IntfIID, kp::kelvon::IID_IKelvonAutomation);
    QCOMPARE(TKelvonAutomation::serverData().EventIID, kp::kelvon::DIID_IKelvonAutomationEvents);
    QVERIFY(TKelvonAutomation::serverData().InstanceCount >= 1);
    QTest::qWait(300);
    QVERIFY(busNameOwner(serviceName).isEmpty());
    QVERIFY(!a.isConnected());
    QVERIFY(!a.GetDunk());
}

void TestServerClient::oneLookupPerClient() {
    auto link = std::make_shared<FakeLink>();
    TKelvonAutomation a(nullptr, link);
    QCOMPARE(link->lookups, 0);
    QCOMPARE(a.get_GroupsNum(), 7);
    QCOMPARE(a.get_CarDevice(), 7);
    QCOMPARE(a.set_CarIndex(1), S_OK);
    QCOMPARE(link->lookups, 1);
    a.reconnect(); // a new sequence looks the server up again
    QCOMPARE(link->lookups, 1);
    QCOMPARE(a.get_GroupsNum(), 7);
    QCOMPARE(link->lookups, 2);
}

void TestServerClient::interfaceRefused() {
    const QString report = QStringLiteral("'src->QueryInterface(GetIID(), (LPVOID*)(&intf))': "
                                          "Интерфейс не поддерживается @ Kelvon_ocx.cpp/");
    {
        // No: the client holds no interface, and the operation fails instead of calling
        // through nothing.
        TKelvonAutomation a(nullptr, std::make_shared<FakeLink>(E_NOINTERFACE));
        ModalAnswerer answerer(QMessageBox::No);
        try {
            a.get_GroupsNum();
            QFAIL("read through a refused interface");
        } catch (const kp::EOleSysError &e) {
            QCOMPARE(e.errorCode(), E_NOINTERFACE);
            QCOMPARE(e.message(),
                     QStringLiteral("Интерфейс не поддерживается, ClassID: ") + classId);
        }
        QCOMPARE(answerer.count(), 1);
        QVERIFY(answerer.seen().first().text.startsWith(report));
        QVERIFY(!a.isConnected());
        QVERIFY(!a.GetDunk());
    }
    {
        TKelvonAutomation a(nullptr, std::make_shared<FakeLink>(E_NOINTERFACE));
        ModalAnswerer answerer(QMessageBox::Yes);
        try {
            a.set_GroupIndex(1);
            QFAIL("Yes did not raise");
        } catch (const kp::EOleException &e) {
            QCOMPARE(e.errorCode(), E_NOINTERFACE);
            QVERIFY(e.message().startsWith(report));
            QCOMPARE(e.source(), QStringLiteral("Kelvon_ocx.cpp"));
        }
    }
}

void TestServerClient::firstOperationStartsServerAndClientsShareIt() {
    TKelvonAutomation a;
    QCOMPARE(a.get_GroupsNum(), 3);
    const QString owner = busNameOwner(serviceName);
    QVERIFY(!owner.isEmpty());
    QVERIFY(a.isConnected());
    QCOMPARE(a.GetDefaultInterface()->address(), owner);

    // A second client attaches to the same object and sees the same current group.
    TKelvonAutomation b;
    QCOMPARE(a.set_GroupIndex(2), S_OK);
    QCOMPARE(b.get_GroupName(), kp::monitor::demo::fleet()[1].name);
    QCOMPARE(b.GetDefaultInterface()->address(), owner);
}

void TestServerClient::attachesToRunningServer() {
    MonitorProcess server;
    QVERIFY(server.start());
    TKelvonAutomation a;
    QCOMPARE(a.get_GroupsNum(), 3);
    QCOMPARE(a.GetDefaultInterface()->address(), server.uniqueName());
}

void TestServerClient::startsThroughBusActivation() {
    const QString serviceDir = qEnvironmentVariable("KP_TEST_SERVICE_DIR");
    QVERIFY(!serviceDir.isEmpty());
    QTemporaryDir data, emptyApp;
    QCOMPARE(importInto(data.path()), QString());
    // The bus starts the server with an imported fleet: two groups instead of the demo's three.
    const QString file = serviceDir + QStringLiteral("/org.kelvon.Monitoring.service");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[D-BUS Service]\nName=org.kelvon.Monitoring\nExec=" +
                QFile::encodeName(kp::test::monitorExecutable()) + " --data " +
                QFile::encodeName(data.path()) + "\n");
    }
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
    kp::setAppDirForTests(emptyApp.path()); // nothing to start from our own folder
    {
        TKelvonAutomation a;
        QCOMPARE(a.get_GroupsNum(), 2);
    }
    QFile::remove(file);
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
}

void TestServerClient::cannotStartServer_data() {
    QTest::addColumn<QByteArray>("program"); // contents of kelvon-monitor in our folder
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QByteArray() << false << int(REGDB_E_CLASSNOTREG)
                             << QStringLiteral("Класс не зарегистрирован, ClassID: ") + classId;
    QTest::newRow("not executable")
        << QByteArray("#!/bin/sh\n") << false << int(REGDB_E_CLASSNOTREG)
        << QStringLiteral("Класс не зарегистрирован, ClassID: ") + classId;
    QTest::newRow("exits at once")
        << QByteArray("#!/bin/sh\nexit 1\n") << true << int(CO_E_SERVER_EXEC_FAILURE)
        << QStringLiteral("Ошибка при выполнении сервера, ClassID: ") + classId;
}

void TestServerClient::cannotStartServer() {
    QFETCH(QByteArray, program);
    QFETCH(bool, executable);
    QFETCH(int, code);
    QFETCH(QString, message);
    QTemporaryDir app;
    if (!program.isEmpty()) {
        QFile f(app.filePath(QStringLiteral("kelvon-monitor")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(program);
        f.close();
        if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
    }
    kp::setAppDirForTests(app.path());
    ModalAnswerer answerer(QMessageBox::No);
    TKelvonAutomation a;
    try {
        a.get_GroupsNum();
        QFAIL("the read went through without a server");
    } catch (const kp::EOleSysError &e) {
        QCOMPARE(e.errorCode(), code);
        QCOMPARE(e.message(), message);
    }
    QVERIFY(!a.isConnected());
    QCOMPARE(answerer.count(), 0); // connection failures are not the reporter's business

    // The client stays unconnected and tries again at its next operation.
    kp::setAppDirForTests(qEnvironmentVariable("KP_BIN_DIR"));
    QCOMPARE(a.get_GroupsNum(), 3);
}

void TestServerClient::enumeratesDemoFleet() {
    const kp::monitor::Fleet fleet = kp::monitor::demo::fleet();
    TKelvonAutomation a;
    ModalAnswerer answerer(QMessageBox::No);
    QCOMPARE(a.get_GroupsNum(), int(fleet.size()));
    for (int g = 1; g <= a.get_GroupsNum(); ++g) {
        const kp::monitor::Group &group = fleet[g - 1];
        // One group by single calls, the next through the pipelined reads.
        const bool pipelined = g % 2 == 0;
        int cars = 0;
        if (pipelined) {
            cars = a.ReadGroupCarsNum(g);
        } else {
            QCOMPARE(a.set_GroupIndex(g), S_OK);
            cars = a.get_GroupCarsNum();
        }
        QCOMPARE(cars, int(group.vehicles.size()));
        for (int c = 1; c <= cars; ++c) {
            TCarReads r;
            if (pipelined) {
                r = a.ReadCar(c);
            } else {
                QCOMPARE(a.set_CarIndex(c), S_OK);
                r.CarDevice = a.get_CarDevice();
                r.CarModel = a.get_CarModel();
                r.CarNumber = a.get_CarNumber();
                r.CarRoute = a.get_CarRoute();
                r.CarDrivers = a.get_CarDrivers();
                r.CarAlias = a.get_CarAlias();
                r.CarTelNum = a.get_CarTelNum();
                r.CarCheckPointsFile = a.get_CarCheckPointsFile();
                r.GroupName = a.get_GroupName();
                r.GroupAddress = a.get_GroupAddress();
                r.GroupContacts = a.get_GroupContacts();
                r.GroupFileName = a.get_GroupFileName();
            }
            const kp::monitor::Vehicle &v = group.vehicles[c - 1];
            QCOMPARE(r.CarDevice, v.device);
            QCOMPARE(r.CarModel, v.model);
            QCOMPARE(r.CarNumber, v.number);
            QCOMPARE(r.CarRoute, v.route);
            QCOMPARE(r.CarDrivers, v.drivers);
            QCOMPARE(r.CarAlias, v.alias);
            QCOMPARE(r.CarTelNum, v.telNum);
            QCOMPARE(r.CarCheckPointsFile, v.checkPointsFile);
            QCOMPARE(r.GroupName, group.name);
            QCOMPARE(r.GroupAddress, group.address);
            QCOMPARE(r.GroupContacts, group.contacts);
            QCOMPARE(r.GroupFileName, group.fileName);
        }
    }
    QCOMPARE(answerer.count(), 0);
}

void TestServerClient::reportForms_data() {
    QTest::addColumn<QString>("failure"); // the server's --fail-read
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("report");
    const QString modelCall = QStringLiteral("GetDefaultInterface()->get_CarModel((BSTR*)&Value)");
    const QString deviceCall =
        QStringLiteral("GetDefaultInterface()->get_CarDevice((long*)&Value)");
    const int modelLine = tableLine(QStringLiteral("KP_READ(CarModel,"));
    const int deviceLine = tableLine(QStringLiteral("KP_READ(CarDevice,"));
    QVERIFY(modelLine > 0 && deviceLine > 0);
    QTest::newRow("system text") << QStringLiteral("get_CarModel=80004005")
                                 << int(Entry::get_CarModel)
                                 << QStringLiteral("'%1': Неопознанная ошибка @ Kelvon_tlb.inc/%2")
                                        .arg(modelCall)
                                        .arg(modelLine);
    QTest::newRow("no system text")
        << QStringLiteral("get_CarDevice=80040299") << int(Entry::get_CarDevice)
        << QStringLiteral("(%1) Error: 80040299 (-2147220839) @ "
                          "Kelvon_tlb.inc/%2")
               .arg(deviceCall)
               .arg(deviceLine);
}

void TestServerClient::reportForms() {
    QFETCH(QString, failure);
    QFETCH(int, entry);
    QFETCH(QString, report);
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--fail-read"), failure}));
    const HResult code =
        static_cast<HResult>(failure.section(QLatin1Char('='), 1).toUInt(nullptr, 16));
    auto read = [&](TKelvonAutomation &a) -> QVariant {
        if (Entry(entry) == Entry::get_CarModel) return a.get_CarModel();
        return a.get_CarDevice();
    };

    // No: the read yields an empty value and the caller goes on.
    {
        TKelvonAutomation a;
        a.set_GroupIndex(1);
        a.set_CarIndex(1);
        ModalAnswerer answerer(QMessageBox::No);
        const QVariant v = read(a);
        QCOMPARE(answerer.count(), 1);
        const kp::test::SeenBox &box = answerer.seen().first();
        QCOMPARE(box.title, QStringLiteral("HRCHECK: "));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons.size(), 3);
        QCOMPARE(box.text, report + prompt);
        if (v.typeId() == QMetaType::QString)
            QCOMPARE(v.toString(), QString());
        else
            QCOMPARE(v.toInt(), 0);
        QCOMPARE(a.get_GroupName(), kp::monitor::demo::fleet()[0].name); // and goes on
    }
    // Yes: the caller receives the report as an EOleException.
    {
        TKelvonAutomation a;
        ModalAnswerer answerer(QMessageBox::Yes);
        try {
            read(a);
            QFAIL("Yes did not raise");
        } catch (const kp::EOleException &e) {
            QCOMPARE(e.errorCode(), code);
            QCOMPARE(e.message(), report);
            QCOMPARE(e.source(), QStringLiteral("Kelvon_tlb.inc"));
            QCOMPARE(e.helpFile(), QString());
            QCOMPARE(e.helpContext(), 0);
        }
        QCOMPARE(answerer.count(), 1);
    }
    // Cancel without a debugger acts as No.
    {
        TKelvonAutomation a;
        ModalAnswerer answerer(QMessageBox::Cancel);
        read(a);
        QCOMPARE(answerer.count(), 1);
    }
}

void TestServerClient::pipelinedFailuresInReadOrder() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--fail-read"), QStringLiteral("get_GroupName=80004001"),
                          QStringLiteral("--fail-read"), QStringLiteral("get_CarModel=80004005")}));
    const kp::monitor::Group group = kp::monitor::demo::fleet()[0];
    TKelvonAutomation a;
    QCOMPARE(a.ReadGroupCarsNum(1), int(group.vehicles.size()));
    {
        ModalAnswerer answerer(QMessageBox::No);
        const TCarReads r = a.ReadCar(2);
        QCOMPARE(answerer.count(), 2);
        QVERIFY(answerer.seen()[0].text.contains(QLatin1String("get_CarModel")));
        QVERIFY(answerer.seen()[1].text.contains(QLatin1String("get_GroupName")));
        QCOMPARE(r.CarDevice, group.vehicles[1].device);
        QCOMPARE(r.CarModel, QString());
        QCOMPARE(r.GroupName, QString());
        QCOMPARE(r.GroupFileName, group.fileName);
    }
    {
        ModalAnswerer answerer(QMessageBox::Yes);
        QVERIFY_THROWS_EXCEPTION(kp::EOleException, a.ReadCar(1));
        QCOMPARE(answerer.count(), 1); // the later failure is never reported
    }
}

void TestServerClient::failedWritesAndMethodsShowNothing() {
    TKelvonAutomation a;
    ModalAnswerer answerer(QMessageBox::Yes);
    QCOMPARE(a.set_GroupIndex(99), DISP_E_BADINDEX);
    QCOMPARE(a.StartComputing(QStringLiteral("nosuch.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("GSM"), 0),
             E_INVALIDARG);
    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 8:00"),
                              QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("GSM"), 0),
             E_INVALIDARG);
    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("GPRS"), 0),
             E_INVALIDARG);
    QCOMPARE(a.ExportListToFile(QDir::tempPath() + QStringLiteral("/kp-none.dbf"),
                                QStringLiteral("data_counters"), QStringLiteral("num12"), 1, 1),
             KELVON_E_NODATA);
    QCOMPARE(a.ShowApplication(), E_NOTIMPL);
    QCOMPARE(answerer.count(), 0);
}

void TestServerClient::eventsReachHandlers() {
    QTemporaryDir data;
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--data"), data.path()}));
    TKelvonAutomation a;
    int ends = 0, lists = 0, closes = 0;
    QObject *sender = nullptr;
    a.OnEndComputing = [&](QObject *s) {
        ++ends;
        sender = s;
    };
    a.OnChangeCarsLists = [&](QObject *) { ++lists; };
    // A handler may start a new sequence from inside the event.
    a.OnCloseServer = [&](QObject *) {
        ++closes;
        a.reconnect();
    };
    QCOMPARE(a.get_GroupsNum(), 3);

    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 09:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QTRY_COMPARE(ends, 1);
    QCOMPARE(sender, &a);

    // An import into the server's folder changes its fleet.
    QCOMPARE(importInto(data.path()), QString());
    QTRY_COMPARE(lists, 1);
    QCOMPARE(a.get_GroupsNum(), 2);

    server.terminate();
    QTRY_COMPARE(closes, 1);
    QVERIFY(server.waitForExit());
    QVERIFY(!a.isConnected());
    QCOMPARE(a.get_GroupsNum(), 3); // the next operation starts a server again
}

void TestServerClient::eventsWithoutHandlersAreDropped() {
    TKelvonAutomation a;
    int calls = 0;
    for (int id = 201; id <= 205; ++id)
        a.InvokeEvent(id, {QVariant(1)}); // no handlers: nothing
    a.OnEndComputing = [&](QObject *) { ++calls; };
    a.InvokeEvent(200, {});
    a.InvokeEvent(206, {});
    a.InvokeEvent(-1, {});
    QCOMPARE(calls, 0);
    a.InvokeEvent(205, {});
    QCOMPARE(calls, 1);

    // Real events with no handler set are received and dropped.
    TKelvonAutomation b;
    QCOMPARE(b.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 09:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QVERIFY(waitComputed(b));
    QTest::qWait(100);
    QCOMPARE(b.get_TripsNum(), 1);
}

void TestServerClient::serverKilledMidEnumeration() {
    QTemporaryDir data;
    QCOMPARE(importInto(data.path()), QString());
    MonitorProcess first;
    QVERIFY(first.start());
    TKelvonAutomation a;
    QCOMPARE(a.get_GroupsNum(), 3);
    QCOMPARE(a.ReadGroupCarsNum(1), 5);
    QCOMPARE(a.ReadCar(1).CarDevice, 517);

    // The server crashes; another one, with another fleet, takes the name at once.
    first.kill();
    MonitorProcess second;
    QVERIFY(second.start({QStringLiteral("--data"), data.path()}));
    {
        ModalAnswerer answerer(QMessageBox::No);
        const TCarReads r = a.ReadCar(2);
        QCOMPARE(answerer.count(), 12);
        for (const auto &box : answerer.seen())
            QVERIFY2(box.text.contains(QStringLiteral("Вызванный объект отключился")),
                     qPrintable(box.text));
        QCOMPARE(r.CarDevice, 0);
        QCOMPARE(r.GroupFileName, QString());
        QCOMPARE(a.set_CarIndex(3), RPC_E_DISCONNECTED);
        QCOMPARE(a.StartComputing(QStringLiteral("north.kgr"), 9001,
                                  QStringLiteral("19.05.2009 08:00:00"),
                                  QStringLiteral("19.05.2009 10:00:00"), QStringLiteral("GSM"), 0),
                 RPC_E_DISCONNECTED);
    }
    // Nothing of the old sequence reached the new server: it has no current group, and did not
    // start computing.
    {
        TKelvonAutomation probe;
        ModalAnswerer answerer(QMessageBox::No);
        QCOMPARE(probe.get_GroupCarsNum(), 0);
        QCOMPARE(answerer.count(), 1);
        QVERIFY(answerer.seen().first().text.contains(QLatin1String("80040201")));
        QCOMPARE(probe.get_ComputingBusy(), 0);
        QCOMPARE(probe.get_TripsNum(), 0);
    }
    // A new sequence connects afresh, to the new server.
    a.reconnect();
    QCOMPARE(a.get_GroupsNum(), 2);
    QCOMPARE(a.GetDefaultInterface()->address(), second.uniqueName());
    QCOMPARE(a.ReadGroupCarsNum(2), 2);
    QCOMPARE(a.ReadCar(1).CarDevice, -42);
}

void TestServerClient::serverExitsWithoutAnswering() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--exit-after"), QStringLiteral("5")}));
    TKelvonAutomation a;
    QCOMPARE(a.get_GroupsNum(), 3);
    QCOMPARE(a.ReadGroupCarsNum(1), 5); // calls 2 and 3
    ModalAnswerer answerer(QMessageBox::No);
    const TCarReads r = a.ReadCar(1); // call 4 answered, 5 answered, the 6th is never answered
    QCOMPARE(r.CarDevice, 517);
    QCOMPARE(answerer.count(), 11);
    for (const auto &box : answerer.seen())
        QVERIFY2(box.text.contains(QStringLiteral("отключился")), qPrintable(box.text));
    QVERIFY(a.serverWentAway());
    QVERIFY(server.waitForExit());
    // Nothing restarts a server behind the caller's back.
    QCOMPARE(a.get_GroupsNum(), 0);
    QVERIFY(busNameOwner(serviceName).isEmpty());
}

void TestServerClient::serverGoneNoticedFromBus() {
    MonitorProcess server;
    QVERIFY(server.start());
    TKelvonAutomation a;
    QCOMPARE(a.get_GroupsNum(), 3);
    server.kill();
    QTRY_VERIFY(a.serverWentAway());
    QTRY_VERIFY(!a.isConnected()); // the interface is dropped
    QCOMPARE(a.set_GroupIndex(1), RPC_E_DISCONNECTED);
    QTest::qWait(200);
    QVERIFY(busNameOwner(serviceName).isEmpty());
    a.reconnect();
    QCOMPARE(a.get_GroupsNum(), 3); // started anew
}

namespace {
// The HRCHECK box shown for a client on another thread: not modal, so ModalAnswerer does not
// see it.
QMessageBox *openHrCheckBox() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (box && box->isVisible() && box->windowTitle() == QLatin1String("HRCHECK: ")) return box;
    }
    return nullptr;
}
} // namespace

void TestServerClient::workerClientBoxShownByMainThread() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--fail-read"), QStringLiteral("get_TripsNum=80004005")}));
    std::optional<int> trips;
    int groups = 0;
    QThread *worker = QThread::create([&] {
        TKelvonAutomation a; // the run's own client, on its own thread
        groups = a.get_GroupsNum();
        trips = a.get_TripsNum();
    });
    worker->start();
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = openHrCheckBox()) != nullptr);
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(box->text().startsWith(
        QLatin1String("'GetDefaultInterface()->get_TripsNum((long*)&Value)'")));
    QVERIFY(!trips.has_value()); // the worker waits for the answer
    box->button(QMessageBox::No)->click();
    QVERIFY(worker->wait(10000));
    delete worker;
    QCOMPARE(groups, 3);
    QCOMPARE(trips.value_or(-1), 0);
}

void TestServerClient::workerClientCancelledWhileBoxShown() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--fail-read"), QStringLiteral("get_TripsNum=80004005")}));
    std::optional<int> trips;
    QThread *worker = QThread::create([&] {
        TKelvonAutomation a;
        trips = a.get_TripsNum();
    });
    worker->start();
    QTRY_VERIFY(openHrCheckBox() != nullptr);
    worker->requestInterruption();
    QTRY_VERIFY(worker->isFinished());
    delete worker;
    QCOMPARE(trips.value_or(-1), 0); // the waiting read went on as after No
    QTRY_VERIFY(openHrCheckBox() == nullptr);
}

void TestServerClient::importedFleetEnumeratedAndExported() {
    QTemporaryDir data, out;
    QCOMPARE(importInto(data.path()), QString());
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--data"), data.path()}));
    TKelvonAutomation a;
    ModalAnswerer answerer(QMessageBox::No);
    QCOMPARE(a.get_GroupsNum(), 2);
    QCOMPARE(a.ReadGroupCarsNum(1), 2);
    TCarReads r = a.ReadCar(1);
    QCOMPARE(r.CarDevice, 9001);
    QCOMPARE(r.CarNumber, QStringLiteral("АА 001 63"));
    QCOMPARE(r.CarDrivers, QStringLiteral("Сидоров С. С.; \"Старший\" Орлов"));
    QCOMPARE(r.GroupAddress, QStringLiteral("г. Тольятти, ул. Северная, 3"));
    QCOMPARE(r.GroupFileName, QStringLiteral("north.kgr"));
    QCOMPARE(a.ReadGroupCarsNum(2), 2);
    r = a.ReadCar(1);
    QCOMPARE(r.CarDevice, -42);
    QCOMPARE(r.CarModel, QString());
    QCOMPARE(r.GroupAddress, QStringLiteral("г. Тольятти,\nЮжное шоссе, 8"));
    QCOMPARE(a.ReadCar(2).CarDevice, 123456);
    QCOMPARE(answerer.count(), 0);

    // The per-vehicle retrieval as the calculation makes it.
    const QString path = out.filePath(QStringLiteral("temp.dbf"));
    QCOMPARE(a.SetGroupIndexByFileName(QStringLiteral("north.kgr")), S_OK);
    QCOMPARE(a.StartComputing(QStringLiteral("north.kgr"), 9001,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 10:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QVERIFY(waitComputed(a));
    QCOMPARE(a.get_ComputingPercents(), 100);
    QCOMPARE(a.get_TripsNum(), 1);
    QCOMPARE(a.set_TripIndex(1), S_OK);
    QCOMPARE(
        a.ExportListToFile(path, QStringLiteral("data_counters"), QStringLiteral("num12"), 1, 1),
        S_OK);
    const auto table = kp::localsql::DbfTable::read(path);
    QCOMPARE(table.recordCount(), 5);
    const char *times[] = {"19.05.2009 08:00:17", "19.05.2009 08:20:43", "19.05.2009 08:47:05",
                           "19.05.2009 09:05:31", "19.05.2009 09:40:59"};
    const int c1[] = {10, 30, 52, 8, 40};
    const int c2[] = {4, 12, 30, 2, 26};
    QCOMPARE(table.fieldIndex(QStringLiteral("TDATETIME")), 0);
    for (int i = 0; i < 5; ++i) {
        // The day number comes back exactly.
        QCOMPARE(table.value(i, 0).toDouble(),
                 *kp::monitor::parseServerTime(QString::fromLatin1(times[i])));
        QCOMPARE(table.value(i, table.fieldIndex(QStringLiteral("COUNTER1"))).toLongLong(), c1[i]);
        QCOMPARE(table.value(i, table.fieldIndex(QStringLiteral("COUNTER2"))).toLongLong(), c2[i]);
    }

    // Over USB the same vehicle has one record; device 123456 counts on inputs 3 and 4.
    QCOMPARE(a.StartComputing(QStringLiteral("south.kgr"), 123456,
                              QStringLiteral("19.05.2009 00:00:00"),
                              QStringLiteral("20.05.2009 23:59:59"), QStringLiteral("GSM"), 0),
             S_OK);
    QVERIFY(waitComputed(a));
    QCOMPARE(
        a.ExportListToFile(path, QStringLiteral("data_counters"), QStringLiteral("num34"), 1, 1),
        S_OK);
    const auto t34 = kp::localsql::DbfTable::read(path);
    QCOMPARE(t34.recordCount(), 3);
    QCOMPARE(t34.value(1, t34.fieldIndex(QStringLiteral("COUNTER3"))).toLongLong(), 36);
    QCOMPARE(t34.fieldIndex(QStringLiteral("COUNTER1")), -1);

    // A period without records: no trip, and the export refuses and writes nothing.
    QFile::remove(path);
    QCOMPARE(a.StartComputing(QStringLiteral("north.kgr"), 9002,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 10:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QVERIFY(waitComputed(a));
    QCOMPARE(a.get_TripsNum(), 0);
    QCOMPARE(
        a.ExportListToFile(path, QStringLiteral("data_counters"), QStringLiteral("num12"), 1, 1),
        KELVON_E_NODATA);
    QVERIFY(!QFile::exists(path));
}

void TestServerClient::exportReadBackThroughDatabaseLayer() {
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("temp.dbf"));
    TKelvonAutomation a;
    QCOMPARE(a.SetGroupIndexByFileName(QStringLiteral("avtokolonna1.kgr")), S_OK);
    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 00:00:00"),
                              QStringLiteral("19.05.2009 23:59:59"), QStringLiteral("GSM"), 0),
             S_OK);
    QVERIFY(waitComputed(a));
    QCOMPARE(
        a.ExportListToFile(path, QStringLiteral("data_counters"), QStringLiteral("num12"), 1, 1),
        S_OK);

    // The highest counter of each hour, as the interval counting asks for it.
    const double day = *kp::monitor::parseServerTime(QStringLiteral("19.05.2009 00:00:00"));
    const QList<kp::monitor::Record> records =
        kp::monitor::demo::records(517, QStringLiteral("GSM"), day, day + 1);
    int hoursWithData = 0;
    for (int h = 0; h < 24; ++h) {
        const double lo = (std::floor(day * 24) + h) / 24, hi = lo + 1.0 / 24;
        std::optional<qint64> expected;
        for (const auto &r : records) {
            if (r.stamp > lo && r.stamp < hi)
                expected = std::max<qint64>(expected.value_or(r.counters[0]), r.counters[0]);
        }
        kp::localsql::Query q(
            QStringLiteral("SELECT MAX(COUNTER1) as ValueC FROM '%1' WHERE "
                           "(TDATETIME > '%2') AND (TDATETIME < '%3')")
                .arg(path, QString::number(lo, 'g', 15), QString::number(hi, 'g', 15)));
        q.open();
        const QVariant v = q.fieldByName(QStringLiteral("ValueC"));
        if (!expected) {
            QVERIFY(v.isNull());
            continue;
        }
        ++hoursWithData;
        QCOMPARE(v.typeId(), QMetaType::Int);
        QCOMPARE(v.toLongLong(), *expected);
    }
    QCOMPARE(hoursWithData, 24); // the unit reports in all day long
}

void TestServerClient::exportVariants() {
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("temp.dbf"));
    auto exportWith = [&](const QStringList &options) -> HResult {
        stopAnyServer();
        MonitorProcess server;
        if (!server.start(options)) return E_UNEXPECTED;
        TKelvonAutomation a;
        a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 1031,
                         QStringLiteral("19.05.2009 08:00:00"),
                         QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("USB"), 0);
        if (!waitComputed(a)) return E_UNEXPECTED;
        QFile::remove(path);
        return a.ExportListToFile(path, QStringLiteral("data_counters"), QStringLiteral("num34"), 1,
                                  1);
    };
    auto maxOf = [&](const QString &column) {
        kp::localsql::Query q(
            QStringLiteral("SELECT MAX(%1) as ValueC FROM '%2'").arg(column, path));
        q.open();
        return q.fieldByName(QStringLiteral("ValueC"));
    };

    // Counters as real numbers: the database layer hands out doubles.
    QCOMPARE(exportWith({QStringLiteral("--real-counters")}), S_OK);
    QCOMPARE(maxOf(QStringLiteral("COUNTER3")).typeId(), QMetaType::Double);
    QVERIFY(maxOf(QStringLiteral("COUNTER3")).toDouble() > 0);

    // A truncated table is refused by the database layer rather than read short.
    QCOMPARE(exportWith({QStringLiteral("--truncated-export")}), S_OK);
    QVERIFY_THROWS_EXCEPTION(kp::EDatabaseError, maxOf(QStringLiteral("COUNTER3")));

    // Bad arguments and unwritable places: an error code and no file.
    stopAnyServer();
    TKelvonAutomation a;
    a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 1031,
                     QStringLiteral("19.05.2009 08:00:00"), QStringLiteral("19.05.2009 20:00:00"),
                     QStringLiteral("GSM"), 0);
    QVERIFY(waitComputed(a));
    QFile::remove(path);
    const QString list = QStringLiteral("data_counters");
    QCOMPARE(a.ExportListToFile(path, QStringLiteral("data_track"), QStringLiteral("num12"), 1, 1),
             KELVON_E_UNKNOWNLIST);
    QCOMPARE(a.ExportListToFile(path, list, QStringLiteral("num56"), 1, 1), KELVON_E_UNKNOWNLIST);
    QCOMPARE(a.ExportListToFile(path, list, QStringLiteral("num12"), 2, 1), E_INVALIDARG);
    QCOMPARE(a.ExportListToFile(path, list, QStringLiteral("num12"), 1, 0), E_INVALIDARG);
    QCOMPARE(a.ExportListToFile(QStringLiteral("temp.dbf"), list, QStringLiteral("num12"), 1, 1),
             E_INVALIDARG);
    QVERIFY(!QFile::exists(path));
    const QString missingDir = out.filePath(QStringLiteral("no/such/dir/temp.dbf"));
    QCOMPARE(a.ExportListToFile(missingDir, list, QStringLiteral("num12"), 1, 1), E_ACCESSDENIED);
    QVERIFY(!QFile::exists(missingDir));
    QDir(out.path()).mkdir(QStringLiteral("ro"));
    QFile::setPermissions(out.filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::ExeOwner);
    if (::geteuid() != 0) { // root writes anywhere
        QCOMPARE(a.ExportListToFile(out.filePath(QStringLiteral("ro/temp.dbf")), list,
                                    QStringLiteral("num12"), 1, 1),
                 E_ACCESSDENIED);
    }
    QVERIFY(QDir(out.filePath(QStringLiteral("ro"))).isEmpty());
}

void TestServerClient::computingNeverFinishes() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--never-finish")}));
    TKelvonAutomation a;
    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QTest::qWait(500);
    QCOMPARE(a.get_ComputingBusy(), 1);
    QVERIFY(a.get_ComputingPercents() < 100);
    QCOMPARE(a.get_TripsNum(), 0);
    QCOMPARE(a.ExportListToFile(QDir::tempPath() + QStringLiteral("/kp-never.dbf"),
                                QStringLiteral("data_counters"), QStringLiteral("num12"), 1, 1),
             KELVON_E_BUSY);
}

void TestServerClient::computingPercentsRise() {
    MonitorProcess server;
    QVERIFY(server.start({QStringLiteral("--slow-computing"), QStringLiteral("800")}));
    TKelvonAutomation a;
    QCOMPARE(a.StartComputing(QStringLiteral("avtokolonna1.kgr"), 517,
                              QStringLiteral("19.05.2009 08:00:00"),
                              QStringLiteral("19.05.2009 20:00:00"), QStringLiteral("GSM"), 0),
             S_OK);
    QList<int> seen;
    QVERIFY(a.get_ComputingBusy() != 0); // busy as soon as the start returns
    while (a.get_ComputingBusy() != 0) {
        seen.append(a.get_ComputingPercents());
        QThread::msleep(10);
    }
    QCOMPARE(a.get_ComputingPercents(), 100);
    QVERIFY(seen.size() > 10);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QVERIFY(std::any_of(seen.begin(), seen.end(), [](int p) { return p > 0 && p < 100; }));
    QCOMPARE(a.get_TripsNum(), 1);
}

void TestServerClient::clientOwnedByApplication() {
    // The window's client: owned by the application object and released after the last test,
    // when the application object goes, still connected to its server.
    auto *a = new TKelvonAutomation(QCoreApplication::instance());
    QCOMPARE(a->get_GroupsNum(), 3);
    QVERIFY(a->isConnected());
}

QTEST_MAIN(TestServerClient)
#include "TestServerClient.moc"
