// The fleet enumeration of the tree fill through the client, against a kelvon-monitor with an
// imported fleet of 1,000 vehicles (10 groups of 100): 13 calls a vehicle (CarIndex and twelve
// reads). The target is 2 s for the whole fleet; one call after another cannot get there, the
// pipelined reads of one vehicle can. The benchmark runs its own session bus.
#include "server/Kelvon_ocx.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kGroups = 10;
constexpr int kCarsPerGroup = 100;

struct Environment {
    QTemporaryDir dir;
    QProcess bus;
    QProcess server;
    bool ok = false;

    ~Environment() {
        server.kill();
        server.waitForFinished();
        bus.kill();
        bus.waitForFinished();
    }
};

std::unique_ptr<Environment> env;

bool setUp() {
    env = std::make_unique<Environment>();
    const QString monitor =
        QCoreApplication::applicationDirPath() + QStringLiteral("/kelvon-monitor");

    // A private bus.
    QFile conf(env->dir.filePath(QStringLiteral("bus.conf")));
    if (!conf.open(QIODevice::WriteOnly)) return false;
    conf.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=" +
        QFile::encodeName(env->dir.path()) +
        "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    conf.close();
    env->bus.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    if (!env->bus.waitForReadyRead(10000)) return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", env->bus.readLine().trimmed());

    // The fleet.
    const QString csv = env->dir.filePath(QStringLiteral("fleet.csv"));
    QFile f(csv);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write("group_file,group_name,group_address,group_contacts,device,model,number,route,drivers,"
            "alias,tel_num,check_points_file\n");
    for (int g = 1; g <= kGroups; ++g) {
        for (int c = 1; c <= kCarsPerGroup; ++c) {
            const int device = 100000 + g * 1000 + c;
            f.write(QStringLiteral("depot%1.kgr,Автоколонна № %1,\"г. Самара, ул. Заводская, %1\","
                                   "+7 846 200-00-%1,%2,ЛиАЗ-5256,АВ %3 63,Маршрут %4,"
                                   "Иванов И. И.; Петров П. П.,Борт %2,+7927%2,%2.kcp\n")
                        .arg(g)
                        .arg(device)
                        .arg(c, 3, 10, QLatin1Char('0'))
                        .arg(c % 50 + 1)
                        .toUtf8());
        }
    }
    f.close();
    const QString data = env->dir.filePath(QStringLiteral("data"));
    if (QProcess::execute(
            monitor, {QStringLiteral("--data"), data, QStringLiteral("import-fleet"), csv}) != 0)
        return false;

    env->server.setProcessChannelMode(QProcess::ForwardedChannels);
    env->server.start(monitor, {QStringLiteral("--data"), data});
    if (!env->server.waitForStarted()) return false;
    for (int i = 0; i < 1000; ++i) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        m.setArguments({QStringLiteral("org.kelvon.Monitoring")});
        const QDBusMessage r = QDBusConnection::sessionBus().call(m);
        if (!r.arguments().isEmpty() && r.arguments().first().toBool()) return env->ok = true;
        QThread::msleep(10);
    }
    return false;
}

void BM_OneCall(benchmark::State &state) {
    TKelvonAutomation a;
    a.get_GroupsNum();
    for (auto _ : state)
        benchmark::DoNotOptimize(a.get_GroupsNum());
}

void BM_FleetEnumerationPipelined(benchmark::State &state) {
    TKelvonAutomation a;
    int vehicles = 0;
    for (auto _ : state) {
        vehicles = 0;
        const int groups = a.get_GroupsNum();
        for (int g = 1; g <= groups; ++g) {
            const int cars = a.ReadGroupCarsNum(g);
            for (int c = 1; c <= cars; ++c) {
                const TCarReads r = a.ReadCar(c);
                benchmark::DoNotOptimize(r.CarDevice);
                ++vehicles;
            }
        }
    }
    state.counters["vehicles"] = vehicles;
    if (vehicles != kGroups * kCarsPerGroup) state.SkipWithError("the fleet is incomplete");
}

void BM_FleetEnumerationOneByOne(benchmark::State &state) {
    TKelvonAutomation a;
    int vehicles = 0;
    for (auto _ : state) {
        vehicles = 0;
        const int groups = a.get_GroupsNum();
        for (int g = 1; g <= groups; ++g) {
            a.set_GroupIndex(g);
            const int cars = a.get_GroupCarsNum();
            for (int c = 1; c <= cars; ++c) {
                a.set_CarIndex(c);
                benchmark::DoNotOptimize(a.get_CarDevice());
                a.get_CarModel();
                a.get_CarNumber();
                a.get_CarRoute();
                a.get_CarDrivers();
                a.get_CarAlias();
                a.get_CarTelNum();
                a.get_CarCheckPointsFile();
                a.get_GroupName();
                a.get_GroupAddress();
                a.get_GroupContacts();
                a.get_GroupFileName();
                ++vehicles;
            }
        }
    }
    state.counters["vehicles"] = vehicles;
}

} // namespace

BENCHMARK(BM_OneCall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FleetEnumerationPipelined)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FleetEnumerationOneByOne)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (!setUp()) {
        std::fprintf(stderr, "bench-fleet-enumeration: could not start a bus and a server\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    env.reset();
    return 0;
}
