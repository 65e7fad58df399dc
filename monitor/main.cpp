// kelvon-monitor: the monitoring server on the session bus, and its import commands.
#include "monitor/Csv.h"
#include "monitor/DemoFleet.h"
#include "monitor/MonitorServer.h"
#include "monitor/Store.h"

#include "server/HResult.h"
#include "server/Kelvon_tlb.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace kp::monitor;

namespace {

const char *const helpText =
    "Usage: kelvon-monitor [options]                 serve on the session bus\n"
    "       kelvon-monitor [--data DIR] import-fleet FILE.csv\n"
    "       kelvon-monitor [--data DIR] import-records FILE.csv\n"
    "       kelvon-monitor --demo-wiring\n"
    "\n"
    "The monitoring server offers org.kelvon.IKelvonAutomation on /org/kelvon/KelvonAutomation\n"
    "under the name org.kelvon.Monitoring. Its fleet and counter records come from the database\n"
    "of its data folder; without one it offers the built-in demo fleet.\n"
    "\n"
    "Options:\n"
    "  --data DIR           data folder (default $XDG_DATA_HOME/kelvon-monitor)\n"
    "  --demo-wiring        print Cars.ini for the demo fleet (which input counts what)\n"
    "  --help               this text\n"
    "  --version            the version\n"
    "\n"
    "Testing aids:\n"
    "  --fail-read ENTRY=HRESULT  every call of ENTRY (get_CarModel, ...) fails with HRESULT\n"
    "                             (hexadecimal, e.g. 80004005); may be given several times\n"
    "  --never-finish             computations never end: ComputingBusy stays non-zero\n"
    "  --exit-after N             answer N calls, then exit without a word at the next one\n"
    "  --truncated-export         exports are cut to half their length after writing\n"
    "  --real-counters            export the counters as real numbers (with decimals)\n"
    "  --slow-computing MS        every computation takes at least MS milliseconds\n"
    "\n"
    "Import files are UTF-8 CSV with a header line (see monitor/README.md). A bad row is\n"
    "reported with its line number and nothing of that file is imported.\n";

int fail(const QString &message, int code = 1) {
    std::fprintf(stderr, "kelvon-monitor: %s\n", qPrintable(message));
    return code;
}

QString defaultDataDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/kelvon-monitor");
}

// A running server over the same data folder learns of the new fleet (and tells its clients).
void notifyRunningServer(const QString &dataDir) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    owner.setArguments({QLatin1String(kp::kelvon::ServiceName)});
    const QDBusMessage r = bus.call(owner, QDBus::Block, 2000);
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return;
    QDBusMessage reload = QDBusMessage::createMethodCall(
        r.arguments().first().toString(), QLatin1String(kp::kelvon::ObjectPath),
        QLatin1String(kp::kelvon::AdminInterfaceName), QStringLiteral("Reload"));
    reload.setAutoStartService(false);
    reload.setArguments({QDir(dataDir).absolutePath()});
    bus.call(reload, QDBus::Block, 5000);
}

int importFile(const QString &dataDir, const QString &command, const QString &file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(file, f.errorString()));
    const QByteArray data = f.readAll();
    try {
        if (command == QLatin1String("import-fleet")) {
            const Fleet fleet = parseFleetCsv(data, file);
            Store store(dataDir, true);
            store.replaceFleet(fleet);
            qsizetype vehicles = 0;
            for (const Group &g : fleet)
                vehicles += g.vehicles.size();
            std::printf("imported %lld groups and %lld vehicles into %s\n",
                        static_cast<long long>(fleet.size()), static_cast<long long>(vehicles),
                        qPrintable(Store::databasePath(dataDir)));
        } else {
            const QList<ImportedRecord> records = parseRecordsCsv(data, file);
            if (!Store::exists(dataDir))
                return fail(
                    QStringLiteral("%1 holds no fleet: import the fleet first").arg(dataDir));
            Store store(dataDir, false);
            store.addRecords(records, file);
            std::printf("imported %lld records into %s\n", static_cast<long long>(records.size()),
                        qPrintable(Store::databasePath(dataDir)));
        }
    } catch (const kp::Exception &e) {
        return fail(e.message());
    }
    notifyRunningServer(dataDir);
    return 0;
}

int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvon-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.2"));

    ServerOptions options;
    options.dataDir = defaultDataDir();
    QString command, commandFile;
    bool wiring = false;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString *out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(helpText, stdout);
            return 0;
        } else if (a == QLatin1String("--version")) {
            std::printf("kelvon-monitor 1.1.2\n");
            return 0;
        } else if (a == QLatin1String("--data")) {
            if (!value(&options.dataDir)) return fail(QStringLiteral("--data needs a folder"), 2);
        } else if (a == QLatin1String("--demo-wiring")) {
            wiring = true;
        } else if (a == QLatin1String("--fail-read")) {
            if (!value(&v)) return fail(QStringLiteral("--fail-read needs ENTRY=HRESULT"), 2);
            const qsizetype eq = v.indexOf(QLatin1Char('='));
            const auto entry = kp::kelvon::entryByName(QStringView(v).left(eq));
            bool ok = false;
            const quint32 code = eq > 0 ? QStringView(v).mid(eq + 1).toUInt(&ok, 16) : 0;
            if (!entry || !ok || !kp::hr::failed(static_cast<kp::HResult>(code)))
                return fail(QStringLiteral("--fail-read %1: expected ENTRY=HRESULT with a known "
                                           "entry and a failure code, e.g. get_CarModel=80004005")
                                .arg(v),
                            2);
            options.failEntries.insert(int(*entry), static_cast<kp::HResult>(code));
        } else if (a == QLatin1String("--never-finish")) {
            options.neverFinish = true;
        } else if (a == QLatin1String("--exit-after")) {
            bool ok = false;
            if (!value(&v) || (options.exitAfter = v.toLongLong(&ok), !ok) || options.exitAfter < 0)
                return fail(QStringLiteral("--exit-after needs a number of calls"), 2);
        } else if (a == QLatin1String("--truncated-export")) {
            options.truncatedExport = true;
        } else if (a == QLatin1String("--real-counters")) {
            options.realCounters = true;
        } else if (a == QLatin1String("--slow-computing")) {
            bool ok = false;
            if (!value(&v) || (options.slowComputingMs = v.toInt(&ok), !ok) ||
                options.slowComputingMs < 0)
                return fail(QStringLiteral("--slow-computing needs milliseconds"), 2);
        } else if ((a == QLatin1String("import-fleet") || a == QLatin1String("import-records")) &&
                   command.isEmpty()) {
            command = a;
            if (!value(&commandFile)) return fail(QStringLiteral("%1 needs a file").arg(a), 2);
        } else {
            return fail(QStringLiteral("unknown argument %1 (see --help)").arg(a), 2);
        }
    }

    if (wiring) {
        const QByteArray ini = demo::wiringIni();
        std::fwrite(ini.constData(), 1, static_cast<size_t>(ini.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!command.isEmpty()) return importFile(options.dataDir, command, commandFile);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));

    MonitorServer server(options, bus);
    try {
        server.loadFleet();
    } catch (const kp::Exception &e) {
        return fail(e.message());
    }
    // The object is in place before the name appears, so a client that waited for the name
    // finds it.
    if (!bus.registerVirtualObject(QLatin1String(kp::kelvon::ObjectPath), &server))
        return fail(
            QStringLiteral("cannot register %1").arg(QLatin1String(kp::kelvon::ObjectPath)));
    if (!bus.registerService(QLatin1String(kp::kelvon::ServiceName))) {
        return fail(QStringLiteral("another monitoring server already runs on this session bus "
                                   "(%1 is taken)")
                        .arg(QLatin1String(kp::kelvon::ServiceName)),
                    3);
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&] {
            char c;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
            server.announceClose();
            app.quit();
        });
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
    }
    QObject::connect(&server, &MonitorServer::busLost, &app, [&] { app.exit(0); });
    return app.exec();
}
