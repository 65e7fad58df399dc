#include "MonitorEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace kp::bench {

bool writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray fleetHeader() {
    return "group_file,group_name,group_address,group_contacts,device,model,number,route,"
           "drivers,alias,tel_num,check_points_file\n";
}

QByteArray fleetVehicle(int g, int c, int device, const QString &drivers) {
    return QStringLiteral("depot%1.kgr,Автоколонна № %1,\"г. Самара, ул. Заводская, %1\","
                          "+7 846 200-00-%1,%2,ЛиАЗ-5256,АВ %3 63,Маршрут %4,%5,Борт %2,"
                          "+7927%2,%2.kcp\n")
        .arg(g)
        .arg(device)
        .arg(c, 3, 10, QLatin1Char('0'))
        .arg(c % 50 + 1)
        .arg(drivers)
        .toUtf8();
}

MonitorEnvironment::MonitorEnvironment()
    : monitor_(QCoreApplication::applicationDirPath() + QStringLiteral("/kelvon-monitor")) {}

MonitorEnvironment::~MonitorEnvironment() {
    server_.kill();
    server_.waitForFinished();
    bus_.kill();
    bus_.waitForFinished();
}

QString MonitorEnvironment::path(const QString &name) const { return dir_.filePath(name); }

bool MonitorEnvironment::startBus() {
    const QString conf = path(QStringLiteral("bus.conf"));
    if (!writeFile(conf, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus "
                         "Configuration 1.0//EN\"\n"
                         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                         "<busconfig><type>session</type><listen>unix:tmpdir=" +
                             QFile::encodeName(dir_.path()) +
                             "</listen><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                             "</busconfig>\n"))
        return false;
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--config-file=") + conf, QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    if (!bus_.waitForReadyRead(10000)) return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.readLine().trimmed());
    return true;
}

bool MonitorEnvironment::import(const QString &what, const QByteArray &csv) {
    const QString file = path(what + QStringLiteral(".csv"));
    return writeFile(file, csv) &&
           QProcess::execute(monitor_, {QStringLiteral("--data"), path(QStringLiteral("data")),
                                        QStringLiteral("import-") + what, file}) == 0;
}

bool MonitorEnvironment::startServer() {
    server_.setProcessChannelMode(QProcess::ForwardedChannels);
    server_.start(monitor_, {QStringLiteral("--data"), path(QStringLiteral("data"))});
    if (!server_.waitForStarted()) return false;
    for (int i = 0; i < 1000; ++i) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        m.setArguments({QStringLiteral("org.kelvon.Monitoring")});
        const QDBusMessage r = QDBusConnection::sessionBus().call(m);
        if (!r.arguments().isEmpty() && r.arguments().first().toBool()) return true;
        QThread::msleep(10);
    }
    return false;
}

int runBenchmarks(int argc, char **argv, const char *name, const std::function<bool()> &setUp,
                  const std::function<void()> &tearDown) {
    if (!setUp()) {
        std::fprintf(stderr, "%s: could not start a bus and a server\n", name);
        tearDown();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tearDown();
    return 0;
}

} // namespace kp::bench
