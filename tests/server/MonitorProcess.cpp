#include "tests/server/MonitorProcess.h"

#include "server/Kelvon_tlb.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

namespace kp::test {

namespace {
QDBusMessage busCall(const QString &member, const QVariantList &args) {
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), member);
    m.setArguments(args);
    return QDBusConnection::sessionBus().call(m, QDBus::Block, 5000);
}
} // namespace

QString monitorExecutable() {
    return qEnvironmentVariable("KP_BIN_DIR") + QStringLiteral("/kelvon-monitor");
}

QString busNameOwner(const QString &name) {
    const QDBusMessage r = busCall(QStringLiteral("GetNameOwner"), {name});
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return {};
    return r.arguments().first().toString();
}

qint64 busNamePid(const QString &name) {
    const QDBusMessage r = busCall(QStringLiteral("GetConnectionUnixProcessID"), {name});
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return -1;
    return r.arguments().first().toLongLong();
}

bool waitForServerName(bool owned, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    const QString name = QLatin1String(kp::kelvon::ServiceName);
    while (!deadline.hasExpired()) {
        if (busNameOwner(name).isEmpty() != owned) return true;
        QThread::msleep(10);
    }
    return false;
}

CommandResult runMonitor(const QStringList &args, int timeoutMs) {
    QProcess p;
    p.start(monitorExecutable(), args);
    CommandResult r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

MonitorProcess::~MonitorProcess() {
    if (running()) {
        proc_.kill();
        proc_.waitForFinished(5000);
    }
}

bool MonitorProcess::start(const QStringList &args) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(monitorExecutable(), args);
    if (!proc_.waitForStarted(5000)) return false;
    QDeadlineTimer deadline(10000);
    const QString name = QLatin1String(kp::kelvon::ServiceName);
    while (!deadline.hasExpired() && running()) {
        const QString owner = busNameOwner(name);
        if (!owner.isEmpty() && busNamePid(owner) == proc_.processId()) {
            unique_ = owner;
            return true;
        }
        QThread::msleep(10);
    }
    return false;
}

void MonitorProcess::kill() {
    if (!running()) return;
    ::kill(static_cast<pid_t>(proc_.processId()), SIGKILL);
    proc_.waitForFinished(5000);
}

void MonitorProcess::terminate() {
    if (running()) ::kill(static_cast<pid_t>(proc_.processId()), SIGTERM);
}

bool MonitorProcess::waitForExit(int timeoutMs) {
    return !running() || proc_.waitForFinished(timeoutMs);
}

} // namespace kp::test
