// Runs kelvon-monitor for the tests: a server on the test's private session bus, or one command
// (an import, --demo-wiring) with its output.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kp::test {

// $KP_BIN_DIR/kelvon-monitor.
QString monitorExecutable();

// The unique name owning a bus name, empty when none; the process id behind a bus name.
QString busNameOwner(const QString &name);
qint64 busNamePid(const QString &name);
// Waits until the monitoring server's name has (or has no) owner; false on timeout.
bool waitForServerName(bool owned, int timeoutMs = 10000);

struct CommandResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
CommandResult runMonitor(const QStringList &args, int timeoutMs = 30000);

// A server started by the test; killed when the object goes.
class MonitorProcess {
public:
    MonitorProcess() = default;
    ~MonitorProcess();
    MonitorProcess(const MonitorProcess &) = delete;
    MonitorProcess &operator=(const MonitorProcess &) = delete;

    // Starts the server and waits until it owns org.kelvon.Monitoring.
    bool start(const QStringList &args = {});
    QString uniqueName() const { return unique_; }
    qint64 pid() const { return proc_.processId(); }
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    // SIGKILL: a crash; SIGTERM: an orderly end.
    void kill();
    void terminate();
    bool waitForExit(int timeoutMs = 10000);
    QProcess &process() { return proc_; }

private:
    QProcess proc_;
    QString unique_;
};

} // namespace kp::test
